// The slow side of the drive, every speed-loop period: the slow-loop tick
// (speed measurement, bus filter, protections, the program's step, the
// profile) and the speed and position controllers that set the current
// reference.
#include "Firmware.h"

#include "Plant.h"
#include "Program.h"

#include <algorithm>

// ---- References ----------------------------------------------------------------------------

void Firmware::SetSpeedReference(double speed, double acceleration)
{
    if (!m_sensorAngle)
        UseSensorAngle();
    SetMode(ControlMode::Speed);
    m_speedRef = speed;
    m_accRef = acceleration;
}

void Firmware::SetPositionReference(double position, double speed, double acceleration)
{
    if (!m_sensorAngle)
        UseSensorAngle();
    if (m_mode != ControlMode::Position)
        m_lastPositionError = position - m_position;
    SetMode(ControlMode::Position);
    m_posRef = position;
    m_posSpeedRef = speed;
    m_posAccRef = acceleration;
}

// ---- Loops -----------------------------------------------------------------------------------

double Firmware::ApplyGain(const FixedGain& gain, double x) const
{
    return gain.Value() * x;
}

void Firmware::SlowLoop()
{
    ++m_slowTicks;
    MeasureHalls();
    const double speed = m_position - m_lastPosition;
    m_lastPosition = m_position;
    m_speed = m_biquads.Filter(BiquadSlots::SpeedFeedback, speed);
    m_busReading = m_plant.ReadBus();
    m_busFiltered = m_slowTicks == 1 ? m_busReading : m_busFiltered + 0.05 * (m_busReading - m_busFiltered);

    Protections();
    if (m_tripped) {
        m_tripped = false;
        if (m_program && !m_program->IsFinished())
            m_program->OnProtection(*this);
    }
    if (m_program && !m_program->IsFinished())
        m_program->Step(*this);

    if (m_on) {
        AdvanceProfile();
        if (m_mode == ControlMode::Position)
            RunPositionController();
        else if (m_mode == ControlMode::Speed)
            RunSpeedController(m_speedRef);
    }
    if (!m_log.fastLoop)
        SampleLog();
}

void Firmware::RunSpeedController(double referenceSpeed)
{
    const double error = m_speedRef - m_speed;
    m_speedIntegral =
        std::clamp(m_speedIntegral + ApplyGain(m_p.kiS, error), -m_p.speedIntLimit, m_p.speedIntLimit);
    const double out = ApplyGain(m_p.kpS, error) + m_speedIntegral + ApplyGain(m_p.kffA, m_accRef) +
                       CurrentSpeedFeedForward(referenceSpeed);
    SetControllerCurrent(out, m_p.speedOutLimit);
}

void Firmware::RunPositionController()
{
    const double error = m_posRef - m_position;
    const double change = error - m_lastPositionError;
    m_lastPositionError = error;
    m_derivative += m_p.derivativeFilter * (change - m_derivative);
    m_positionIntegral =
        std::clamp(m_positionIntegral + ApplyGain(m_p.kiP, error), -m_p.posIntLimit, m_p.posIntLimit);
    double out = ApplyGain(m_p.kpP, error) + m_positionIntegral + ApplyGain(m_p.kdP, m_derivative);
    if (m_p.cascade) {
        out = std::clamp(out, -m_p.posOutLimit, m_p.posOutLimit);
        m_speedRef = m_biquads.Filter(BiquadSlots::SpeedReference, out);
        if (!m_p.kffSOnCurrent)
            m_speedRef += ApplyGain(m_p.kffS, m_posSpeedRef);
        m_accRef = m_posAccRef;
        RunSpeedController(m_posSpeedRef);
    } else {
        out += ApplyGain(m_p.kffA, m_posAccRef) + CurrentSpeedFeedForward(m_posSpeedRef);
        SetControllerCurrent(out, m_p.posOutLimit);
        m_speedRef = m_posSpeedRef;
    }
}

double Firmware::CurrentSpeedFeedForward(double referenceSpeed) const
{
    return m_p.kffSOnCurrent ? ApplyGain(m_p.kffS, referenceSpeed) : 0.0;
}

void Firmware::SetControllerCurrent(double output, double limit)
{
    const double filtered =
        m_biquads.Filter(BiquadSlots::CurrentReference, std::clamp(output, -limit, limit));
    m_iqRef = std::clamp(filtered + m_p.loadCurrent, -limit, limit);
    m_idRef = 0.0;
}

void Firmware::ResetControllers()
{
    m_intQ = m_intD = 0;
    m_uq = m_ud = 0.0;
    m_speedIntegral = m_positionIntegral = 0.0;
    m_derivative = m_lastPositionError = 0.0;
    m_biquads.Reset();
}
