// A drive for tests: plays a script instead of running programs, answers
// with exact values, fails where it is told to, and records every request so
// a test can check what the host did.
//
// Each program has a script per run (the k-th start of a program plays its
// k-th script; later starts repeat the last one). A run is counted in polls:
//   - "STARTED" reads 0 for the first `StartsAfter` reads, then 1;
//   - once started, the power stage reads on for `EndsAfter` further
//     GetAxisOn requests, then off: the program has ended.
// User variables start at 0, keep what the host wrote before the start, and
// read the run's `Result` values once the program has ended (or the run's
// `User` sequence, read by read, from the start). Drive variables read, in
// this order: the run's `EndVariable` value once ended, the run's `Variable`
// value while it is the latest run, the drive-wide `Variable` value, what
// the host last wrote, 0. A sequence gives one value per read, the last one
// repeating. "MER" therefore reads 0 unless a script sets it.
//
// Example (a preliminary test that starts at the second poll, runs for two
// more polls and reports a current of 120; a resistance run whose drive
// reports a short circuit once it has ended; the third request fails):
//
//   auto drive = std::make_shared<ScriptedDrive>();
//   drive->Program("Initial_Positioning_Test")
//       .StartsAfter(1).EndsAfter(2)
//       .Result("In1", 120)
//       .Variable("REFTST_V", 900).Variable("RINCTST_V", 12);
//   drive->Program("Ident_R_or_Rs").EndVariable("MER", 0x0002);
//   drive->Program("Ident_R_or_Rs", 1).Log({{1.0}, {1.2}, {1.1}});
//   drive->FailAt(3);
//   drive->Fail(ScriptedDrive::Kind::ReadUser, "In1");     // first read of In1
//   ...run the dialog...
//   EXPECT_EQ(drive->Count(ScriptedDrive::Kind::StopProgram), 1);
//   EXPECT_FALSE(drive->IsProgramRunning());
//   EXPECT_FALSE(drive->IsAxisOn());
#pragma once

#include "DriveLink.h"

#include <climits>
#include <map>
#include <string>
#include <vector>

class ScriptedDrive final : public DriveLink {
public:
    // The value a program reports when it has no valid result.
    static constexpr double kNoResult = 1.2345e100;
    // StartsAfter/EndsAfter: the program never starts / never ends.
    static constexpr int kNever = INT_MAX;

    enum class Kind {
        DownloadSetup,
        StartProgram,
        StopProgram,
        ReadUser,
        WriteUser,
        ReadVariable,
        WriteVariable,
        WriteParameter,
        GetAxisOn,
        UploadLog,
        TakeFrames,
        Reset,
    };

    // One request as the drive saw it. value: the value written, or the value
    // answered to a read (GetAxisOn: 1 on, 0 off; UploadLog: the row count).
    struct Request {
        Kind kind;
        std::string program; // StartProgram and user variables: the program
        std::string name;    // variable or parameter name
        double value = 0.0;
        double time = 0.0; // the host's time stamp [s]
        LinkResult result = LinkResult::Ok;
    };

    class RunScript {
    public:
        // Reads of "STARTED" that still give 0 (kNever: the program never starts).
        RunScript& StartsAfter(int polls);
        // GetAxisOn requests, after the start, that still read on (kNever:
        // the program never ends).
        RunScript& EndsAfter(int polls);
        RunScript& NeverStarts() { return StartsAfter(kNever); }
        RunScript& NeverEnds() { return EndsAfter(kNever); }
        // A user variable's value once the program has ended.
        RunScript& Result(const std::string& name, double value);
        // A user variable's values read by read from the start of the run.
        RunScript& User(const std::string& name, std::vector<double> values);
        // A drive variable while this run is the latest one.
        RunScript& Variable(const std::string& name, double value);
        RunScript& Variable(const std::string& name, std::vector<double> values);
        // A drive variable once the program has ended.
        RunScript& EndVariable(const std::string& name, double value);
        // The samples the logger uploads after this run (one row per sample,
        // one column per logged variable).
        RunScript& Log(std::vector<std::vector<double>> rows);

