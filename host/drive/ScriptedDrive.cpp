#include "ScriptedDrive.h"

#include "Setup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const std::string kStarted = "STARTED";
}

const char* KindName(ScriptedDrive::Kind kind)
{
    switch (kind) {
    case ScriptedDrive::Kind::DownloadSetup:
        return "DownloadSetup";
    case ScriptedDrive::Kind::StartProgram:
        return "StartProgram";
    case ScriptedDrive::Kind::StopProgram:
        return "StopProgram";
    case ScriptedDrive::Kind::ReadUser:
        return "ReadUser";
    case ScriptedDrive::Kind::WriteUser:
        return "WriteUser";
    case ScriptedDrive::Kind::ReadVariable:
        return "ReadVariable";
    case ScriptedDrive::Kind::WriteVariable:
        return "WriteVariable";
    case ScriptedDrive::Kind::WriteParameter:
        return "WriteParameter";
    case ScriptedDrive::Kind::GetAxisOn:
        return "GetAxisOn";
    case ScriptedDrive::Kind::UploadLog:
        return "UploadLog";
    case ScriptedDrive::Kind::TakeFrames:
        return "TakeFrames";
    case ScriptedDrive::Kind::Reset:
        return "Reset";
    }
    return "?";
}

// ---- the script ------------------------------------------------------------

