// The speed and position loops as the drive runs them, one speed-loop period
// at a time, for comparing a logged response with what the setup's designed
// and quantised gains predict: the controllers with the setup's gains and
// the limits a tuning test runs with, a rigid rotor of the setup's total
// inertia turned through its torque constant, the current loop as the delay
// its own model gives (the setup's R, L and current gains), and the speed
// measured as the position's change over one period. Feed-forwards and
// filters are off; friction and the sensors' errors are not in it.
#pragma once

#include "CurrentLoopModel.h"

#include "EngineCore.h"
#include "Setup.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace simtest {

enum class MotionLoop {
    Speed,             // the speed controller on the current loop
    PositionOnSpeed,   // the position controller on the speed loop
    PositionOnCurrent, // the position controller on the current loop
};

// The time the current loop lags its reference by, on average: the area
// between a small step of the reference and the current's response [s]. The
// integral action makes it small (an overshoot can even make up for the
// drive's delay); it is never taken below nothing.
inline double CurrentLoopDelay(CMC_Setup& setup)
{
    constexpr double kStep = 100.0; // [current units], far from the voltage limit
    constexpr int kSamples = 2000;
    const std::vector<double> current = ModelStep(setup, kStep, kSamples, true);
    double area = -0.5; // the first sample's half period: the current is continuous
    for (double sample : current)
        area += 1.0 - sample / kStep;
    return std::max(area, 0.0) * CurrentLoopPeriod(&setup);
}

class MotionLoopModel {
public:
    MotionLoopModel(CMC_Setup& setup, MotionLoop loop) : m_loop(loop)
    {
        auto base = [&](const char* name) { return setup.GetParameterValueInBaseUnit(name); };
        auto internal = [&](const char* name) { return setup.GetParameterValueInInternalUnit(name); };
        const double ts = SpeedLoopPeriod(&setup);
        // Speed units gained per period by one current unit held for a period.
        m_acceleration = base("K") / base("Jt") / CurrentScale(&setup) * ts * MotorSpeedScale(&setup);
        const double delay = CurrentLoopDelay(setup) / ts;
        m_wholeDelay = static_cast<int>(std::floor(delay));
        m_partDelay = delay - m_wholeDelay;
        m_kpS = base("Kp_S_scl");
        m_kiS = base("Ki_S_scl");
        m_kpP = base("Kp_P_scl");
        m_kiP = base("Ki_P_scl");
        m_kdP = base("Kd_P_scl");
        m_derivativeFilter = internal("KDFP") / 32768.0;
        m_speedIntegralLimit = 32767.0 - internal("IMAXS");
        m_positionIntegralLimit = 32767.0 - internal("IMAXP");
        // The test programs limit the output of the loop they drive to the
        // test's current limit, or, on the speed loop, to the speed limit.
        const double testLimit = std::trunc(internal("TestLimitCurrent"));
        m_speedOutputLimit = loop == MotionLoop::PositionOnSpeed ? 32767.0 - internal("SATS") : testLimit;
        m_positionOutputLimit =
            loop == MotionLoop::PositionOnSpeed ? std::trunc(internal("Limit_Speed")) : testLimit;
        m_currents.assign(static_cast<std::size_t>(m_wholeDelay) + 2, 0.0);
    }

    // One period with the reference of the loop (speed or position, internal
    // units, the position from where the rotor stood at the start): returns
    // what the drive measures in this period, before the current this
    // period's control asks for has acted.
    double Step(double reference)
    {
        const double measured = m_loop == MotionLoop::Speed ? m_measuredSpeed : m_position;
        m_current = m_loop == MotionLoop::Speed ? SpeedControl(reference) : PositionControl(reference);
        m_currents.pop_front();
        m_currents.push_back(m_current);
        Move();
        return measured;
    }
    // The current reference of the last period [current units].
    double CurrentReference() const { return m_current; }

private:
    double SpeedControl(double reference)
    {
        const double error = reference - m_measuredSpeed;
        m_speedIntegral =
            std::clamp(m_speedIntegral + m_kiS * error, -m_speedIntegralLimit, m_speedIntegralLimit);
        return std::clamp(m_kpS * error + m_speedIntegral, -m_speedOutputLimit, m_speedOutputLimit);
    }

    double PositionControl(double reference)
    {
        const double error = reference - m_position;
        m_derivative += m_derivativeFilter * (error - m_lastError - m_derivative);
        m_lastError = error;
        m_positionIntegral =
            std::clamp(m_positionIntegral + m_kiP * error, -m_positionIntegralLimit, m_positionIntegralLimit);
        const double out = std::clamp(m_kpP * error + m_positionIntegral + m_kdP * m_derivative,
                                      -m_positionOutputLimit, m_positionOutputLimit);
        return m_loop == MotionLoop::PositionOnSpeed ? SpeedControl(out) : out;
    }

    // The rotor over one period: the current asked for `delay` periods
    // earlier acts from the part of the period that delay leaves, the one
    // before it until then.
    void Move()
    {
        const std::size_t last = m_currents.size() - 1 - static_cast<std::size_t>(m_wholeDelay);
        const double before = m_acceleration * m_currents[last - 1];
        const double after = m_acceleration * m_currents[last];
        const double f = m_partDelay;
        m_measuredSpeed = m_speed + before * (f - 0.5 * f * f) + after * 0.5 * (1.0 - f) * (1.0 - f);
        m_speed += before * f + after * (1.0 - f);
        m_position += m_measuredSpeed;
    }

    MotionLoop m_loop;
    double m_acceleration = 0.0;
    int m_wholeDelay = 0;
    double m_partDelay = 0.0;
    double m_kpS = 0.0, m_kiS = 0.0, m_kpP = 0.0, m_kiP = 0.0, m_kdP = 0.0;
    double m_derivativeFilter = 0.5;
    double m_speedIntegralLimit = 32767.0, m_positionIntegralLimit = 32767.0;
    double m_speedOutputLimit = 32767.0, m_positionOutputLimit = 32767.0;
    std::deque<double> m_currents; // the latest current references, the newest last
    double m_current = 0.0;
    double m_speedIntegral = 0.0, m_positionIntegral = 0.0;
    double m_derivative = 0.0, m_lastError = 0.0;
    double m_speed = 0.0;         // at the start of the period [speed units]
    double m_measuredSpeed = 0.0; // over the last period
    double m_position = 0.0;      // [position units]
};

} // namespace simtest
