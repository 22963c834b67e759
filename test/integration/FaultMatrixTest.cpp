// Every test dialog, identification and tuning, run on the virtual drive
// against every fault injected into its link or its hardware. A clean run of
// each dialog tells its requests, program runs and results; the faults
// follow from it, so the matrix follows the dialogs as they change. Each
// cell must end the run cleanly with its message, leave no timer, no
// program and no power stage on (when the drive still answers), and leave
// in the setup only what the test may write. The matrix is printed when the
// executable ends: run it alone to see it whole.
#include "FaultyLink.h"
#include "VirtualDriveDialogTest.h"

#include "TestCurrent.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"
#include "TuningPlan.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace {

using namespace simtest;

constexpr const char* kMotorFile = "small-24V-60W.json";
constexpr int kStart = 10000;
constexpr int kResultText = 10002;
constexpr int kVoltageText = 1010; // the analogue reference's reading
constexpr const char* kStopped = "The test was stopped.";

// What the user does once the test has started.
enum class User {
    Waits,          // until the run ends
    StopsSampling,  // presses Stop while the Hall signals are sampled
    WatchesReading, // presses Stop once the analogue input shows
    CountsMoves,    // moves the shaft three times, then Stop
    Tunes,          // starts from the "Test" page
};

struct DialogRow {
    const char* name;
    std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> make;
    User user;
    // Parameters a failed run may leave written, on purpose.
    std::set<std::string> keptOnFailure;
    // The test's own text for a program input it could not write, if any.
    std::string inputNotWritten;
};

template <typename Dialog> std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> Make()
{
    return [](CMC_Setup* s) { return std::make_unique<Dialog>(s, 1, nullptr); };
}

// The Hall gain and offset test keeps the results it transferred before a
// transfer failed.
std::set<std::string> HallTransferParameters()
{
    std::set<std::string> names;
    for (const auto& transfer : CDetectHallGainOffset::kTransfers)
        names.insert(transfer.parameter);
    return names;
}

const std::vector<DialogRow>& Rows()
{
    static const std::vector<DialogRow> rows = {
        {"supply voltage", Make<CTestVdcDetection>(), User::Waits, {}, {}},
        {"phase connections", Make<CTestPhaseConnections>(), User::Waits, {}, {}},
        {"Hall signals", Make<CTestHallSignals>(), User::StopsSampling, {}, {}},
        {"pole pairs", Make<CDetectPolePairs>(), User::CountsMoves, {}, {}},
        {"Hall gain and offset", Make<CDetectHallGainOffset>(), User::Waits, HallTransferParameters(), {}},
        {"resistance and inductance",
         Make<CTestRL>(),
         User::Waits,
         {},
         "Error while setting the test parameters."},
        {"total inertia", Make<CTotalInertiaTest>(), User::Waits, {}, {}},
        {"analogue reference", Make<CTestAnalogueRef>(), User::WatchesReading, {}, {}},
        {"current tuning", Make<CTestCurrent>(), User::Tunes, {}, {}},
        // The start-up rule: the preliminary positioning runs without a minimum move.
        {"speed tuning", Make<CTestSpeedTuning>(), User::Tunes, {"ABSTART_MINMOVE"}, {}},
        {"position tuning", Make<CTestPositionTuning>(), User::Tunes, {"ABSTART_MINMOVE"}, {}},
    };
    return rows;
}

// The tuning tests within the motor's peak current, on profiles and
// bandwidths the loops can follow.
void PlanProfiles(CMC_Setup& setup)
{
    CMC_Setup* s = &setup;
    CMC_Parameter* limit = s->FindParameter("TestLimitCurrent");
    limit->SetValueInBaseUnit(std::min(s->GetParameterValueInBaseUnit("ImaxM"), limit->GetValueInBaseUnit()));
    const ProfilePlan speed = SpeedPlan(s);
    const ProfilePlan position =
        PositionPlan(s, s->GetParameterValueInBaseUnit("PositionControlType") == 1.0);
    const std::pair<const char*, double> values[] = {
        {"TestSpeed", speed.speed}, {"TaPS", speed.ramp},
        {"TaNS", speed.ramp},       {"TPS", speed.hold},
        {"PB_S", speed.bandwidth},  {"TestPosition", position.speed * position.ramp},
        {"TaPP", position.ramp},    {"TaNP", position.ramp},
        {"TPP", position.hold},     {"PB_P", position.bandwidth},
    };
    for (const auto& [name, value] : values)
        s->SetParameterValueInBaseUnit(name, value);
    DesignSpeedController(s);
    DesignPositionController(s);
}

