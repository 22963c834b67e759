#include "FaultyLink.h"

#include <utility>

namespace simtest {

FaultyLink::FaultyLink(std::shared_ptr<VirtualDrive> drive, InjectedFault fault)
    : m_drive(std::move(drive)), m_fault(std::move(fault))
{
}

LinkResult FaultyLink::Begin(RequestKind kind, const std::string& name)
{
    if (!m_armed)
        return LinkResult::Ok;
    const auto index = static_cast<int>(m_log.size());
    m_log.push_back({kind, name, m_run, !m_drive->RunningProgram().empty()});
    if (m_fault.kind == LinkFault::StopsAnswering && index >= m_fault.request)
        m_silent = true;
    LinkResult result = LinkResult::Ok;
    if (m_silent)
        result = LinkResult::NoAnswer;
    else if (m_fault.kind == LinkFault::FailRequest && !m_struck && kind == m_fault.requestKind &&
             name == m_fault.name && m_run == m_fault.run) {
        m_struck = true;
        result = m_fault.result;
    }
    if (result != LinkResult::Ok)
        m_lastError = LinkResultText(result);
    return result;
}

LinkResult FaultyLink::Answer(LinkResult result)
{
    if (result != LinkResult::Ok)
        m_lastError = m_drive->LastError();
    return result;
}

double FaultyLink::Altered(const std::string& name, double value) const
{
    if (!m_armed)
        return value;
    if (m_fault.kind == LinkFault::MerBit && name == "MER" && m_run >= 0)
        return static_cast<double>(static_cast<long long>(value) | m_fault.bit);
    if (InRun(LinkFault::NoResult) && name == m_fault.name)
        return kNoResult;
    if (InRun(LinkFault::NeverStarts) && name == "STARTED")
        return 0.0;
    return value;
}

LinkResult FaultyLink::DownloadSetup(double now, const CMC_Setup& setup)
{
    if (const LinkResult failed = Begin(RequestKind::DownloadSetup, {}); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->DownloadSetup(now, setup));
}

LinkResult FaultyLink::StartProgram(double now, const ProgramRequest& program, const LogRequest* log)
{
    if (const LinkResult failed = Begin(RequestKind::StartProgram, program.name); failed != LinkResult::Ok)
        return failed;
    const LinkResult result = Answer(m_drive->StartProgram(now, program, log));
    if (result == LinkResult::Ok)
        ++m_run;
    return result;
}

LinkResult FaultyLink::StopProgram(double now)
{
    if (const LinkResult failed = Begin(RequestKind::StopProgram, {}); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->StopProgram(now));
}

LinkResult FaultyLink::ReadUserVariable(double now, const std::string& program, const std::string& name,
                                        double& value)
{
    if (const LinkResult failed = Begin(RequestKind::ReadUser, name); failed != LinkResult::Ok)
        return failed;
    const LinkResult result = Answer(m_drive->ReadUserVariable(now, program, name, value));
    value = Altered(name, value);
    return result;
}

LinkResult FaultyLink::WriteUserVariable(double now, const std::string& program, const std::string& name,
                                         double value)
{
    if (const LinkResult failed = Begin(RequestKind::WriteUser, name); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->WriteUserVariable(now, program, name, value));
}

LinkResult FaultyLink::ReadVariable(double now, const std::string& name, double& value)
{
    if (const LinkResult failed = Begin(RequestKind::ReadVariable, name); failed != LinkResult::Ok)
        return failed;
    const LinkResult result = Answer(m_drive->ReadVariable(now, name, value));
    value = Altered(name, value);
    return result;
}

LinkResult FaultyLink::WriteVariable(double now, const std::string& name, double value)
{
    if (const LinkResult failed = Begin(RequestKind::WriteVariable, name); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->WriteVariable(now, name, value));
}

LinkResult FaultyLink::WriteParameter(double now, const std::string& name, double value)
{
    if (const LinkResult failed = Begin(RequestKind::WriteParameter, name); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->WriteParameter(now, name, value));
}

LinkResult FaultyLink::GetAxisOn(double now, bool& on)
{
    if (const LinkResult failed = Begin(RequestKind::GetAxisOn, {}); failed != LinkResult::Ok)
        return failed;
    const LinkResult result = Answer(m_drive->GetAxisOn(now, on));
    if (m_armed && InRun(LinkFault::NeverEnds))
        on = true;
    return result;
}

LinkResult FaultyLink::UploadLog(double now, std::vector<std::vector<double>>& rows)
{
    if (const LinkResult failed = Begin(RequestKind::UploadLog, {}); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->UploadLog(now, rows));
}

std::vector<UnsolicitedFrame> FaultyLink::TakeUnsolicitedFrames(double now)
{
    if (m_silent)
        return {};
    return m_drive->TakeUnsolicitedFrames(now);
}

LinkResult FaultyLink::Reset(double now)
{
    if (const LinkResult failed = Begin(RequestKind::Reset, {}); failed != LinkResult::Ok)
        return failed;
    return Answer(m_drive->Reset(now));
}

} // namespace simtest
