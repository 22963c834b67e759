#include "Firmware.h"

#include "Plant.h"
#include "Program.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double kAngleUnits = 65536.0; // per electrical revolution
constexpr double kCommandLimit = 32767.0;
constexpr std::uint16_t kScopeCode = 0xE900;
constexpr int kScopeSamplesPerFrame = 10;
constexpr std::size_t kScopeQueueLimit = 4096;
constexpr double kHallLow = 0.1 / 5.0;    // fraction of full scale below which a Hall signal is missing
constexpr double kHallHigh = 4.9 / 5.0;   // and above which
constexpr double kHallMissingTime = 0.02; // [s]
// The i2t integrators' scales: the drive's in (current / 32767)^2 x 2^26, the
// motor's in current^2 / 16, each over the time its "SFI2T" register names
// (Ts x 2^26 / SFI2T).
constexpr double kDriveI2tScale = 1.0 / (32767.0 * 32767.0);
constexpr double kMotorI2tScale = 1.0 / (67108864.0 * 16.0);

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

// Live drive variables: computed from the firmware's state when read.
enum class Live {
    Mer,
    Iq,
    Id,
    CurrentReference,
    MotorCurrent,
    VoltageReference,
    MotorSpeed,
    LoadSpeed,
    MotorPosition,
    LoadPosition,
    SpeedReference,
    TargetPosition,
    PositionError,
    SpeedError,
    HallA,
    HallB,
    HallC,
    Reference,
    Bus,
    DriveTemperature,
    MotorTemperature,
    FrameAngle,
    AngleIncrement,
    TargetSpeed,
};

const CaseInsensitiveMap<Live>& LiveNames()
{
    static const CaseInsensitiveMap<Live> names = {
        {"MER", Live::Mer},
        {"IQ", Live::Iq},
        {"ID", Live::Id},
        {"Current_Reference", Live::CurrentReference},
        {"IQREF", Live::CurrentReference},
        {"Motor_Current", Live::MotorCurrent},
        {"Voltage_Reference", Live::VoltageReference},
        {"UQREF", Live::VoltageReference},
        {"ASPD", Live::MotorSpeed},
        {"ASPD_MT", Live::MotorSpeed},
        {"Motor_Speed", Live::MotorSpeed},
        {"ASPD_LD", Live::LoadSpeed},
        {"Load_Speed", Live::LoadSpeed},
        {"APOS_MT", Live::MotorPosition},
        {"Motor_Position", Live::MotorPosition},
        {"APOS", Live::LoadPosition},
        {"APOS_LD", Live::LoadPosition},
        {"Load_Position", Live::LoadPosition},
        {"Speed_Reference", Live::SpeedReference},
        {"SPDREF", Live::SpeedReference},
        {"Motor_Speed_Reference", Live::SpeedReference},
        {"Target_Speed", Live::TargetSpeed},
        {"TSPD", Live::TargetSpeed},
        {"Target_Position", Live::TargetPosition},
        {"TPOS", Live::TargetPosition},
        {"CPOS", Live::TargetPosition},
        {"Position_Error", Live::PositionError},
        {"POSERR", Live::PositionError},
        {"Speed_Error", Live::SpeedError},
        {"SPDERR", Live::SpeedError},
        {"AD6", Live::HallA},
        {"AD3", Live::HallB},
        {"AD8", Live::HallC},
        {"AD9", Live::HallC},
        {"AD5", Live::Reference},
        {"var_u2", Live::Bus},
        {"DC_Bus_Voltage", Live::Bus},
        {"Drive_Temperature", Live::DriveTemperature},
        {"Motor_Temperature", Live::MotorTemperature},
        {"THTST", Live::FrameAngle},
        {"TINCTST", Live::AngleIncrement},
    };
    return names;
}

void PutWord(std::vector<std::uint8_t>& bytes, std::uint16_t word)
{
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
}

} // namespace

Firmware::Firmware(Plant& plant) : m_plant(plant)
{
    Configure();
}

Firmware::~Firmware() = default;

// ---- Registers and variables ----------------------------------------------------

bool Firmware::HasRegister(std::string_view name) const
{
    return m_registers.find(name) != m_registers.end();
}

double Firmware::Register(std::string_view name) const
{
    auto it = m_registers.find(name);
    return it == m_registers.end() ? 0.0 : it->second;
}