// ---- The printed matrix -----------------------------------------------------------------------------------

struct Cell {
    int checked = 0;
    int good = 0;
    std::set<std::string> notes; // how the cells ended
};

std::map<std::string, std::map<std::string, Cell>>& Matrix()
{
    static std::map<std::string, std::map<std::string, Cell>> matrix;
    return matrix;
}

std::vector<std::string>& Columns()
{
    static std::vector<std::string> columns;
    return columns;
}

Cell& CellOf(const std::string& row, const std::string& column)
{
    if (std::find(Columns().begin(), Columns().end(), column) == Columns().end())
        Columns().push_back(column);
    return Matrix()[row][column];
}

std::string Shortened(const std::string& text)
{
    const std::string line = text.substr(0, text.find('\n'));
    return line.size() > 48 ? line.substr(0, 45) + "..." : line;
}

class PrintMatrix : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (Matrix().empty())
            return;
        std::ostringstream out;
        out << "\nFault matrix (cells checked / clean; n/a: why)\n";
        for (const auto& [row, cells] : Matrix()) {
            out << "\n" << row << "\n";
            for (const std::string& column : Columns()) {
                const auto it = cells.find(column);
                if (it == cells.end())
                    continue;
                const Cell& cell = it->second;
                out << "  " << std::left << std::setw(22) << column;
                if (cell.checked == 0)
                    out << "n/a";
                else
                    out << (cell.good == cell.checked ? "pass " : "FAIL ") << cell.good << "/"
                        << cell.checked;
                for (const std::string& note : cell.notes)
                    out << " | " << note;
                out << "\n";
            }
        }
        std::cout << out.str() << std::flush;
    }
};

[[maybe_unused]] const auto* const kPrinter = ::testing::AddGlobalTestEnvironment(new PrintMatrix);

// ---- One run ----------------------------------------------------------------------------------------------

struct Outcome {
    int result = -2;
    std::string error;
    std::string shown;
    bool timers = false;
    bool programStarted = false; // as the host sees it
    std::string program;         // running on the drive
    bool axisOn = false;
    std::set<std::string> changed; // parameters whose value changed
    std::vector<LoggedRequest> log;
    double duration = 0.0; // host time from Start to the end [s]
};

using Values = std::map<std::string, double>;

Values ParameterValues(const CMC_Setup& setup)
{
    Values values;
    for (const auto& parameter : setup.GetParameters())
        values[parameter->Name()] = parameter->GetValueInInternalUnit();
    return values;
}

std::set<std::string> Changed(const Values& before, const CMC_Setup& setup)
{
    std::set<std::string> changed;
    for (const auto& [name, value] : ParameterValues(setup)) {
        const double old = before.at(name);
        if (!(value == old || (std::isnan(value) && std::isnan(old))))
            changed.insert(name);
    }
    return changed;
}

bool IsResultRead(const LoggedRequest& r)
{
    return (r.kind == RequestKind::ReadUser || r.kind == RequestKind::ReadVariable) && r.run >= 0 &&
           r.name != "STARTED" && r.name != "MER";
}

// What a clean run of a dialog did.
struct CleanRun {
    Outcome outcome;
    int runs = 0;
    // The first request of each distinct stage: kind, name and program run.
    std::vector<int> stages;
    // Reads of results: a variable read once in a program run.
    std::vector<std::pair<int, std::string>> results;
    // Program runs that run until the user stops them.
    std::set<int> endless;
    // Program runs whose start ("STARTED") and end (the power stage) the
    // dialog polls.
    std::set<int> startPolled;
    std::set<int> endPolled;
};

CleanRun Analyse(Outcome outcome)
{
    CleanRun clean;
    std::set<std::tuple<RequestKind, std::string, int>> seen;
    std::map<std::pair<int, std::string>, int> reads;
    const auto& log = outcome.log;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const LoggedRequest& r = log[i];
        clean.runs = std::max(clean.runs, r.run + 1);
        if (seen.insert({r.kind, r.name, r.run}).second)
            clean.stages.push_back(static_cast<int>(i));
        if (IsResultRead(r))
            ++reads[{r.run, r.name}];
        if (r.kind == RequestKind::StopProgram && r.programRunning)
            clean.endless.insert(r.run);
        if (r.kind == RequestKind::ReadUser && r.name == "STARTED")
            clean.startPolled.insert(r.run);
        if (r.kind == RequestKind::GetAxisOn)
            clean.endPolled.insert(r.run);
    }
    for (const auto& [key, count] : reads)
        if (count == 1)
            clean.results.push_back(key);
    clean.outcome = std::move(outcome);
    return clean;
}

