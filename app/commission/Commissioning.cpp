#include "Commissioning.h"

#include "DialogSteps.h"
#include "HallCheck.h"
#include "HallRegisters.h"

#include "Comm.h"
#include "DetectHallGainOffset.h"
#include "DetectPolePairs.h"
#include "DriveClock.h"
#include "Helpers.h"
#include "MotorEditor.h"
#include "RotatingVoltageResponse.h"
#include "TestCurrent.h"
#include "TestDlg.h"
#include "TestHallSignals.h"
#include "TestPhaseConnections.h"
#include "TestPositionTuning.h"
#include "TestRL.h"
#include "TestSpeedTuning.h"
#include "TestVdcDetection.h"
#include "TotalInertiaTest.h"
#include "VirtualDrive.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <numbers>
#include <ostream>
#include <sstream>

namespace {

using namespace commissioning;

// The buttons of the Drive Setup and Motor Setup dialogs that open each test.
constexpr int kDriveSetup = 106, kMotorSetup = 108;
constexpr int kSupplyButton = 3171, kMotorSetupButton = 10019, kCurrentButton = 3137, kSpeedButton = 3178,
              kPositionButton = 3198;
constexpr int kPhasesButton = 1175, kHallSignalsButton = 1188, kPolePairsButton = 1176,
              kHallGainsButton = 3348, kRLButton = 1177;
constexpr int kDatabaseCombo = 10010, kMotorCombo = 10011;
constexpr int kTestCurrentEdit = 1005;
// The drive's clock per request: coarse for the tests, fine for the Hall
// signals, which are watched as they turn.
constexpr double kStep = 0.02, kHallStep = 0.002;
// The inertia test's ramp to its speed limit lasts at least this long with
// the datasheet's rotor inertia alone [s]: shorter, the Hall sensors' noise
// on the few positions it takes spoils the acceleration's fit.
constexpr double kMinInertiaRamp = 0.004;

std::string Percent(double fraction)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(fraction < 0.1 ? 2 : 1) << 100.0 * fraction << " %";
    return text.str();
}

// Sets the folder the tests save their plots into while it lives.
class PlotFolder {
public:
    explicit PlotFolder(const QString& folder) : m_previous(qgetenv("VELMARO_PLOT_DIR"))
    {
        qputenv("VELMARO_PLOT_DIR", folder.toUtf8());
    }
    ~PlotFolder()
    {
        if (m_previous.isEmpty())
            qunsetenv("VELMARO_PLOT_DIR");
        else
            qputenv("VELMARO_PLOT_DIR", m_previous);
    }
    PlotFolder(const PlotFolder&) = delete;
    PlotFolder& operator=(const PlotFolder&) = delete;

private:
    QByteArray m_previous;
};

} // namespace

struct Commissioning::Test {
    const char* name;
    std::vector<const char*> values;
    double allowedSpread;
};

namespace {

const Commissioning::Test kSupplyTest = {"Supply voltage", {"Vdc"}, 0.005};
const Commissioning::Test kPhasesTest = {"Phase connections", {}, 0.0};
const Commissioning::Test kHallSignalsTest = {"Hall signals", {}, 0.0};
const Commissioning::Test kPolePairsTest = {"Pole pairs", {"pp"}, 0.0};
const Commissioning::Test kHallGainsTest = {
    "Hall gains and offsets",
    {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN", "HALLAOFF", "HALLBOFF", "HALLCOFF"},
    0.01};
const Commissioning::Test kHallCheck = {"Hall angle check", {}, 0.0};
const Commissioning::Test kRLTest = {"Resistance and inductance", {"R", "L"}, 0.01};
const Commissioning::Test kInertiaTest = {"Total inertia", {"Jt"}, 0.02};

} // namespace

// Follows a test's status text: each new text is a stage, printed as it
// starts and timed until the next.
class Commissioning::Watch {
public:
    Watch(Commissioning& run, std::string test) : m_run(run), m_test(std::move(test)) {}
    ~Watch() { EndStage(); }

    void Poll(DialogDriver& d)
    {
        const QString status = d.Text(kStatus).simplified();
        if (status.isEmpty() || status == m_status)
            return;
        EndStage();
        m_status = status;
        m_wall = m_run.Elapsed();
        m_drive = m_run.m_drive.Time();
        m_run.Say(m_test + ": " + status.toStdString());
    }

private:
    void EndStage()
    {
        if (m_status.isEmpty())
            return;
        m_run.m_result.stages.push_back(
            {m_test, m_status.toStdString(), m_run.Elapsed() - m_wall, m_run.m_drive.Time() - m_drive});
        m_status.clear();
    }

