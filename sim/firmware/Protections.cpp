// The power stage and the protections that set "MER": over-current, control
// errors, missing Hall signals, limit switches, ENABLE, supply, temperatures
// and i2t.
#include "Firmware.h"

#include "Plant.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kHallLow = 0.1 / 5.0;    // fraction of full scale below which a Hall signal is missing
constexpr double kHallHigh = 4.9 / 5.0;   // and above which
constexpr double kHallMissingTime = 0.02; // [s]

// A loop's control error out of its band for more than its time [speed-loop
// periods] in a row; counts the periods. A loop that does not run, or whose
// time is 65535 (off), starts the count again.
bool ErrorPersists(bool loopRuns, double error, double band, int time, int& count)
{
    if (!loopRuns || time == 65535) {
        count = 0;
        return false;
    }
    count = std::abs(error) > band ? count + 1 : 0;
    return count > time;
}

} // namespace

bool Firmware::SwitchOn()
{
    if (!m_enableActive) {
        m_mer |= Mer::kEnableInactive;
        return false;
    }
    if (m_mer & Mer::kTrips)
        return false;
    if (!m_on) {
        m_on = true;
        m_tripped = false;
        m_plant.SetEnabled(true);
        m_plant.SetBrake(false);
        ResetControllers();
        m_duty = {0.5, 0.5, 0.5};
        m_plant.SetDuties(0.5, 0.5, 0.5);
    }
    return true;
}

void Firmware::SwitchOff()
{
    m_on = false;
    m_plant.SetEnabled(false);
    m_plant.SetBrake(true);
    m_mode = ControlMode::Off;
    m_uq = m_ud = 0.0;
    m_uqCmd = m_udCmd = 0.0;
    m_iqRef = m_idRef = 0.0;
    m_profile.running = false;
}

void Firmware::HoldBrake()
{
    m_plant.SetBrake(true);
}

void Firmware::Trip(std::uint16_t bits)
{
    m_mer |= bits;
    if (m_on)
        m_tripped = true;
    SwitchOff();
}

void Firmware::ClearLatchedErrors()
{
    m_mer = 0;
    if (!m_enableActive)
        m_mer |= Mer::kEnableInactive;
    if (m_limitPositive)
        m_mer |= Mer::kLimitPositive;
    if (m_limitNegative)
        m_mer |= Mer::kLimitNegative;
    m_overCurrentCount = m_positionErrorCount = m_speedErrorCount = m_hallMissingCount = 0;
    m_tripped = false;
}

void Firmware::SetEnableInput(bool active)
{
    m_enableActive = active;
    if (!active) {
        m_mer |= Mer::kEnableInactive;
        if (m_on)
            Trip(Mer::kEnableInactive);
    } else {
        m_mer &= static_cast<std::uint16_t>(~Mer::kEnableInactive);
    }
}

void Firmware::SetLimitInputs(bool positive, bool negative)
{
    m_limitPositive = positive;
    m_limitNegative = negative;
    if (positive)
        m_mer |= Mer::kLimitPositive;
    if (negative)
        m_mer |= Mer::kLimitNegative;
}

void Firmware::Protections()
{
    if (m_limitPositive)
        m_mer |= Mer::kLimitPositive;
    if (m_limitNegative)
        m_mer |= Mer::kLimitNegative;
    if (!m_enableActive)
        m_mer |= Mer::kEnableInactive;

    // Hall signals out of the sensors' span.
    bool missing = false;
    for (double h : m_hall)
        missing = missing || h < kHallLow * m_adcMax || h > kHallHigh * m_adcMax;
    m_hallMissingCount = missing ? m_hallMissingCount + 1 : 0;
    if (m_hallMissingCount * m_slowPeriod >= kHallMissingTime) {
        m_mer |= Mer::kHallMissing;
        if (m_on && m_sensorAngle)
            Trip(Mer::kHallMissing);
    }
    if (const std::uint16_t trips = SupplyAndThermalTrips())
        Trip(trips);

    if (!m_on)
        return;

    const bool loop = m_mode == ControlMode::Speed || m_mode == ControlMode::Position;
    if (loop && (m_limitPositive || m_limitNegative)) {
        Trip(0);
        return;
    }

    // Over-current: the largest phase current above "IMAXPROT" for "TIMAXPROT" periods.
    if (m_p.overCurrentOn) {
        const double peak = std::max({std::abs(m_ia), std::abs(m_ib), std::abs(m_ia + m_ib)});
        m_overCurrentCount = peak > m_p.overCurrentLevel ? m_overCurrentCount + 1 : 0;
        if (m_overCurrentCount >= m_p.overCurrentTime) {
            Trip(Mer::kShortCircuit);
            return;
        }
    }

    // Control errors.
    const bool positionLoop = m_mode == ControlMode::Position;
    const bool speedLoop = m_mode == ControlMode::Speed || (positionLoop && m_p.cascade);
    if (ErrorPersists(positionLoop, m_posRef - m_position, m_p.positionErrorBand, m_p.positionErrorTime,
                      m_positionErrorCount) ||
        ErrorPersists(speedLoop, m_speedRef - m_speed, m_p.speedErrorBand, m_p.speedErrorTime,
                      m_speedErrorCount))
        Trip(Mer::kControlError);
}

bool Firmware::I2tSetting::Integrate(double& integral, double currentSquared, double periods) const
{
    integral = std::max(0.0, integral + periods * gain * (currentSquared - nominalSquared));
    return on && limit > 0.0 && integral >= limit;
}

double Firmware::CurrentSquared() const
{
    const double beta = (m_ia + 2.0 * m_ib) * (1.0 / std::numbers::sqrt3);
    return m_ia * m_ia + beta * beta;
}

// They watch the drive whether the power stage is on or off: a motor spun
// above the bus raises it with the stage off too.
std::uint16_t Firmware::SupplyAndThermalTrips()
{
    const Params& p = m_p;
    std::uint16_t bits = 0;
    if (p.overVoltageOn && m_busReading > p.overVoltageLevel)
        bits |= Mer::kOverVoltage;
    if (p.underVoltageOn && m_busReading < p.underVoltageLevel)
        bits |= Mer::kUnderVoltage;
    if (p.driveOverTempOn && m_plant.ReadDriveTemperature() > p.driveTempLevel)
        bits |= Mer::kDriveOverTemperature;
    if (p.motorOverTempOn && m_plant.ReadMotorTemperature() > p.motorTempLevel)
        bits |= Mer::kMotorOverTemperature;
    const double squared = CurrentSquared();
    if (p.driveI2t.Integrate(m_driveI2t, squared))
        bits |= Mer::kDriveI2t;
    if (p.motorI2t.Integrate(m_motorI2t, squared))
        bits |= Mer::kMotorI2t;
    return bits;
}
