// The fast side of the drive, every PWM period: the tick that runs the loops
// and the plant, the current loop (frame angle, measured currents and Halls,
// the current controller) and the space-vector modulator. It is the
// simulation's hot path: what FastLoop calls lives here, so it inlines.
#include "Firmware.h"

#include "Plant.h"
#include "Program.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kAngleUnits = 65536.0; // per electrical revolution
constexpr double kCommandLimit = 32767.0;

// sin over a whole revolution of angle units, linearly interpolated.
class SineTable {
public:
    SineTable()
    {
        for (int k = 0; k <= kSize + kQuarter; ++k)
            m_table[k] = std::sin(2.0 * std::numbers::pi * k / kSize);
    }
    void SinCos(double angle, double& sine, double& cosine) const
    {
        const double x = angle * (kSize / kAngleUnits);
        int whole = static_cast<int>(x);
        whole -= x < whole ? 1 : 0; // floor
        const double f = x - whole;
        const int k = whole & (kSize - 1); // the table's turn (two's complement)
        sine = m_table[k] + f * (m_table[k + 1] - m_table[k]);
        cosine = m_table[k + kQuarter] + f * (m_table[k + kQuarter + 1] - m_table[k + kQuarter]);
    }

private:
    static constexpr int kSize = 4096;
    static constexpr int kQuarter = kSize / 4;
    double m_table[kSize + kQuarter + 1];
};

const SineTable kSine;

double WrapAngle(double angle)
{
    if (angle >= -kAngleUnits / 2.0 && angle < kAngleUnits / 2.0)
        return angle;
    return angle - kAngleUnits * std::floor((angle + kAngleUnits / 2.0) * (1.0 / kAngleUnits));
}

} // namespace

// ---- Frame angle and control mode -------------------------------------------------

void Firmware::ImposeAngle(double angle)
{
    m_sensorAngle = false;
    m_frameAngle = WrapAngle(angle);
}

void Firmware::SetAngleIncrement(double perFastPeriod)
{
    m_angleIncrement = perFastPeriod;
}

void Firmware::UseSensorAngle()
{
    m_sensorAngle = true;
    m_angleIncrement = 0.0;
    MeasureHalls();
    m_frameAngle = ElectricalAngle();
}

void Firmware::SetMode(ControlMode mode)
{
    if (mode == m_mode)
        return;
    const bool wasCurrent = m_mode != ControlMode::Off && m_mode != ControlMode::Voltage;
    const bool isCurrent = mode != ControlMode::Off && mode != ControlMode::Voltage;
    if (isCurrent && !wasCurrent) {
        // bumpless: the current controllers start from the present voltage
        m_intQ = static_cast<std::int64_t>(m_uq * 65536.0);
        m_intD = static_cast<std::int64_t>(m_ud * 65536.0);
    }
    if ((mode == ControlMode::Speed || mode == ControlMode::Position) &&
        !(m_mode == ControlMode::Speed || m_mode == ControlMode::Position)) {
        m_speedIntegral = 0.0;
        m_positionIntegral = 0.0;
        m_derivative = 0.0;
        m_lastPositionError = 0.0;
        m_biquads.Reset();
    }
    m_mode = mode;
}

void Firmware::SetVoltage(double uq, double ud)
{
    SetMode(ControlMode::Voltage);
    m_uqCmd = uq;
    m_udCmd = ud;
}

void Firmware::SetCurrent(double iq, double id)
{
    SetMode(ControlMode::Current);
    m_iqRef = iq;
    m_idRef = id;
}

// ---- Sensors -----------------------------------------------------------------------------

double Firmware::Adc(AdcChannel channel) const
{
    switch (channel) {
    case AdcChannel::HallA:
        return m_hall[0];
    case AdcChannel::HallB:
        return m_hall[1];
    case AdcChannel::HallC:
        return m_hall[2];
    case AdcChannel::Reference:
        return m_plant.ReadReference();
    case AdcChannel::Bus:
        return m_plant.ReadBus();
    case AdcChannel::DriveTemperature:
        return m_plant.ReadDriveTemperature();
    case AdcChannel::MotorTemperature:
        return m_plant.ReadMotorTemperature();
    }
    return 0.0;
}

double Firmware::BusVoltage() const
{
    return m_plant.ReadBus();
}

double Firmware::ElectricalAngle() const
{
    return WrapAngle(m_hallAngle + m_p.alpha);
}

// The drive has only the motor's sensor: in internal units the load's position
// and speed are the motor's (the load scales hold the transmission).
double Firmware::LoadPosition() const
{
    return m_position;
}
double Firmware::LoadSpeed() const
{
    return m_speed;
}

void Firmware::MeasureCurrents()
{
    const double a = m_plant.ReadCurrent(0);
    const double b = m_plant.ReadCurrent(1);
    const double beta = (a + 2.0 * b) * (1.0 / std::numbers::sqrt3);
    m_ia = a;
    m_ib = b;
    m_id = a * m_cos + beta * m_sin;
    m_iq = -a * m_sin + beta * m_cos;
}

double Firmware::HallAngleOf(const double readings[3], const double gains[3], const double offsets[3])
{
    double n[3];
    for (int k = 0; k < 3; ++k)
        n[k] = (readings[k] - offsets[k]) * gains[k] / 16384.0;
    const double a = (2.0 * n[0] - n[1] - n[2]) * (1.0 / 3.0);
    const double b = (n[1] - n[2]) * (1.0 / std::numbers::sqrt3);
    return std::atan2(b, a) * (kAngleUnits / (2.0 * std::numbers::pi));
}