    Commissioning& m_run;
    std::string m_test;
    QString m_status;
    double m_wall = 0.0;
    double m_drive = 0.0;
};

Commissioning::Commissioning(CommissionOptions options, const MotorModel& motor, VirtualDrive& drive,
                             SteppedClock& clock, std::ostream& progress)
    : m_options(std::move(options)), m_motor(motor), m_drive(drive), m_clock(clock), m_progress(progress)
{
    m_result.setupFile = m_options.setupFile;
    m_result.motorFile = m_options.motorFile;
    m_result.faults = m_options.faults;
}

Commissioning::~Commissioning() = default;

double Commissioning::Elapsed() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
}

void Commissioning::Say(const std::string& line)
{
    m_progress << '[' << std::fixed << std::setprecision(1) << std::setw(6) << Elapsed() << " s] " << line
               << '\n'
               << std::defaultfloat << std::flush;
}

// Ends a dialog the engineer is done with: OK while everything passed, else Cancel.
void Commissioning::Close(DialogDriver& d) const
{
    if (Failed())
        d.Cancel();
    else
        d.Ok();
}

void Commissioning::Fail(const std::string& test, const std::string& message)
{
    if (Failed())
        return;
    m_result.failedTest = test;
    m_result.failure = message;
    Say("FAILED: " + test + ": " + message);
}

bool Commissioning::Run(CMC_Setup& setup, const EditSetup& editSetup)
{
    m_started = std::chrono::steady_clock::now();
    m_setup = &setup;
    m_result.supplyVoltage = m_drive.SupplyVoltage();
    const std::unique_ptr<CMC_Setup> before = setup.Clone();
    m_clock.SetStep(kStep);
    m_user = std::make_unique<ScriptedUser>();
    m_user->AnswerMessages([this](const MessageBoxRequest& request) {
        const unsigned buttons = request.type & 0x0F;
        if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL)
            return Failed() ? IDNO : IDYES;
        return IDOK;
    });
    m_user->OnDialog(kMotorSetup, [this](DialogDriver& d) { OnMotorSetup(d); });
    m_user->OnDialog(kDriveSetup, [this](DialogDriver& d) { OnDriveSetup(d); });
    ScriptTestDialogs();
    CMC_Dialog::SetInstantTimers(true);
    const PlotFolder plots(m_options.workFolder);
    const int edited = editSetup(&setup);
    CMC_Dialog::SetInstantTimers(false);
    m_user.reset();
    if (edited != 1 && !Failed())
        Fail("Setup editor", "the editor did not end with OK");
    m_result.passed = !Failed();
    if (m_result.passed) {
        GatherGains(setup);
        m_result.changes = SetupDifferences(*before, setup);
    }
    m_result.wallSeconds = Elapsed();
    return m_result.passed;
}

// ---- The editor's dialogs --------------------------------------------------------------------

void Commissioning::OnMotorSetup(DialogDriver& d)
{
    if (++m_motorSetupOpens == 1)
        PickMotor(d);
    else
        RunMotorTests(d);
    Close(d);
}

// Picks the motor from the database that holds its file (the library's or
// the user's); a motor file kept elsewhere is typed in from its datasheet.
void Commissioning::PickMotor(DialogDriver& d)
{
    const QFileInfo file(QString::fromStdString(m_options.motorFile));
    QStringList errors;
    const std::vector<MotorRecord> records = MotorDatabase::Read(file.absolutePath(), errors);
    const auto record = std::find_if(records.begin(), records.end(), [&](const MotorRecord& r) {
        return QFileInfo(r.path).canonicalFilePath() == file.canonicalFilePath();
    });
    if (record == records.end()) {
        Fail("Motor database", "the motor file " + m_options.motorFile + " cannot be read" +
                                   (errors.isEmpty() ? std::string() : ": " + errors.front().toStdString()));
        return;
    }
    m_result.motorName = record->name.toStdString();
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    const int database = folder == QFileInfo(MotorDatabase::LibraryFolder()).canonicalFilePath() ? 0
                         : folder == QFileInfo(MotorDatabase::UserFolder()).canonicalFilePath()  ? 1
                                                                                                 : -1;
    if (database >= 0) {
        d.SelectComboIndex(kDatabaseCombo, database);
        d.SelectComboIndex(kMotorCombo, ComboIndexOf(d, kMotorCombo, record->name));
        Say("Motor \"" + m_result.motorName + "\" picked from the motor database");
    } else {
        auto* dialog = dynamic_cast<CMC_EditSetupDlg*>(d.Dialog());
        for (const auto& [name, value] : record->parameters)
            dialog->UserSetsParameter(name, value);
        dialog->RefreshAllParameters(0);
        Say("Motor \"" + m_result.motorName + "\" typed in from its datasheet");
    }
    m_datasheet = record->parameters;
}