void Firmware::SetRegister(std::string_view name, double value)
{
    auto it = m_registers.find(name);
    if (it == m_registers.end())
        m_registers.emplace(std::string(name), value);
    else
        it->second = value;
    Configure();
}

void Firmware::LoadRegisters(const std::vector<std::pair<std::string, double>>& registers)
{
    for (const auto& [name, value] : registers) {
        auto it = m_registers.find(name);
        if (it == m_registers.end())
            m_registers.emplace(name, value);
        else
            it->second = value;
    }
    Configure();
}

bool Firmware::HasVariable(std::string_view name) const
{
    return m_variables.find(name) != m_variables.end() || LiveNames().find(name) != LiveNames().end();
}

double Firmware::Variable(std::string_view name) const
{
    auto it = m_variables.find(name);
    if (it != m_variables.end())
        return it->second;
    double value = 0.0;
    if (LiveVariable(name, value))
        return value;
    return Register(name);
}

void Firmware::SetVariable(std::string_view name, double value)
{
    auto it = m_variables.find(name);
    if (it == m_variables.end())
        m_variables.emplace(std::string(name), value);
    else
        it->second = value;
}

bool Firmware::LiveVariable(std::string_view name, double& value) const
{
    auto it = LiveNames().find(name);
    if (it == LiveNames().end())
        return false;
    switch (it->second) {
    case Live::Mer:
        value = m_mer;
        break;
    case Live::Iq:
        value = m_iq;
        break;
    case Live::Id:
        value = m_id;
        break;
    case Live::CurrentReference:
        value = m_iqRef;
        break;
    case Live::MotorCurrent:
        value = m_iq;
        break;
    case Live::VoltageReference:
        value = m_uq;
        break;
    case Live::MotorSpeed:
        value = m_speed;
        break;
    case Live::LoadSpeed:
        value = LoadSpeed();
        break;
    case Live::MotorPosition:
        value = m_position;
        break;
    case Live::LoadPosition:
        value = LoadPosition();
        break;
    case Live::SpeedReference:
        value = m_speedRef;
        break;
    case Live::TargetSpeed:
        value = m_posSpeedRef;
        break;
    case Live::TargetPosition:
        value = m_posRef;
        break;
    case Live::PositionError:
        value = m_posRef - m_position;
        break;
    case Live::SpeedError:
        value = m_speedRef - m_speed;
        break;
    case Live::HallA:
        value = m_hall[0];
        break;
    case Live::HallB:
        value = m_hall[1];
        break;
    case Live::HallC:
        value = m_hall[2];
        break;
    case Live::Reference:
        value = m_plant.ReadReference();
        break;
    case Live::Bus:
        value = std::floor(m_busFiltered + 0.5);
        break;
    case Live::DriveTemperature:
        value = m_plant.ReadDriveTemperature();
        break;
    case Live::MotorTemperature:
        value = m_plant.ReadMotorTemperature();
        break;
    case Live::FrameAngle:
        value = std::floor(m_frameAngle + 0.5);
        break;
    case Live::AngleIncrement:
        value = m_angleIncrement;
        break;
    }
    return true;
}

// ---- Configuration --------------------------------------------------------------