ScriptedDrive::RunScript& ScriptedDrive::RunScript::StartsAfter(int polls)
{
    m_startsAfter = std::max(polls, 0);
    return *this;
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::EndsAfter(int polls)
{
    m_endsAfter = std::max(polls, 0);
    return *this;
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::Result(const std::string& name, double value)
{
    m_results[name] = value;
    return *this;
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::User(const std::string& name, std::vector<double> values)
{
    m_user[name] = std::move(values);
    return *this;
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::Variable(const std::string& name, double value)
{
    return Variable(name, std::vector<double>{value});
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::Variable(const std::string& name,
                                                             std::vector<double> values)
{
    m_variables[name] = std::move(values);
    return *this;
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::EndVariable(const std::string& name, double value)
{
    m_endVariables[name] = value;
    return *this;
}

ScriptedDrive::RunScript& ScriptedDrive::RunScript::Log(std::vector<std::vector<double>> rows)
{
    m_log = std::move(rows);
    return *this;
}

double ScriptedDrive::Sequence::Take()
{
    if (values.empty())
        return 0.0;
    const double value = values[std::min(next, values.size() - 1)];
    if (next < values.size())
        ++next;
    return value;
}

ScriptedDrive::RunScript& ScriptedDrive::Program(const std::string& name, int run)
{
    auto& runs = m_scripts[name];
    const auto wanted = static_cast<std::size_t>(std::max(run, 0)) + 1;
    while (runs.size() < wanted)
        runs.push_back(runs.empty() ? RunScript{} : runs.back());
    return runs[wanted - 1];
}

ScriptedDrive& ScriptedDrive::Variable(const std::string& name, double value)
{
    return Variable(name, std::vector<double>{value});
}

ScriptedDrive& ScriptedDrive::Variable(const std::string& name, std::vector<double> values)
{
    m_driveValues[name] = Sequence{std::move(values), 0};
    return *this;
}

ScriptedDrive& ScriptedDrive::FailAt(int k, LinkResult result)
{
    m_failAt[k] = result;
    return *this;
}

ScriptedDrive& ScriptedDrive::Fail(Kind kind, const std::string& name, int occurrence, LinkResult result)
{
    m_failRules.push_back(FailRule{kind, name, std::max(occurrence, 1), result});
    return *this;
}

ScriptedDrive& ScriptedDrive::StopAnswering()
{
    m_silent = true;
    return *this;
}

// ---- the record ------------------------------------------------------------

int ScriptedDrive::Count(Kind kind, const std::string& name) const
{
    return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(), [&](const Request& r) {
        return r.kind == kind && (name.empty() || r.name == name);
    }));
}

const ScriptedDrive::Request* ScriptedDrive::Last(Kind kind, const std::string& name) const
{
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it)
        if (it->kind == kind && (name.empty() || it->name == name))
            return &*it;
    return nullptr;
}

double ScriptedDrive::Written(const std::string& program, const std::string& name) const
{
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it)
        if (it->kind == Kind::WriteUser && it->program == program && it->name == name &&
            it->result == LinkResult::Ok)
            return it->value;
    return std::numeric_limits<double>::quiet_NaN();
}

double ScriptedDrive::Written(const std::string& name) const
{
    const auto it = m_written.find(name);
    return it == m_written.end() ? std::numeric_limits<double>::quiet_NaN() : it->second;
}

bool ScriptedDrive::IsAxisOn() const
{
    return m_run.active && m_run.started && !m_run.ended;
}

int ScriptedDrive::Starts(const std::string& program) const
{
    const auto it = m_starts.find(program);
    return it == m_starts.end() ? 0 : it->second;
}

LinkResult ScriptedDrive::Begin(Kind kind, const std::string& program, const std::string& name, double value,
                                double now)
{
    m_requests.push_back(Request{kind, program, name, value, now, LinkResult::Ok});
    LinkResult result = LinkResult::Ok;
    const auto at = m_failAt.find(static_cast<int>(m_requests.size()));
    if (at != m_failAt.end())
        result = at->second;
    for (auto& rule : m_failRules) {
        const bool nameMatches =
            rule.name.empty() || rule.name == name || (rule.name == program && name.empty());
        if (rule.kind == kind && nameMatches && ++rule.seen == rule.occurrence)
            result = rule.result;
    }
    if (m_silent)
        result = LinkResult::NoAnswer;
    m_requests.back().result = result;
    if (result != LinkResult::Ok) {
        m_lastError = std::string(LinkResultText(result)) + " (" + KindName(kind) +
                      (name.empty() ? program.empty() ? "" : " " + program : " " + name) + ")";
    }
    return result;
}

void ScriptedDrive::SetResult(LinkResult result, double value)
{
    m_requests.back().result = result;
    m_requests.back().value = value;
    if (result != LinkResult::Ok)
        m_lastError = std::string(LinkResultText(result)) + " (" + KindName(m_requests.back().kind) + " " +
                      m_requests.back().name + ")";
}

bool ScriptedDrive::KnowsUserVariable(const std::string& program, const std::string& name) const
{
    if (m_run.program != program || m_run.userVariables.empty())
        return true; // a program started by name alone accepts any name
    return std::find(m_run.userVariables.begin(), m_run.userVariables.end(), name) !=
           m_run.userVariables.end();
}

// ---- DriveLink ---------------------------------------------------------------

LinkResult ScriptedDrive::DownloadSetup(double now, const CMC_Setup& setup)
{
    const LinkResult result = Begin(Kind::DownloadSetup, {}, {}, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    for (const auto& parameter : setup.GetParameters())
        m_written[parameter->GetName()] = parameter->GetValueInInternalUnit();
    return result;
}

LinkResult ScriptedDrive::StartProgram(double now, const ProgramRequest& program, const LogRequest* log)
{
    const LinkResult result = Begin(Kind::StartProgram, program.name, {}, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    if (IsProgramRunning()) {
        SetResult(LinkResult::Refused);
        return LinkResult::Refused;
    }
    const int run = m_starts[program.name]++;
    m_run = Run{};
    m_run.active = true;
    m_run.program = program.name;
    m_run.userVariables = program.userVariables;
    m_run.script = Program(program.name, run);
    m_run.hasLog = log != nullptr && !log->variables.empty();
    for (const auto& [name, values] : m_run.script.m_user)
        m_run.user[name] = Sequence{values, 0};
    for (const auto& [name, values] : m_run.script.m_variables)
        m_run.variables[name] = Sequence{values, 0};
    return result;
}

LinkResult ScriptedDrive::StopProgram(double now)
{
    const LinkResult result = Begin(Kind::StopProgram, m_run.program, {}, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    m_run.active = false;
    return result;
}

LinkResult ScriptedDrive::ReadUserVariable(double now, const std::string& program, const std::string& name,
                                           double& value)
{
    LinkResult result = Begin(Kind::ReadUser, program, name, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    if (!KnowsUserVariable(program, name)) {
        SetResult(LinkResult::NoSuchVariable);
        return LinkResult::NoSuchVariable;
    }
    const bool current = m_run.program == program;
    if (current && name == kStarted) {
        if (m_run.active && !m_run.started && m_run.startedReads++ >= m_run.script.m_startsAfter)
            m_run.started = true;
        value = m_run.started ? 1.0 : 0.0;
    } else if (current && m_run.ended && m_run.script.m_results.count(name) != 0) {
        value = m_run.script.m_results.at(name);
    } else if (current && m_run.user.count(name) != 0) {
        value = m_run.user[name].Take();
    } else {
        const auto& values = m_user[program];
        const auto it = values.find(name);
        value = it == values.end() ? 0.0 : it->second;
    }
    SetResult(LinkResult::Ok, value);
    return result;
}

LinkResult ScriptedDrive::WriteUserVariable(double now, const std::string& program, const std::string& name,
                                            double value)
{
    const LinkResult result = Begin(Kind::WriteUser, program, name, value, now);
    if (result != LinkResult::Ok)
        return result;
    if (!KnowsUserVariable(program, name)) {
        SetResult(LinkResult::NoSuchVariable, value);
        return LinkResult::NoSuchVariable;
    }
    m_user[program][name] = value;
    return result;
}

LinkResult ScriptedDrive::ReadVariable(double now, const std::string& name, double& value)
{
    const LinkResult result = Begin(Kind::ReadVariable, {}, name, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    const auto& endValues = m_run.script.m_endVariables;
    if (m_run.ended && endValues.count(name) != 0)
        value = endValues.at(name);
    else if (m_run.variables.count(name) != 0)
        value = m_run.variables[name].Take();
    else if (m_driveValues.count(name) != 0)
        value = m_driveValues[name].Take();
    else if (m_written.count(name) != 0)
        value = m_written[name];
    else
        value = 0.0;
    SetResult(LinkResult::Ok, value);
    return result;
}

LinkResult ScriptedDrive::WriteVariable(double now, const std::string& name, double value)
{
    const LinkResult result = Begin(Kind::WriteVariable, {}, name, value, now);
    if (result == LinkResult::Ok)
        m_written[name] = value;
    return result;
}

LinkResult ScriptedDrive::WriteParameter(double now, const std::string& name, double value)
{
    const LinkResult result = Begin(Kind::WriteParameter, {}, name, value, now);
    if (result == LinkResult::Ok)
        m_written[name] = value;
    return result;
}

LinkResult ScriptedDrive::GetAxisOn(double now, bool& on)
{
    const LinkResult result = Begin(Kind::GetAxisOn, m_run.program, {}, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    if (m_run.active && m_run.started && !m_run.ended && m_run.axisReads++ >= m_run.script.m_endsAfter)
        m_run.ended = true;
    on = IsAxisOn();
    SetResult(LinkResult::Ok, on ? 1.0 : 0.0);
    return result;
}

LinkResult ScriptedDrive::UploadLog(double now, std::vector<std::vector<double>>& rows)
{
    const LinkResult result = Begin(Kind::UploadLog, m_run.program, {}, 0.0, now);
    if (result != LinkResult::Ok)
        return result;
    rows.clear();
    // A drive's log holds its samples from the start of the program on; a
    // program that repeats its motion has filled it long before it ends.
    if (m_run.hasLog && (m_run.ended || m_run.active))
        rows = m_run.script.m_log;
    SetResult(LinkResult::Ok, static_cast<double>(rows.size()));
    return result;
}

std::vector<UnsolicitedFrame> ScriptedDrive::TakeUnsolicitedFrames(double now)
{
    if (Begin(Kind::TakeFrames, {}, {}, 0.0, now) != LinkResult::Ok)
        return {};
    std::vector<UnsolicitedFrame> frames;
    frames.swap(m_frames);
    SetResult(LinkResult::Ok, static_cast<double>(frames.size()));
    return frames;
}

LinkResult ScriptedDrive::Reset(double now)
{
    const LinkResult result = Begin(Kind::Reset, {}, {}, 0.0, now);
    if (result == LinkResult::Ok)
        m_run.active = false;
    return result;
}