namespace {

// The test current the engineer types [A]: 60 % of the motor's nominal
// current, as far as the drive allows (a little below its largest value,
// which the edit would take as beyond it once shown in its unit): enough
// that the drive's dead time weighs little and the field carries a heavy
// rotor or a load such as gravity, and never more than the motor takes for
// long.
double TestCurrentFor(const CMC_Setup& setup)
{
    return std::min(0.6 * Base(&setup, "In"), 0.99 * setup.FindParameter("TestCurrent")->GetMaxInBaseUnit());
}

// Why the drive cannot test the motor, or empty: a PWM ripple larger than
// half the test current makes the current change sign within each period,
// so no test holds it steady and the dead time reads as resistance.
std::string RippleOutweighsTheTestCurrent(const CMC_Setup& setup)
{
    const double star = Base(&setup, "L") / (Base(&setup, "MotorPhaseConnectionType") == 1.0 ? 3.0 : 1.0);
    const double ripple = PwmRippleCurrent(Base(&setup, "Vdc"), 1.0 / Base(&setup, "PWM_freq"), star);
    const double halfCurrent = 0.5 * TestCurrentFor(setup);
    if (!(halfCurrent <= ripple))
        return {};
    std::ostringstream text;
    text.precision(2);
    text << std::fixed << "the drive cannot test this motor: the PWM ripple of its inductance (" << star * 1e6
         << " \u00b5H) is " << ripple << " A, more than half the test current (" << halfCurrent
         << " A) the drive and the motor allow, so the current changes sign within each PWM period and no "
            "test holds it steady. A drive with a higher PWM frequency or a lower supply voltage is needed.";
    return text.str();
}

} // namespace

void Commissioning::RunMotorTests(DialogDriver& d)
{
    if (const std::string why = RippleOutweighsTheTestCurrent(*SetupOf(d)); !why.empty()) {
        Fail("Motor Setup", why);
        return;
    }
    Identify(d, kPhasesButton, kPhasesTest, 1);
    m_hallsCalibrated = false;
    Identify(d, kHallSignalsButton, kHallSignalsTest, 1);
    Identify(d, kPolePairsButton, kPolePairsTest);
    Identify(d, kHallGainsButton, kHallGainsTest);
    m_hallsCalibrated = true;
    Identify(d, kHallSignalsButton, kHallCheck, 1);
    Identify(d, kRLButton, kRLTest);
}

void Commissioning::OnDriveSetup(DialogDriver& d)
{
    m_setup = SetupOf(d);
    struct Step {
        int button;
        const Test* test; // an identification, else a dialog opened once
        const char* label;
    };
    const Step steps[] = {{kSupplyButton, &kSupplyTest, nullptr},
                          {kMotorSetupButton, nullptr, "Motor Setup"},
                          {kCurrentButton, nullptr, "Current loop"},
                          {kSpeedButton, nullptr, "Speed loop"},
                          {kPositionButton, nullptr, "Position loop"}};
    for (const Step& step : steps) {
        if (Failed())
            break;
        if (step.test)
            Identify(d, step.button, *step.test);
        else
            OpenDialog(d, step.button, step.label);
    }
    Close(d);
}

// Presses a button that opens a dialog. The time the dialog took beyond the
// stages of its tests (opening, drawing, closing, the recompute) is kept as a
// stage of its own, so that the stages add up to the whole run.
void Commissioning::OpenDialog(DialogDriver& parent, int button, const std::string& label)
{
    const std::size_t first = m_result.stages.size();
    double wall = Elapsed(), drive = m_drive.Time();
    parent.Click(button);
    for (std::size_t k = first; k < m_result.stages.size(); ++k) {
        wall += m_result.stages[k].wallSeconds;
        drive += m_result.stages[k].driveSeconds;
    }
    m_result.stages.push_back(
        {label, "dialog: opening, drawing, closing", Elapsed() - wall, m_drive.Time() - drive});
}

// ---- Identification ---------------------------------------------------------------------------