void Firmware::MeasureHalls()
{
    for (int k = 0; k < 3; ++k)
        m_hall[k] = m_plant.ReadHall(k);
    const double angle = HallAngleOf(m_hall, m_p.hallGain, m_p.hallOffset);
    if (!m_hallStarted) {
        m_hallStarted = true;
        m_hallUnwrapped = angle;
    } else {
        m_hallUnwrapped += WrapAngle(angle - m_hallAngle);
    }
    m_hallAngle = angle;
    m_position = m_hallUnwrapped / static_cast<double>(1 << m_p.dbtth) + m_p.zeroOffset;
}

// ---- The PWM tick and the current loop ----------------------------------------------

void Firmware::StepPwm()
{
    if (m_slowCount == 0)
        SlowLoop();
    if (m_fastCount == 0) {
        FastLoop();
        if (m_log.fastLoop)
            SampleLog();
    }
    if (++m_slowCount >= m_slper)
        m_slowCount = 0;
    if (++m_fastCount >= m_clper)
        m_fastCount = 0;

    // The currents are sampled at the start of the period and the duty cycles
    // computed from them load into the modulator at the start of the next:
    // this period runs on the last period's duties.
    m_plant.Step();
    m_plant.SetDuties(m_duty[0], m_duty[1], m_duty[2]);
    m_time += m_pwmPeriod;
}

std::int64_t Firmware::RunPwmPeriods(std::int64_t periods)
{
    for (std::int64_t k = 0; k < periods; ++k) {
        StepPwm();
        if (m_program && m_program->IsFinished())
            return k + 1;
    }
    return periods;
}

[[gnu::flatten]] void Firmware::FastLoop()
{
    if (!m_on) {
        m_iq = m_id = 0.0;
        m_ia = m_plant.ReadCurrent(0);
        m_ib = m_plant.ReadCurrent(1);
        return;
    }
    // Frame angle for this period.
    if (m_sensorAngle) {
        MeasureHalls();
        m_frameAngle = ElectricalAngle();
    } else if (m_angleIncrement != 0.0) {
        m_frameAngle = WrapAngle(m_frameAngle + m_angleIncrement);
    }
    kSine.SinCos(m_frameAngle, m_sin, m_cos);

    MeasureCurrents();
    if (m_plant.OverCurrentComparator()) {
        Trip(Mer::kShortCircuit);
        return;
    }
    // Without a program's step between them the measurement flows straight
    // into the controller (the compiler keeps it in registers).
    if (!m_program || m_program->IsFinished()) {
        ControlAndModulate();
        return;
    }
    m_program->FastStep(*this);
    if (m_on)
        ControlAndModulate();
}

void Firmware::ControlAndModulate()
{
    switch (m_mode) {
    case ControlMode::Off:
        m_uq = m_ud = 0.0;
        break;
    case ControlMode::Voltage:
        m_uq = m_uqCmd;
        m_ud = m_udCmd;
        break;
    default:
        RunCurrentController();
        break;
    }
    ApplyVoltage();
}

// PI in the drive's fixed point: errors and outputs in whole units, the
// integrator in Q16.
double Firmware::CurrentPi(double reference, double measured, std::int64_t& integral) const
{
    const double difference = std::clamp(reference - measured, -65535.0, 65535.0);
    const auto error = static_cast<std::int64_t>(difference + (difference >= 0.0 ? 0.5 : -0.5));
    const std::int64_t p = ((m_p.kpI.mantissa * error) << m_p.kpI.shift) >> 15;
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(kCommandLimit) << 16;
    integral = std::clamp<std::int64_t>(integral + (((m_p.kiI.mantissa * error) << m_p.kiI.shift) << 1),
                                        -kLimit, kLimit);
    const std::int64_t u = p + (integral >> 16);
    return static_cast<double>(std::clamp<std::int64_t>(u, -32767, 32767));
}

void Firmware::RunCurrentController()
{
    const double uq = CurrentPi(m_iqRef, m_iq, m_intQ);
    const double ud = CurrentPi(m_idRef, m_id, m_intD);
    // output filter ("FILTERQ"; 1 passes the controller's output unchanged)
    m_uq += m_p.filterQ * (uq - m_uq);
    m_ud += m_p.filterQ * (ud - m_ud);
}

void Firmware::ApplyVoltage()
{
    // Saturate the vector, then space-vector modulation.
    double uq = m_uq, ud = m_ud;
    const double square = uq * uq + ud * ud;
    if (square > kCommandLimit * kCommandLimit) {
        const double k = kCommandLimit / std::sqrt(square);
        uq *= k;
        ud *= k;
        m_uq = uq;
        m_ud = ud;
    }
    // command units to a fraction of the bus: 65534 units are 1.1 x bus
    constexpr double k = 1.1 / 65534.0;
    const double alpha = (ud * m_cos - uq * m_sin) * k;
    const double beta = (ud * m_sin + uq * m_cos) * (0.8660254037844386 * k);
    const double va = alpha;
    const double vb = -0.5 * alpha + beta;
    const double vc = -0.5 * alpha - beta;
    const double zero = 0.5 - 0.5 * (std::max(va, std::max(vb, vc)) + std::min(va, std::min(vb, vc)));
    m_duty = {va + zero, vb + zero, vc + zero};
}