// The text the drive error check gives for a "MER" bit under a mask, empty
// when the mask lets it pass.
std::string DriveErrorText(const CMC_Setup& prepared, std::uint16_t bit, std::uint16_t mask)
{
    auto drive = std::make_shared<ScriptedDrive>();
    drive->Variable("MER", bit);
    CMC_Comm::SetActiveLink(drive, std::make_shared<SteppedClock>());
    auto setup = prepared.Clone();
    CMC_Comm::ConnectSetup(*setup);
    CMyTestDlg probe(setup.get(), CTestVdcDetection::kTemplateId, 1, nullptr);
    const bool passes = probe.CheckDriveErrors(0, mask) != 0;
    CMC_Comm::SetActiveLink(nullptr, nullptr);
    return passes ? std::string() : probe.m_strError;
}

constexpr std::uint16_t kDriveErrorBits[] = {0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040,
                                             0x0080, 0x0100, 0x0200, 0x0400, 0x0800, 0x8000};

enum class Group { Requests, Silence, DriveErrors, Programs, Hardware };

const char* GroupName(Group group)
{
    switch (group) {
    case Group::Requests:
        return "Requests";
    case Group::Silence:
        return "Silence";
    case Group::DriveErrors:
        return "DriveErrors";
    case Group::Programs:
        return "Programs";
    case Group::Hardware:
        return "Hardware";
    }
    return "?";
}

