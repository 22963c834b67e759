// A drive link that wraps the virtual drive and injects one fault into what
// the host sees: a request that fails, a "MER" bit set once a program runs,
// a result read as the no-result value, a program that never starts or
// never ends, a drive that stops answering. It logs every request, so that
// a clean run tells the requests, program runs and results of a dialog.
#pragma once

#include "ScriptedDrive.h"
#include "VirtualDrive.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace simtest {

using RequestKind = ScriptedDrive::Kind;

enum class LinkFault {
    None,
    FailRequest,    // the first `requestKind` request on `name` in run `run` fails with `result`
    StopsAnswering, // every request from request `request` on fails with NoAnswer
    MerBit,         // "MER" reads with `bit` set once a program has been started
    NoResult,       // `name` reads 1.2345e100 in run `run`
    NeverStarts,    // "STARTED" reads 0 in run `run`
    NeverEnds,      // the power stage reads on in run `run`
};

struct InjectedFault {
    LinkFault kind = LinkFault::None;
    int request = 0; // StopsAnswering: 0-based index into the request log
    RequestKind requestKind = RequestKind::DownloadSetup; // FailRequest
    LinkResult result = LinkResult::NoAnswer;
    std::uint16_t bit = 0;
    std::string name;
    int run = 0; // 0-based count of program starts
};

// One request as the host made it.
struct LoggedRequest {
    RequestKind kind;
    std::string name;    // program (StartProgram) or variable name
    int run;             // the program start it followed, -1 before the first
    bool programRunning; // the drive ran a program when the request came
};

class FaultyLink final : public DriveLink {
public:
    FaultyLink(std::shared_ptr<VirtualDrive> drive, InjectedFault fault);

    // From now on requests are logged and the fault strikes (the link
    // passes everything on until then).
    void Arm()
    {
        m_log.clear();
        m_armed = true;
    }
    const std::vector<LoggedRequest>& Requests() const { return m_log; }
    VirtualDrive& Drive() { return *m_drive; }

    LinkResult DownloadSetup(double now, const CMC_Setup& setup) override;
    LinkResult StartProgram(double now, const ProgramRequest& program, const LogRequest* log) override;
    LinkResult StopProgram(double now) override;
    LinkResult ReadUserVariable(double now, const std::string& program, const std::string& name,
                                double& value) override;
    LinkResult WriteUserVariable(double now, const std::string& program, const std::string& name,
                                 double value) override;
    LinkResult ReadVariable(double now, const std::string& name, double& value) override;
    LinkResult WriteVariable(double now, const std::string& name, double value) override;
    LinkResult WriteParameter(double now, const std::string& name, double value) override;
    LinkResult GetAxisOn(double now, bool& on) override;
    LinkResult UploadLog(double now, std::vector<std::vector<double>>& rows) override;
    std::vector<UnsolicitedFrame> TakeUnsolicitedFrames(double now) override;
    LinkResult Reset(double now) override;
    std::string LastError() const override { return m_lastError; }

private:
    // Logs the request; NoAnswer (or the injected result) when the fault
    // makes it fail, Ok when it goes on to the drive.
    LinkResult Begin(RequestKind kind, const std::string& name);
    // The drive's answer, remembered with its error text.
    LinkResult Answer(LinkResult result);
    bool InRun(LinkFault kind) const { return m_fault.kind == kind && m_run == m_fault.run; }
    // A read value as the fault shows it.
    double Altered(const std::string& name, double value) const;

    std::shared_ptr<VirtualDrive> m_drive;
    InjectedFault m_fault;
    std::vector<LoggedRequest> m_log;
    int m_run = -1;
    bool m_armed = false;
    bool m_struck = false;
    bool m_silent = false;
    std::string m_lastError;
};

} // namespace simtest