    private:
        friend class ScriptedDrive;
        int m_startsAfter = 1;
        int m_endsAfter = 1;
        std::map<std::string, double> m_results;
        std::map<std::string, std::vector<double>> m_user;
        std::map<std::string, std::vector<double>> m_variables;
        std::map<std::string, double> m_endVariables;
        std::vector<std::vector<double>> m_log;
    };

    // The script of the run-th start (0-based) of a program; created as a copy
    // of the script before it when new. Programs without a script run with
    // the defaults: started at the second read of "STARTED", ended at the
    // second GetAxisOn, no results.
    RunScript& Program(const std::string& name, int run = 0);

    // Drive-wide values of drive variables.
    ScriptedDrive& Variable(const std::string& name, double value);
    ScriptedDrive& Variable(const std::string& name, std::vector<double> values);

    // Failures. FailAt: the k-th request (1-based, all kinds counted) fails.
    // Fail: the occurrence-th request of that kind (and name, when not
    // empty: variable, parameter or program name) fails. StopAnswering: every
    // request from now on fails with NoAnswer.
    ScriptedDrive& FailAt(int k, LinkResult result = LinkResult::NoAnswer);
    ScriptedDrive& Fail(Kind kind, const std::string& name = {}, int occurrence = 1,
                        LinkResult result = LinkResult::NoAnswer);
    ScriptedDrive& StopAnswering();

    // Unsolicited frames handed out at the next TakeUnsolicitedFrames.
    void QueueFrame(UnsolicitedFrame frame) { m_frames.push_back(std::move(frame)); }

    // What happened.
    const std::vector<Request>& Requests() const { return m_requests; }
    int Count(Kind kind, const std::string& name = {}) const;
    // The last request of that kind (and name), or null.
    const Request* Last(Kind kind, const std::string& name = {}) const;
    // The value the host last wrote into a user variable of a program, or
    // into a drive variable or parameter; NaN when it never did.
    double Written(const std::string& program, const std::string& name) const;
    double Written(const std::string& name) const;
    // A program runs from its start until it ends by itself or is stopped.
    bool IsProgramRunning() const { return m_run.active && !m_run.ended; }
    bool IsAxisOn() const;
    const std::string& CurrentProgram() const { return m_run.program; }
    // How often the named program was started.
    int Starts(const std::string& program) const;

    // DriveLink
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
    struct Sequence {
        std::vector<double> values;
        std::size_t next = 0;
        double Take();
    };
    struct Run {
        bool active = false; // a program was started and not stopped
        bool ended = false;
        std::string program;
        std::vector<std::string> userVariables;
        RunScript script;
        int startedReads = 0;
        int axisReads = 0;
        bool started = false;
        bool hasLog = false;
        std::map<std::string, Sequence> user;
        std::map<std::string, Sequence> variables;
    };
    struct FailRule {
        Kind kind;
        std::string name;
        int occurrence;
        LinkResult result;
        int seen = 0;
    };

    // Records the request and decides whether it fails.
    LinkResult Begin(Kind kind, const std::string& program, const std::string& name, double value,
                     double now);
    void SetResult(LinkResult result, double value = 0.0);
    bool KnowsUserVariable(const std::string& program, const std::string& name) const;

    std::map<std::string, std::vector<RunScript>> m_scripts;
    std::map<std::string, int> m_starts;
    std::map<std::string, Sequence> m_driveValues;
    std::map<std::string, double> m_written;                     // drive variables and parameters
    std::map<std::string, std::map<std::string, double>> m_user; // program -> user variables
    std::map<int, LinkResult> m_failAt;
    std::vector<FailRule> m_failRules;
    bool m_silent = false;
    Run m_run;
    std::vector<Request> m_requests;
    std::vector<UnsolicitedFrame> m_frames;
    std::string m_lastError;
};

const char* KindName(ScriptedDrive::Kind kind);