class FaultMatrix : public VirtualDriveDialogTest,
                    public ::testing::WithParamInterface<std::tuple<int, Group>> {
protected:
    void SetUp() override
    {
        VirtualDriveDialogTest::SetUp();
        CMC_Dialog::SetInstantTimers(true);
    }
    void TearDown() override
    {
        CMC_Dialog::SetInstantTimers(false);
        VirtualDriveDialogTest::TearDown();
    }

    const DialogRow& Row() const { return Rows()[static_cast<std::size_t>(std::get<0>(GetParam()))]; }

    // The setup a user has for the motor, the Hall registers commissioned,
    // the tuning tests on a single run with the data logger; made once.
    const CMC_Setup& Prepared()
    {
        static std::unique_ptr<CMC_Setup> prepared;
        if (!prepared) {
            prepared = Prepare(kMotorFile);
            CommissionHallsOn(Motor(), *prepared);
            for (const char* name : {"OnlinePlotS", "MultiCycleS", "OnlinePlotP", "MultiCycleP"})
                prepared->SetParameterValueInBaseUnit(name, 0.0);
            PlanProfiles(*prepared);
            ComputeRegistersFromParameters(prepared.get());
            ComputeParametersFromRegisters(prepared.get());
        }
        return *prepared;
    }

    static const MotorModel& Motor()
    {
        static const MotorModel motor = LoadMotor(kMotorFile);
        return motor;
    }

    const CleanRun& Clean()
    {
        static std::map<int, CleanRun> runs;
        const int row = std::get<0>(GetParam());
        auto it = runs.find(row);
        if (it == runs.end()) {
            Outcome outcome = RunDialog({}, {}, 60.0);
            EXPECT_EQ(outcome.result, 1) << Row().name << ": the clean run failed: " << outcome.error;
            it = runs.emplace(row, Analyse(std::move(outcome))).first;
        }
        return it->second;
    }

    // The host time the user waits for a run before pressing Stop [s].
    double Patience()
    {
        return Row().user == User::StopsSampling ? 4.0 : 1.5 * Clean().outcome.duration + 1.0;
    }

    // Runs the dialog on a fresh virtual drive with the faults, as its user
    // does; the user presses Stop once `patience` has passed.
    Outcome RunDialog(const InjectedFault& fault, const std::vector<std::string>& hardware, double patience)
    {
        VirtualDriveOptions options;
        options.busVoltage = kSupply;
        for (const std::string& name : hardware)
            EXPECT_TRUE(options.plant.faults.Add(name)) << name;
        auto drive = std::make_shared<VirtualDrive>(Motor(), options);
        auto link = std::make_shared<FaultyLink>(drive, fault);
        auto clock = std::make_shared<SteppedClock>(kStep);
        m_drive = drive.get();
        auto setup = Prepared().Clone();
        CMC_Comm::SetActiveLink(link, clock);
        EXPECT_TRUE(CMC_Comm::ConnectSetup(*setup));
        link->Arm();

        const auto dialog = Row().make(setup.get());
        const Values before = ParameterValues(*setup);
        Outcome outcome;
        user.OnDialog(dialog->GetTemplateId(), [&](DialogDriver& d) {
            const double started = clock->Peek();
            EveryTurn stop([&] {
                if (!dialog->m_bRunning || clock->Peek() < started + patience)
                    return false;
                d.Click(kStart);
                return true;
            });
            Work(d, *dialog);
            EXPECT_TRUE(d.WaitUntil([&] { return dialog->m_bRunning == 0; })) << "the run did not end";
            outcome.duration = clock->Peek() - started;
            outcome.result = dialog->m_nResult;
            outcome.error = dialog->m_strError;
            outcome.shown = d.Text(kResultText).toStdString();
            outcome.timers = dialog->HasActiveTimers();
            outcome.programStarted = dialog->IsProgramStarted();
            d.Cancel();
        });
        user.AnswerMessages([](const MessageBoxRequest& request) {
            return (request.type & 0x0F) == MB_YESNOCANCEL ? IDYES : IDOK;
        });
        dialog->DoModal();
        outcome.log = link->Requests();
        outcome.changed = Changed(before, *setup);
        outcome.program = drive->RunningProgram();
        bool on = false;
        drive->GetAxisOn(drive->Time(), on);
        outcome.axisOn = on;
        CMC_Comm::SetActiveLink(nullptr, nullptr);
        return outcome;
    }

    void Work(DialogDriver& d, const CMC_TestDlg& dialog)
    {
        const auto running = [&] { return dialog.m_bRunning != 0; };
        switch (Row().user) {
        case User::Waits:
        case User::StopsSampling:
            d.Click(kStart);
            return;
        case User::Tunes:
            d.SelectTab(CTestCurrent::kTab, 1);
            d.Click(kStart);
            return;
        case User::WatchesReading:
            d.Click(kStart);
            d.WaitUntil([&] { return !running() || !d.Text(kVoltageText).isEmpty(); });
            if (running())
                d.Click(kStart);
            return;
        case User::CountsMoves:
            d.Click(kStart);
            d.WaitUntil([&] { return !running() || d.IsVisible(CDetectPolePairs::kMoveButton); });
            for (int move = 0; move < 3 && running() && d.IsVisible(CDetectPolePairs::kMoveButton); ++move)
                d.Click(CDetectPolePairs::kMoveButton);
            if (running())
                d.Click(kStart);
            return;
        }
    }

    // What a cell expects of the run's end.
    enum class End { Fails, Passes, FailsOrPasses, Stopped };
    struct Expected {
        Expected(End e, std::string text = {}, bool answers = true)
            : end(e), message(std::move(text)), driveAnswers(answers)
        {
        }
        End end;
        std::string message; // empty: any message but none
        bool driveAnswers;
        std::string alternative; // another text the test may have for it
    };

    // Checks a cell and counts it into the matrix; `what` names the cell in
    // a failure.
    void Check(const std::string& column, const std::string& what, const Outcome& o, const Expected& e)
    {
        std::vector<std::string> wrong;
        const auto expect = [&](bool holds, const std::string& text) {
            if (!holds)
                wrong.push_back(text);
        };
        const bool passed = o.result == 1;
        switch (e.end) {
        case End::Fails:
            expect(o.result == 0, "ends with result " + std::to_string(o.result) + " (" + o.shown + ")");
            break;
        case End::Passes:
            expect(passed, "does not pass: " + o.error);
            break;
        case End::FailsOrPasses:
            expect(o.result == 0 || passed, "ends with result " + std::to_string(o.result));
            break;
        case End::Stopped:
            expect(o.result == -1 && o.shown == kStopped,
                   "is not stopped: " + std::to_string(o.result) + " " + o.shown);
            break;
        }
        if (o.result == 0) {
            expect(!o.error.empty() && o.shown == o.error,
                   "shows \"" + o.shown + "\" for \"" + o.error + "\"");
            if (!e.message.empty())
                expect(o.error == e.message || (!e.alternative.empty() && o.error == e.alternative),
                       "says \"" + o.error + "\", not \"" + e.message + "\"");
        }
        expect(!o.timers, "leaves a timer");
        expect(!o.programStarted, "still counts a program as started");
        if (e.driveAnswers) {
            expect(o.program.empty(), "leaves " + o.program + " running");
            expect(!o.axisOn, "leaves the power stage on");
        }
        std::set<std::string> allowed = Row().keptOnFailure;
        if (passed)
            allowed.insert(Clean().outcome.changed.begin(), Clean().outcome.changed.end());
        for (const std::string& name : o.changed)
            expect(allowed.count(name) != 0, "writes " + name);
        for (const std::string& text : wrong)
            ADD_FAILURE() << Row().name << ", " << column << ", " << what << ": " << text;

        Cell& cell = CellOf(Row().name, column);
        ++cell.checked;
        if (wrong.empty())
            ++cell.good;
        cell.notes.insert(o.result == 1    ? std::string("passes")
                          : o.result == -1 ? std::string("stopped")
                                           : Shortened(o.error));
    }

    void NotApplicable(const std::string& column, const std::string& why)
    {
        CellOf(Row().name, column).notes.insert(why);
    }

    void Requests();
    void Silence();
    void DriveErrors();
    void Programs();
    void Hardware();
};

