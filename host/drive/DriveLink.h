// The one interface to a drive: programs started by name, user variables of
// the running program, drive variables and parameters by name, the power
// stage, the data logger and unsolicited frames. Every request carries the
// host's time in seconds, so a simulated drive runs on its own clock: the
// wall clock in the GUI, a fixed step per request in tests. No request
// blocks; a drive that stops answering returns NoAnswer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CMC_Setup;

enum class LinkResult {
    Ok,
    NotConnected,   // no drive behind the link
    NoAnswer,       // the drive stopped answering
    NoSuchProgram,  // the program is not in the drive's program set
    NoSuchVariable, // the name is unknown to the program or the drive
    Refused,        // the drive refused the request (for example a program already runs)
};

const char* LinkResultText(LinkResult result);

// A program to download and start: its name and the user variables it exchanges.
struct ProgramRequest {
    std::string name;
    std::vector<std::string> userVariables;
};

// What the drive logs while a program runs: drive variables sampled every
// `divider` speed-loop periods (current-loop periods when `fastLoop`), at
// most `points` samples.
struct LogRequest {
    std::vector<std::string> variables;
    int points = 0;
    int divider = 1;
    bool fastLoop = false;
};

// A frame the drive sends on its own (code 0xE900: one scope sample).
struct UnsolicitedFrame {
    std::uint16_t code = 0;
    std::vector<std::uint8_t> data;
};

class DriveLink {
public:
    virtual ~DriveLink() = default;

    // Writes the setup's registers into the drive, as a downloaded setup.
    virtual LinkResult DownloadSetup(double now, const CMC_Setup& setup) = 0;

    // Downloads and starts a program; the user variables start at 0 and keep
    // what the host wrote before the start. A log request (or null) starts
    // the logger with the program.
    virtual LinkResult StartProgram(double now, const ProgramRequest& program, const LogRequest* log) = 0;
    // Stops a running program and switches the power stage off.
    virtual LinkResult StopProgram(double now) = 0;

    virtual LinkResult ReadUserVariable(double now, const std::string& program, const std::string& name,
                                        double& value) = 0;
    virtual LinkResult WriteUserVariable(double now, const std::string& program, const std::string& name,
                                         double value) = 0;

    // Drive variables and parameters (registers) by name, in internal units.
    virtual LinkResult ReadVariable(double now, const std::string& name, double& value) = 0;
    virtual LinkResult WriteVariable(double now, const std::string& name, double value) = 0;
    virtual LinkResult WriteParameter(double now, const std::string& name, double value) = 0;

    // Whether the power stage is on.
    virtual LinkResult GetAxisOn(double now, bool& on) = 0;

    // The logged samples, one row per sample, one column per logged variable.
    // Ok with fewer rows while the log is still being recorded.
    virtual LinkResult UploadLog(double now, std::vector<std::vector<double>>& rows) = 0;

    // Frames that arrived since the last call.
    virtual std::vector<UnsolicitedFrame> TakeUnsolicitedFrames(double now) = 0;

    // Stops everything, power stage off, protections cleared.
    virtual LinkResult Reset(double now) = 0;

    // Why the last request failed, in words for the user.
    virtual std::string LastError() const = 0;
};