void Firmware::Configure()
{
    auto reg = [this](const char* name, double fallback) {
        auto it = m_registers.find(name);
        return it == m_registers.end() ? fallback : it->second;
    };
    auto whole = [](double v) { return static_cast<std::int64_t>(std::llround(v)); };
    auto gain = [&](const char* mantissa, const char* shift) {
        FixedGain g;
        g.mantissa = whole(reg(mantissa, 0.0));
        g.shift = static_cast<int>(std::clamp<std::int64_t>(whole(reg(shift, 0.0)), 0, 30));
        return g;
    };

    const double dsp = reg("DSP_freq", 40e6);
    const double pwmper = std::max(1.0, reg("PWMPER", 1000.0));
    m_clper = static_cast<int>(std::clamp<std::int64_t>(whole(reg("CLPER", 1.0)), 1, 255));
    m_slper = static_cast<int>(std::clamp<std::int64_t>(whole(reg("SLPER", 10.0)), 1, 255));
    m_pwmPeriod = 2.0 * pwmper / dsp;
    m_fastPeriod = m_clper * m_pwmPeriod;
    m_slowPeriod = m_slper * m_pwmPeriod;

    // The converter and the sensors are the board's, whatever the setup says of them.
    DriveHardware hw;
    static_cast<DriveBoard&>(hw) = m_plant.Options().board;
    hw.pwmPeriod = m_pwmPeriod;
    // Dead time from the dead-band register: the larger byte in counter steps.
    const auto dbt =
        static_cast<std::uint32_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(reg("DBT", 0.0))));
    const double step = HasRegister("DBTPC") ? reg("DBTPC", 50.0) / 100.0 : 0.5;
    hw.deadTime = dbt == 0 ? 1e-6 : std::max(dbt & 0xFFu, (dbt >> 8) & 0xFFu) * step / dsp;
    m_plant.ConfigureHardware(hw);
    m_adcMax = hw.AdcMax();

    Params& p = m_p;
    p.kpI = gain("KPI", "SFTKPI");
    p.kiI = gain("KII", "SFTKII");
    p.kpS = gain("KPS", "SFTKPS");
    p.kiS = gain("KIS", "SFTKIS");
    p.kpP = gain("KPP", "SFTKPP");
    p.kiP = gain("KIP", "SFTKIP");
    p.kdP = gain("KDP", "SFTKDP");
    p.kffS = gain("KFFS", "SFTSFFW");
    p.kffA.mantissa = whole(reg("KFFA", 0.0));
    p.kffA.shift =
        static_cast<int>(std::clamp<std::int64_t>(whole(reg("SFTAFFW", 0.0) + reg("SFTKFF", 0.0)), 0, 30));
    p.filterQ = std::clamp(reg("FILTERQ", 32767.0), 0.0, 32767.0) / 32767.0;
    p.speedOutLimit = std::max(0.0, 32767.0 - reg("SATS", 0.0));
    p.speedIntLimit = std::max(0.0, 32767.0 - reg("IMAXS", 0.0));
    p.posOutLimit = std::max(0.0, 32767.0 - reg("SATP", 0.0));
    p.posIntLimit = std::max(0.0, 32767.0 - reg("IMAXP", 0.0));
    p.derivativeFilter = std::clamp(reg("KDFP", 32767.0), 0.0, 32767.0) / 32768.0;
    const auto acr = static_cast<std::uint32_t>(std::max(0.0, reg("ACR", 1796.0)));
    p.cascade = (acr >> 9) & 1u;
    p.kffSOnCurrent = (acr >> 14) & 1u;
    p.loadCurrent = reg("FFL", 0.0);
    const auto pcr = static_cast<std::uint32_t>(std::max(0.0, reg("PCR", 1.0)));
    p.overCurrentOn = pcr & 1u;
    p.overCurrentLevel = reg("IMAXPROT", 32767.0);
    p.overCurrentTime = static_cast<int>(std::max<std::int64_t>(1, whole(reg("TIMAXPROT", 100.0))));
    p.positionErrorBand = reg("ERRMAX", 32767.0);
    p.positionErrorTime = static_cast<int>(whole(reg("TERRMAX", 65535.0)));
    p.speedErrorBand = reg("SERRMAX", 32767.0);
    p.speedErrorTime = static_cast<int>(whole(reg("TSERRMAX", 65535.0)));
    p.overVoltageOn = (pcr >> 4) & 1u;
    p.overVoltageLevel = reg("UMAXPROT", 65535.0);
    p.underVoltageOn = (pcr >> 5) & 1u;
    p.underVoltageLevel = reg("UMINPROT", 0.0);
    p.driveOverTempOn = (pcr >> 3) & 1u;
    p.driveTempLevel = reg("T2MAXPROT", 65535.0);
    p.motorOverTempOn = (pcr >> 2) & 1u;
    p.motorTempLevel = reg("T1MAXPROT", 65535.0);
    const auto i2t = [&](bool on, const char* nominal, const char* scale, const char* limit, double unit) {
        I2tSetting setting;
        setting.on = on;
        setting.nominalSquared = reg(nominal, 0.0) * reg(nominal, 0.0);
        setting.gain = std::max(0.0, reg(scale, 0.0)) * unit;
        setting.limit = reg(limit, 0.0);
        return setting;
    };
    p.driveI2t = i2t((pcr >> 7) & 1u, "II2TPROT_D", "SFI2T_D", "I2TINTLIM_D", kDriveI2tScale);
    p.motorI2t = i2t((pcr >> 1) & 1u, "II2TPROT_M", "SFI2T_M", "I2TINTLIM_M", kMotorI2tScale);
    const char* gains[3] = {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN"};
    const char* offsets[3] = {"HALLAOFF", "HALLBOFF", "HALLCOFF"};
    for (int k = 0; k < 3; ++k) {
        p.hallGain[k] = reg(gains[k], 16384.0);
        p.hallOffset[k] = reg(offsets[k], 32736.0);
    }
    p.alpha = reg("ALPHA", 0.0);
    p.zeroOffset = reg("ZAOFF", 0.0);
    p.dbtth = static_cast<int>(std::clamp<std::int64_t>(whole(reg("DBTTH", 6.0)), 0, 16));
    std::array<SlotCoefficients, 3> slots;
    for (int k = 0; k < 3; ++k) {
        const std::string prefix = "BQ" + std::to_string(k + 1);
        const std::array<double, 6> r = {
            reg((prefix + "B0").c_str(), 0.0), reg((prefix + "B1").c_str(), 0.0),
            reg((prefix + "B2").c_str(), 0.0), reg((prefix + "A1").c_str(), 0.0),
            reg((prefix + "A2").c_str(), 0.0), reg((prefix + "SF").c_str(), 0.0)};
        slots[static_cast<std::size_t>(k)] = SlotCoefficients::FromRegisters(r);
    }
    const std::array<int, 3> counts = {static_cast<int>(whole(reg("SPDREF_BQ_INI", 0.0))),
                                       static_cast<int>(whole(reg("IQREF_BQ_INI", 0.0))),
                                       static_cast<int>(whole(reg("ASPD_BQ_INI", 0.0)))};
    m_biquads.Configure(slots, counts);
}

