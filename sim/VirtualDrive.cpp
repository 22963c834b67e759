#include "VirtualDrive.h"

#include "Errors.h"
#include "Parameter.h"
#include "Setup.h"
#include "SetupDescription.h"

#include <cmath>

namespace {

// Parameter types the drive holds: registers, drive data and the firmware's constants.
bool IsDriveParameter(int type)
{
    return type == PT_REGISTER || type == PT_DRIVE_DATA || type == PT_READ_ONLY;
}

// Idle time beyond which the drive skips ahead instead of simulating every period.
constexpr double kIdleSkip = 1.0; // [s]

} // namespace

VirtualDrive::VirtualDrive(const MotorModel& motor, const VirtualDriveOptions& options) : m_options(options)
{
    m_faults = options.plant.faults;
    for (const std::string& name : motor.faults)
        m_faults.Add(name);
    PlantOptions plantOptions = options.plant;
    plantOptions.faults = m_faults;
    if (options.busVoltage > 0.0)
        plantOptions.busVoltage = options.busVoltage;
    m_plant = std::make_unique<Plant>(motor, plantOptions);
    m_firmware = std::make_unique<Firmware>(*m_plant);

    // Until a setup is downloaded the drive holds the description's defaults.
    std::vector<std::pair<std::string, double>> registers;
    try {
        const auto description = SetupDescription::Default();
        for (const ParameterDefinition& p : description->Parameters())
            if (IsDriveParameter(p.type))
                registers.emplace_back(p.name, p.defaultValue);
        for (const VariableDefinition& v : description->Variables())
            m_knownVariables.emplace(v.name, true);
    } catch (const std::exception&) {
        // without the description the firmware's own defaults stand
    }
    m_firmware->LoadRegisters(registers);
    m_firmware->SetEnableInput(!m_faults.enableInactive);
    m_firmware->SetLimitInputs(m_faults.limitSwitch, false);
    for (const char* name : {"var_i1", "var_i2", "var_u2", "REFTST_V", "RINCTST_V", "WEAKINC"})
        m_knownVariables.emplace(name, true);
}

VirtualDrive::~VirtualDrive() = default;

LinkResult VirtualDrive::Fail(LinkResult result, std::string text)
{
    m_lastError = std::move(text);
    return result;
}

bool VirtualDrive::Answers()
{
    if (m_silent) {
        m_lastError = "The drive does not answer.";
        return false;
    }
    return true;
}

void VirtualDrive::AdvanceTo(double now)
{
    Firmware& fw = *m_firmware;
    const double period = fw.PwmPeriod();
    if (!(now > fw.Time()) || !std::isfinite(now))
        return;
    // Nothing moves while the drive idles with the power stage off: skip ahead.
    if (!m_program && !fw.IsOn() && m_plant->HeldAtRest() && now - fw.Time() > kIdleSkip) {
        const double skip = std::floor((now - fw.Time() - kIdleSkip) / period) * period;
        fw.SkipTime(skip);
    }
    auto steps = static_cast<std::int64_t>(std::floor((now - fw.Time()) / period + 1e-9));
    while (steps > 0) {
        steps -= fw.RunPwmPeriods(steps);
        if (m_program && m_program->IsFinished())
            EndFinishedProgram();
    }
}

void VirtualDrive::EndFinishedProgram()
{
    m_firmware->EndProgram();
    m_firmware->StopLog();
    m_program.reset();
    m_programInfo = nullptr;
}

std::string VirtualDrive::RunningProgram() const
{
    return m_programInfo ? m_programInfo->name : std::string();
}

UserVariables& VirtualDrive::VariablesOf(const ProgramInfo& info)
{
    auto it = m_userVariables.find(info.name);
    if (it == m_userVariables.end()) {
        it = m_userVariables.emplace(info.name, UserVariables()).first;
        for (const std::string& name : info.userVariables)
            it->second.Declare(name);
        it->second.Declare("STARTED");
    }
    return it->second;
}

bool VirtualDrive::KnowsVariable(const std::string& name) const
{
    return m_knownVariables.find(name) != m_knownVariables.end() || m_firmware->HasVariable(name) ||
           m_firmware->HasRegister(name);
}

LinkResult VirtualDrive::DownloadSetup(double now, const CMC_Setup& setup)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    std::vector<std::pair<std::string, double>> registers;
    for (const auto& parameter : setup.GetParameters())
        if (IsDriveParameter(parameter->GetType()))
            registers.emplace_back(parameter->Name(), parameter->GetValueInInternalUnit());
    m_firmware->LoadRegisters(registers);
    return LinkResult::Ok;
}

