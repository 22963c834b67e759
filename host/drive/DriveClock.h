// The host's time as the drive link sees it.
#pragma once

#include <chrono>

class DriveClock {
public:
    virtual ~DriveClock() = default;
    // Seconds since the clock started; called once per drive request.
    virtual double Now() = 0;
};

// Real time, for a person at the GUI.
class WallClock final : public DriveClock {
public:
    double Now() override
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Advances by a fixed step at every request: tests and automatic runs are
// deterministic and never wait.
class SteppedClock final : public DriveClock {
public:
    explicit SteppedClock(double step = 0.02) : m_step(step) {}
    double Now() override { return m_now += m_step; }
    double Peek() const { return m_now; }
    void SetStep(double step) { m_step = step; }
    double Step() const { return m_step; }

private:
    double m_step;
    double m_now = 0.0;
};
