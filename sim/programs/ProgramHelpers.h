// Small pieces the drive programs share.
#pragma once

#include "Firmware.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace program {

// The frame angle of the aligned position: the q axis on phase A, so a q
// voltage drives phase A positive and the rotor's flux settles on phase A
// (electrical angle 0). Pole pair moves end here; the host waits for "THTST"
// to come back to -16383 or -16382.
inline constexpr double kRestAngle = -16383.0;
// A quarter of an electrical revolution in angle units.
inline constexpr double kQuarterTurn = 16384.0;
inline constexpr double kTurn = 65536.0;
inline constexpr double kCommandLimit = 32767.0;

// Speed-loop periods in a time.
inline long Ticks(const Firmware& fw, double seconds)
{
    return std::max(1L, std::lround(seconds / fw.SlowPeriod()));
}

// A smooth move from 0 to 1 over n steps with zero speed at both ends:
// s(k) = k/n - sin(2 pi k/n) / (2 pi).
inline double SmoothStep(long k, long n)
{
    const double x = std::clamp(static_cast<double>(k) / static_cast<double>(n), 0.0, 1.0);
    return x - std::sin(2.0 * std::numbers::pi * x) / (2.0 * std::numbers::pi);
}

// A usable voltage input: positive, finite and not the no-result value.
inline bool IsVoltageInput(double value)
{
    return std::isfinite(value) && value > 0.0 && value < kCommandLimit * 2;
}

// A usable test current ("In1"): positive, finite and within the command range.
inline bool IsCurrentInput(double value)
{
    return std::isfinite(value) && value > 0.0 && value < kCommandLimit;
}

// The magnitude of the measured current vector.
inline double CurrentMagnitude(const Firmware& fw)
{
    return std::hypot(fw.CurrentQ(), fw.CurrentD());
}

// Counts the periods of one phase of a program.
class Phase {
public:
    void Enter(int phase)
    {
        m_phase = phase;
        m_ticks = 0;
    }
    int Current() const { return m_phase; }
    long Ticks() const { return m_ticks; }
    void Tick() { ++m_ticks; }

private:
    int m_phase = 0;
    long m_ticks = 0;
};

// Raises the voltage of the control frame smoothly from 0 to `voltage` over
// `ticks` speed-loop periods of the phase; true once it is there.
inline bool RampVoltage(Firmware& fw, const Phase& phase, double voltage, long ticks)
{
    fw.SetVoltage(voltage * SmoothStep(phase.Ticks(), ticks));
    return phase.Ticks() >= ticks;
}

} // namespace program