std::string Describe(const LoggedRequest& r)
{
    return std::string(KindName(r.kind)) + (r.name.empty() ? "" : " " + r.name) + " in run " +
           std::to_string(r.run);
}

// The message a failed request ends the run with: the link's text, or the
// internal error where the step that failed is the program's start, the
// log's upload or the drive error check.
std::string MessageForFailed(const LoggedRequest& r, LinkResult result)
{
    if (r.kind == RequestKind::StartProgram || r.kind == RequestKind::DownloadSetup ||
        r.kind == RequestKind::UploadLog || r.name == "MER")
        return CMC_TestDlg::msc_pszErrInternal;
    return LinkResultText(result);
}

bool RepeatedInItsRun(const std::vector<LoggedRequest>& log, int index)
{
    const LoggedRequest& r = log[static_cast<std::size_t>(index)];
    return std::any_of(log.begin() + index + 1, log.end(), [&](const LoggedRequest& later) {
        return later.kind == r.kind && later.name == r.name && later.run == r.run;
    });
}

// The other answer a request may get besides silence.
LinkResult Refusal(const LoggedRequest& r)
{
    return r.kind == RequestKind::ReadUser || r.kind == RequestKind::ReadVariable ? LinkResult::NoSuchVariable
                                                                                  : LinkResult::Refused;
}

// Every stage's first request fails, without an answer and with a refusal.
// The last stop of a run that passed fails without changing its outcome.
void FaultMatrix::Requests()
{
    const CleanRun& clean = Clean();
    for (const int stage : clean.stages) {
        const LoggedRequest& r = clean.outcome.log[static_cast<std::size_t>(stage)];
        for (const LinkResult result : {LinkResult::NoAnswer, Refusal(r)}) {
            InjectedFault fault;
            fault.kind = LinkFault::FailRequest;
            fault.requestKind = r.kind;
            fault.name = r.name;
            fault.run = r.run;
            fault.result = result;
            const Outcome o = RunDialog(fault, {}, Patience());
            Expected e{End::Fails, MessageForFailed(r, result)};
            if (r.kind == RequestKind::WriteUser)
                e.alternative = Row().inputNotWritten;
            // A request the dialog makes again before it decides may be lost once.
            if (RepeatedInItsRun(clean.outcome.log, stage))
                e.end = End::FailsOrPasses;
            if (r.kind == RequestKind::StopProgram)
                e = {End::Passes, {}};
            Check(std::string("request ") + (result == LinkResult::NoAnswer ? "no answer" : "refused"),
                  Describe(r), o, e);
        }
    }
}

void FaultMatrix::Silence()
{
    const CleanRun& clean = Clean();
    // From the first request, and from the first after each program start.
    std::set<int> from = {0};
    for (std::size_t i = 1; i < clean.outcome.log.size(); ++i)
        if (clean.outcome.log[i].run != clean.outcome.log[i - 1].run)
            from.insert(static_cast<int>(i));
    for (const int request : from) {
        InjectedFault fault;
        fault.kind = LinkFault::StopsAnswering;
        fault.request = request;
        const Outcome o = RunDialog(fault, {}, Patience());
        // The drive is out of reach: only the host's side can be checked.
        const LoggedRequest& first = clean.outcome.log[static_cast<std::size_t>(request)];
        Check("stops answering", "from " + Describe(first), o,
              {End::Fails, MessageForFailed(first, LinkResult::NoAnswer), false});
    }
}