// ---- Power stage and protections ------------------------------------------------------

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

void Firmware::BeginProgram(Program* program)
{
    ClearLatchedErrors();
    for (auto it = m_variables.begin(); it != m_variables.end();)
        it = LiveNames().find(it->first) != LiveNames().end() ? m_variables.erase(it) : std::next(it);
    m_sensorAngle = false;
    m_angleIncrement = 0.0;
    m_profile.running = false;
    m_program = program;
}

void Firmware::Reset()
{
    SwitchOff();
    m_driveI2t = m_motorI2t = 0.0;
    m_program = nullptr;
    StopLog();
    ClearLatchedErrors();
    m_sensorAngle = false;
    m_angleIncrement = 0.0;
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
    if (m_mode == ControlMode::Position && m_p.positionErrorTime != 65535) {
        const bool out = std::abs(m_posRef - m_position) > m_p.positionErrorBand;
        m_positionErrorCount = out ? m_positionErrorCount + 1 : 0;
        if (m_positionErrorCount > m_p.positionErrorTime) {
            Trip(Mer::kControlError);
            return;
        }
    } else {
        m_positionErrorCount = 0;
    }
    const bool speedLoop = m_mode == ControlMode::Speed || (m_mode == ControlMode::Position && m_p.cascade);
    if (speedLoop && m_p.speedErrorTime != 65535) {
        const bool out = std::abs(m_speedRef - m_speed) > m_p.speedErrorBand;
        m_speedErrorCount = out ? m_speedErrorCount + 1 : 0;
        if (m_speedErrorCount > m_p.speedErrorTime) {
            Trip(Mer::kControlError);
            return;
        }
    } else {
        m_speedErrorCount = 0;
    }
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

// ---- Control requests ------------------------------------------------------------------

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

void Firmware::StartProfile(const SegmentTable& table, ProfileTarget target, bool repeat)
{
    m_profile.table = table;
    m_profile.target = target;
    m_profile.repeat = repeat;
    bool any = false;
    for (std::int32_t count : table.count)
        any = any || count > 0;
    m_profile.running = any;
    m_profile.segment = 0;
    m_profile.left = table.count[0];
    if (target == ProfileTarget::Position)
        ZeroPosition();
    m_profile.value = 0.0;
    m_profile.lastIncrement = 0.0;
    if (target == ProfileTarget::Position)
        SetPositionReference(m_profile.value);
    else
        SetSpeedReference(0.0);
}

// The position counter restarts from 0 where the shaft stands, as a
// position test's program sets it: its target and the host's trigger are
// then counted from the start of the motion.
void Firmware::ZeroPosition()
{
    const double shift = m_position;
    m_hallUnwrapped -= shift * static_cast<double>(1 << m_p.dbtth);
    m_position -= shift;
    m_lastPosition -= shift;
    m_posRef -= shift;
}

void Firmware::AdvanceProfile()
{
    Profile& pr = m_profile;
    if (!pr.running)
        return;
    while (pr.left <= 0) {
        if (++pr.segment >= 6) {
            if (!pr.repeat) {
                pr.running = false;
                if (pr.target == ProfileTarget::Speed)
                    SetSpeedReference(pr.value);
                else
                    SetPositionReference(pr.value);
                return;
            }
            pr.segment = 0;
        }
        pr.left = pr.table.count[static_cast<std::size_t>(pr.segment)];
    }
    const double increment = pr.table.increment[static_cast<std::size_t>(pr.segment)];
    pr.value += increment;
    --pr.left;
    const double acceleration = increment - pr.lastIncrement;
    pr.lastIncrement = increment;
    if (pr.target == ProfileTarget::Speed)
        SetSpeedReference(pr.value, increment);
    else
        SetPositionReference(pr.value, increment, acceleration);
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

// ---- Loops -----------------------------------------------------------------------------------

double Firmware::ApplyGain(const FixedGain& gain, double x) const
{
    return gain.Value() * x;
}

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

void Firmware::SkipTime(double seconds)
{
    if (seconds <= 0.0)
        return;
    m_time += seconds;
    m_plant.SkipTime(seconds);
    // idle without current: the i2t integrals fall off
    const double periods = seconds / m_slowPeriod;
    m_p.driveI2t.Integrate(m_driveI2t, 0.0, periods);
    m_p.motorI2t.Integrate(m_motorI2t, 0.0, periods);
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
    if (m_program && !m_program->IsFinished())
        m_program->FastStep(*this);
    if (!m_on)
        return;

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

// ---- Logger and scope ---------------------------------------------------------------------------

void Firmware::StartLog(const std::vector<std::string>& variables, int points, int divider, bool fastLoop)
{
    m_log = Log{};
    // Frames of an earlier log that nobody took are of no use to this one.
    m_scopeFrames.clear();
    m_log.variables = variables;
    m_log.fastLoop = fastLoop;
    m_log.points = std::max(0, points);
    m_log.divider = std::max(1, divider);
    m_log.active = !variables.empty();
}

void Firmware::StopLog()
{
    if (m_log.scopeCount > 0)
        EmitScopeFrame();
    m_log.active = false;
}

bool Firmware::LogFull() const
{
    return static_cast<int>(m_log.rows.size()) >= m_log.points;
}

void Firmware::SampleLog()
{
    if (!m_log.active || m_log.held)
        return;
    if (++m_log.phase < m_log.divider)
        return;
    m_log.phase = 0;
    std::vector<double> row;
    row.reserve(m_log.variables.size());
    for (const std::string& name : m_log.variables)
        row.push_back(Variable(name));
    m_log.scopeSamples.insert(m_log.scopeSamples.end(), row.begin(), row.end());
    if (++m_log.scopeCount >= kScopeSamplesPerFrame)
        EmitScopeFrame();
    if (!LogFull())
        m_log.rows.push_back(std::move(row));
}

void Firmware::EmitScopeFrame()
{
    // word count, sequence number, code, then the samples: every logged value
    // as a signed 32-bit number, least significant word first.
    std::vector<std::uint8_t> frame;
    const std::size_t words = m_log.scopeSamples.size() * 2;
    frame.reserve(6 + 2 * words);
    PutWord(frame, static_cast<std::uint16_t>(words));
    PutWord(frame, m_log.scopeSequence++);
    PutWord(frame, kScopeCode);
    for (double value : m_log.scopeSamples) {
        const double clamped = std::clamp(std::floor(value + 0.5), -2147483648.0, 2147483647.0);
        const auto word = static_cast<std::uint32_t>(static_cast<std::int32_t>(clamped));
        PutWord(frame, static_cast<std::uint16_t>(word & 0xFFFF));
        PutWord(frame, static_cast<std::uint16_t>(word >> 16));
    }
    m_log.scopeSamples.clear();
    m_log.scopeCount = 0;
    if (m_scopeFrames.size() >= kScopeQueueLimit)
        m_scopeFrames.erase(m_scopeFrames.begin());
    m_scopeFrames.push_back(std::move(frame));
}

std::vector<std::vector<std::uint8_t>> Firmware::TakeScopeFrames()
{
    std::vector<std::vector<std::uint8_t>> frames;
    frames.swap(m_scopeFrames);
    return frames;
}