IdentifiedValue& Commissioning::Value(const Test& test, const char* name)
{
    for (IdentifiedValue& value : m_result.identified)
        if (value.name == name)
            return value;
    IdentifiedValue value;
    value.test = test.name;
    value.name = name;
    const CMC_Parameter* p = m_setup->FindParameter(name);
    value.unit = p->GetUnitName();
    value.allowedSpread = test.allowedSpread;
    for (const auto& [parameter, base] : m_datasheet)
        if (parameter == name)
            value.datasheet = p->BaseToDisplay(base);
    value.truth = TrueValue(name);
    m_result.identified.push_back(value);
    return m_result.identified.back();
}

void Commissioning::Identify(DialogDriver& parent, int button, const Test& test, int runs)
{
    for (int run = 1; run <= runs && !Failed(); ++run) {
        m_label = runs > 1 ? std::string(test.name) + " (run " + std::to_string(run) + ")" : test.name;
        OpenDialog(parent, button, m_label);
        if (Failed())
            return;
        for (const char* name : test.values) {
            CMC_Parameter* p = m_setup->FindParameter(name);
            Value(test, name).runs.push_back(p->BaseToDisplay(p->GetValueInBaseUnit()));
        }
    }
    for (const char* name : test.values) {
        IdentifiedValue& value = Value(test, name);
        Judge(value);
        std::string line =
            value.name + " = " + ShortNumber(value.Kept()) + (value.unit.empty() ? "" : " " + value.unit);
        if (std::isfinite(value.truth))
            line += " (true " + ShortNumber(value.truth) + ")";
        Say(line);
        for (const std::string& flag : value.flags) {
            Say("FLAG " + value.name + ": " + flag);
            if (m_options.strict)
                Fail(m_currentTitle.empty() ? test.name : m_currentTitle, value.name + ": " + flag);
        }
    }
}

// The total inertia, identified from the speed test's page.
void Commissioning::IdentifyInertia(DialogDriver& speedTest)
{
    Identify(speedTest, CTestSpeedTuning::kIdentify, kInertiaTest);
}

// A value that differs from the datasheet by more than 30 %, or whose runs
// differ by more than the test's noise allows, is flagged.
void Commissioning::Judge(IdentifiedValue& value)
{
    if (value.runs.empty())
        return;
    const auto [low, high] = std::minmax_element(value.runs.begin(), value.runs.end());
    double mean = 0.0;
    for (double run : value.runs)
        mean += run / static_cast<double>(value.runs.size());
    const double spread = mean != 0.0 ? (*high - *low) / std::abs(mean) : *high - *low;
    if (spread > value.allowedSpread)
        value.flags.push_back("the runs differ by " + Percent(spread) +
                              ", more than the test's noise allows (" + Percent(value.allowedSpread) + ")");
    if (std::isfinite(value.datasheet) && value.datasheet != 0.0) {
        const double off = std::abs(value.Kept() - value.datasheet) / std::abs(value.datasheet);
        if (off > 0.3)
            value.flags.push_back("differs from the datasheet by " + Percent(off));
    }
}

// What the virtual drive's motor truly is, in the parameter's display unit;
// NaN for what it cannot say.
double Commissioning::TrueValue(const std::string& name) const
{
    const CMC_Parameter* p = m_setup->FindParameter(name);
    const HallRegisters halls = IdealHallRegisters(m_motor, Compute_ADCMaxValue(m_setup));
    const std::pair<const char*, double> truths[] = {
        {"Vdc", m_result.supplyVoltage},        {"pp", m_motor.polePairs},      {"R", m_motor.R},
        {"L", 0.5 * (m_motor.Ld + m_motor.Lq)}, {"Jt", m_motor.TotalInertia()}, {"HALLAGAIN", halls.gain[0]},
        {"HALLBGAIN", halls.gain[1]},           {"HALLCGAIN", halls.gain[2]},   {"HALLAOFF", halls.offset[0]},
        {"HALLBOFF", halls.offset[1]},          {"HALLCOFF", halls.offset[2]},
    };
    for (const auto& [parameter, base] : truths)
        if (name == parameter)
            return p->BaseToDisplay(base);
    return std::numeric_limits<double>::quiet_NaN();
}