// Each "MER" bit once a program runs: the supply, i2t and temperature
// protections fail every test whatever it watches; another bit fails the
// tests that watch it.
void FaultMatrix::DriveErrors()
{
    const CleanRun& clean = Clean();
    ASSERT_GT(clean.runs, 0);
    for (const std::uint16_t bit : kDriveErrorBits) {
        const std::string text = DriveErrorText(Prepared(), bit, 0xFFFF);
        const bool everyTest = !DriveErrorText(Prepared(), bit, 0).empty();
        InjectedFault fault;
        fault.kind = LinkFault::MerBit;
        fault.bit = bit;
        const Outcome o = RunDialog(fault, {}, Patience());
        std::ostringstream name;
        name << "bit 0x" << std::hex << std::setw(4) << std::setfill('0') << bit;
        Check("MER bit", name.str(), o, {everyTest || o.result != 1 ? End::Fails : End::Passes, text});
    }
}

// A result read as the no-result value; a program that never starts or
// never ends, which the user stops once he has waited long enough (a program
// that runs until Stop by design has no end to miss).
void FaultMatrix::Programs()
{
    const CleanRun& clean = Clean();
    if (clean.results.empty())
        NotApplicable("no result", "reads no result");
    for (const auto& [run, name] : clean.results) {
        InjectedFault fault;
        fault.kind = LinkFault::NoResult;
        fault.run = run;
        fault.name = name;
        const Outcome o = RunDialog(fault, {}, Patience());
        Check("no result", name + " in run " + std::to_string(run), o,
              {End::Fails, CMC_TestDlg::msc_pszErrInternal});
    }
    for (int run = 0; run < clean.runs; ++run) {
        for (const LinkFault kind : {LinkFault::NeverStarts, LinkFault::NeverEnds}) {
            const std::string column = kind == LinkFault::NeverStarts ? "never starts" : "never ends";
            const std::string which = "run " + std::to_string(run);
            if (kind == LinkFault::NeverEnds && clean.endless.count(run) != 0) {
                NotApplicable(column, which + " ends on Stop");
                continue;
            }
            if ((kind == LinkFault::NeverStarts ? clean.startPolled : clean.endPolled).count(run) == 0) {
                NotApplicable(column, which + " is watched otherwise");
                continue;
            }
            InjectedFault fault;
            fault.kind = kind;
            fault.run = run;
            const Outcome o = RunDialog(fault, {}, Patience());
            Check(column, which, o, {End::Stopped, {}});
        }
    }
}

// Each fault of the motor and the drive: the test that can see it fails
// with its message, one that cannot passes; a drive that stops answering
// fails with the link's text.
void FaultMatrix::Hardware()
{
    // The silent drive fails the first request after the first start.
    const auto& log = Clean().outcome.log;
    const auto first =
        std::find_if(log.begin(), log.end(), [](const LoggedRequest& r) { return r.run == 0; });
    ASSERT_NE(first, log.end());
    for (const std::string& name : FaultSet::KnownNames()) {
        const Outcome o = RunDialog({}, {name}, Patience());
        if (name == "no-answer")
            Check(name, name, o, {End::Fails, MessageForFailed(*first, LinkResult::NoAnswer), false});
        else
            Check(name, name, o, {End::FailsOrPasses, {}});
    }
}

TEST_P(FaultMatrix, EndsCleanly)
{
    switch (std::get<1>(GetParam())) {
    case Group::Requests:
        return Requests();
    case Group::Silence:
        return Silence();
    case Group::DriveErrors:
        return DriveErrors();
    case Group::Programs:
        return Programs();
    case Group::Hardware:
        return Hardware();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDialog, FaultMatrix,
                         ::testing::Combine(::testing::Range(0, 11),
                                            ::testing::Values(Group::Requests, Group::Silence,
                                                              Group::DriveErrors, Group::Programs,
                                                              Group::Hardware)),
                         [](const ::testing::TestParamInfo<std::tuple<int, Group>>& info) {
                             std::string name =
                                 Rows()[static_cast<std::size_t>(std::get<0>(info.param))].name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name + "_" + GroupName(std::get<1>(info.param));
                         });

} // namespace
