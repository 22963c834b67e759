// The firmware's own state as programs and the virtual drive see it: the
// registers of the downloaded setup, the drive variables (the live ones read
// from the loops' state), the clock when the drive idles, and the start of a
// program and the drive's reset.
#include "Firmware.h"

#include "Plant.h"

#include <cmath>

namespace {

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

// ---- Programs and reset ---------------------------------------------------------

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

// ---- Idle clock -----------------------------------------------------------------

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