void Commissioning::ScriptTestDialogs()
{
    for (int templateId :
         {CTestVdcDetection::kTemplateId, CTestPhaseConnections::kTemplateId,
          CDetectHallGainOffset::kTemplateId, CTestRL::kTemplateId, CTotalInertiaTest::kTemplateId})
        m_user->OnDialog(templateId, [this](DialogDriver& d) { RunTestDialog(d, {}); });
    m_user->OnDialog(CTestHallSignals::kTemplateId, [this](DialogDriver& d) {
        RunTestDialog(d, [this](DialogDriver& h) { WatchHallSignals(h); });
    });
    m_user->OnDialog(CDetectPolePairs::kTemplateId, [this](DialogDriver& d) {
        RunTestDialog(d, [this](DialogDriver& p) { CountPolePairs(p); });
    });
    m_user->OnDialog(CTestCurrent::kTemplateId, [this](DialogDriver& d) { TuneCurrentLoop(d); });
    m_user->OnDialog(CTestSpeedTuning::kTemplateId, [this](DialogDriver& d) { TuneSpeedLoop(d); });
    m_user->OnDialog(CTestPositionTuning::kTemplateId, [this](DialogDriver& d) { TunePositionLoop(d); });
    m_user->OnDialog(kFiltersTemplate, [this](DialogDriver& d) { SetNotch(d); });
}

// Start, the test's own work (`during`: what the user does while it runs),
// the end of the run; then Close, keeping what it found when it passed.
void Commissioning::RunTestDialog(DialogDriver& d, const std::function<void(DialogDriver&)>& during)
{
    if (!Failed() && dynamic_cast<CMC_TestDlg*>(d.Dialog())) {
        TypeTestCurrent(d);
        FollowRun(d, m_label, during);
    }
    d.Cancel();
}

// Starts a run of the test (`start`, else Start) and follows it to its end,
// printing its stages; false (the commissioning has failed) when it did not pass.
bool Commissioning::FollowRun(DialogDriver& d, const std::string& label,
                              const std::function<void(DialogDriver&)>& start)
{
    const auto* test = dynamic_cast<CMC_TestDlg*>(d.Dialog());
    m_currentTitle = d.Dialog()->windowTitle().toStdString();
    Watch watch(*this, label);
    m_watch = &watch;
    if (start)
        start(d);
    else
        d.Click(kStart);
    const bool ended = d.WaitUntil([&] {
        watch.Poll(d);
        return test->m_bRunning == 0;
    });
    watch.Poll(d);
    m_watch = nullptr;
    if (!ended) {
        d.Click(kStart);
        Fail(m_currentTitle, "the test did not end");
    } else if (test->m_nResult != 1) {
        const std::string message =
            !test->m_strError.empty() ? test->m_strError : d.Text(kResult).toStdString();
        Fail(m_currentTitle, message.empty() ? "the test was stopped" : message);
    }
    return !Failed();
}

// Every test that takes a test current runs with the same one, but for the
// inertia test where that current would spin a light rotor up within a few
// milliseconds: the motor's own rotor reaches the test's speed limit in the
// shortest ramp that test fits well (the load only makes the ramp longer).
void Commissioning::TypeTestCurrent(DialogDriver& d)
{
    const CMC_Setup* s = SetupOf(d);
    if (!d.IsEnabled(kTestCurrentEdit))
        return;
    double current = TestCurrentFor(*s);
    if (d.TemplateId() == CTotalInertiaTest::kTemplateId)
        current =
            std::min(current, Base(s, "Jm") * Base(s, "TestMaxSpeed") / (Base(s, "K") * kMinInertiaRamp));
    Type(d, kTestCurrentEdit, s, "TestCurrent", current);
}

// The Hall signals turn with the field the test imposes; the user watches
// one electrical turn at speed, then presses Stop. The signals are read with
// the angle the drive imposed then: before the Hall registers are
// commissioned they are the raw traces, after it their angle's error.
void Commissioning::WatchHallSignals(DialogDriver& d)
{
    auto* test = dynamic_cast<CMC_TestDlg*>(d.Dialog());
    HallCheck check(*m_setup, m_drive, m_clock);
    bool stopped = false;
    EveryTurn watcher([&] {
        if (m_watch)
            m_watch->Poll(d);
        if (!test->m_bRunning || !check.Sample())
            return false;
        stopped = true;
        d.Click(kStart);
        return true;
    });
    m_clock.SetStep(kHallStep);
    d.Click(kStart);
    d.WaitUntil([&] { return stopped || test->m_bRunning == 0; });
    m_clock.SetStep(kStep);
    m_result.traces.push_back(m_hallsCalibrated ? check.AngleErrorTrace() : check.SignalTrace());
    if (m_hallsCalibrated)
        Say(check.Summary());
}

// Start, then the count by the shaft.
void Commissioning::CountPolePairs(DialogDriver& d)
{
    const auto* test = dynamic_cast<CMC_TestDlg*>(d.Dialog());
    d.Click(kStart);
    CountPolePairsOnTheShaft(d, *test, m_drive.GetPlant(), [&] { m_watch->Poll(d); });
}