LinkResult VirtualDrive::StartProgram(double now, const ProgramRequest& request, const LogRequest* log)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    const ProgramInfo* info = FindProgram(request.name);
    if (!info)
        return Fail(LinkResult::NoSuchProgram, "The drive has no program \"" + request.name + "\".");
    if (m_program)
        return Fail(LinkResult::Refused,
                    "The drive already runs the program \"" + m_programInfo->name + "\".");
    if (log)
        for (const std::string& name : log->variables)
            if (!KnowsVariable(name))
                return Fail(LinkResult::NoSuchVariable,
                            "The drive cannot log \"" + name + "\": no such variable.");

    UserVariables& variables = VariablesOf(*info);
    for (const std::string& name : request.userVariables)
        variables.Declare(name);
    variables.MarkStarted();

    m_program = info->create();
    m_programInfo = info;
    m_program->Attach(&variables);
    Firmware& fw = *m_firmware;
    fw.BeginProgram(m_program.get());
    if (log && !log->variables.empty() && log->points > 0)
        fw.StartLog(log->variables, log->points, log->divider, log->fastLoop);
    else
        fw.StopLog();
    m_program->Start(fw);
    if (m_program->IsFinished())
        EndFinishedProgram();
    if (m_faults.noAnswer)
        m_silent = true;
    return LinkResult::Ok;
}

LinkResult VirtualDrive::StopProgram(double now)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    if (m_program) {
        m_program->OnStop(*m_firmware);
        EndFinishedProgram();
    }
    m_firmware->SwitchOff();
    return LinkResult::Ok;
}

LinkResult VirtualDrive::UserVariablesAt(double now, const std::string& program, const std::string& name,
                                         UserVariables*& variables)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    const ProgramInfo* info = FindProgram(program);
    if (!info)
        return Fail(LinkResult::NoSuchProgram, "The drive has no program \"" + program + "\".");
    variables = &VariablesOf(*info);
    if (!variables->Has(name))
        return Fail(LinkResult::NoSuchVariable,
                    "The program \"" + program + "\" has no variable \"" + name + "\".");
    return LinkResult::Ok;
}

LinkResult VirtualDrive::ReadUserVariable(double now, const std::string& program, const std::string& name,
                                          double& value)
{
    UserVariables* variables = nullptr;
    const LinkResult result = UserVariablesAt(now, program, name, variables);
    if (result == LinkResult::Ok)
        value = variables->Get(name);
    return result;
}

LinkResult VirtualDrive::WriteUserVariable(double now, const std::string& program, const std::string& name,
                                           double value)
{
    UserVariables* variables = nullptr;
    const LinkResult result = UserVariablesAt(now, program, name, variables);
    if (result == LinkResult::Ok) {
        variables->Set(name, value);
        variables->NoteWritten(name);
    }
    return result;
}

LinkResult VirtualDrive::ReadVariable(double now, const std::string& name, double& value)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    if (!KnowsVariable(name))
        return Fail(LinkResult::NoSuchVariable, "The drive has no variable \"" + name + "\".");
    value = m_firmware->Variable(name);
    return LinkResult::Ok;
}

LinkResult VirtualDrive::WriteVariable(double now, const std::string& name, double value)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    if (!KnowsVariable(name))
        return Fail(LinkResult::NoSuchVariable, "The drive has no variable \"" + name + "\".");
    Firmware& fw = *m_firmware;
    if (fw.HasRegister(name) && m_knownVariables.find(name) == m_knownVariables.end() &&
        !fw.HasVariable(name))
        fw.SetRegister(name, value);
    else
        fw.SetVariable(name, value);
    if (m_program) {
        m_program->OnDriveVariableWritten(fw, name);
        if (m_program->IsFinished())
            EndFinishedProgram();
    }
    return LinkResult::Ok;
}

LinkResult VirtualDrive::WriteParameter(double now, const std::string& name, double value)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    if (!m_firmware->HasRegister(name))
        return Fail(LinkResult::NoSuchVariable, "The drive has no register \"" + name + "\".");
    if (!std::isfinite(value))
        return Fail(LinkResult::Refused,
                    "The drive refused a value that is not a number for \"" + name + "\".");
    m_firmware->SetRegister(name, value);
    return LinkResult::Ok;
}

LinkResult VirtualDrive::GetAxisOn(double now, bool& on)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    on = m_firmware->IsOn();
    return LinkResult::Ok;
}

LinkResult VirtualDrive::UploadLog(double now, std::vector<std::vector<double>>& rows)
{
    if (!Answers())
        return LinkResult::NoAnswer;
    AdvanceTo(now);
    rows = m_firmware->LogRows();
    return LinkResult::Ok;
}

std::vector<UnsolicitedFrame> VirtualDrive::TakeUnsolicitedFrames(double now)
{
    std::vector<UnsolicitedFrame> frames;
    if (m_silent)
        return frames;
    AdvanceTo(now);
    for (auto& data : m_firmware->TakeScopeFrames())
        frames.push_back(UnsolicitedFrame{0xE900, std::move(data)});
    return frames;
}

// A reset stops the program as a stop request does, then clears the drive.
LinkResult VirtualDrive::Reset(double now)
{
    const LinkResult result = StopProgram(now);
    if (result == LinkResult::Ok)
        m_firmware->Reset();
    return result;
}
