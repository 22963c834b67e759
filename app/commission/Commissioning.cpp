#include "Commissioning.h"

#include "HallCheck.h"
#include "HallRegisters.h"
#include "Resonance.h"
#include "TuningPlan.h"

#include "Automation.h"
#include "Comm.h"
#include "ControllerDesign.h"
#include "DetectHallGainOffset.h"
#include "DetectPolePairs.h"
#include "DriveClock.h"
#include "EditSetupDlg.h"
#include "EngineCore.h"
#include "Helpers.h"
#include "MotorEditor.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "Setup.h"
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

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <numbers>
#include <ostream>
#include <sstream>

namespace {

constexpr int kStart = 10000;
constexpr int kStatus = 10001;
constexpr int kResult = 10002;
// The buttons of the Drive Setup and Motor Setup dialogs that open each test.
constexpr int kDriveSetup = 106, kMotorSetup = 108;
constexpr int kSupplyButton = 3171, kMotorSetupButton = 10019, kCurrentButton = 3137, kSpeedButton = 3178,
              kPositionButton = 3198;
constexpr int kPhasesButton = 1175, kHallSignalsButton = 1188, kPolePairsButton = 1176,
              kHallGainsButton = 3348, kRLButton = 1177;
constexpr int kDatabaseCombo = 10010, kMotorCombo = 10011;
// The tuning tests' pages and edits.
constexpr int kTab = CProfileTuningDlg::kTab;
constexpr int kMultiCycle = 1332;
constexpr int kSpeedFinalValue = 1320, kPositionFinalValue = 1501;
constexpr int kTpEdit = 1314, kTapEdit = 1327, kTanEdit = 1330;
constexpr int kSpeedBandwidth = 1379;
constexpr int kCurrentProtectionEdit = 1303, kCurrentStepEdit = 1120;
constexpr int kTestCurrentEdit = 1005, kTestLimitCurrentEdit = 3284;
// The Filters dialog's first filter.
constexpr int kFiltersTemplate = 295;
constexpr int kFilterOn = 3485, kFilterType = 3487, kFilterQ = 3489, kFilterFrequency = 3491,
              kFilterLocation = 3502;
constexpr int kSpeedControllerOutput = 1; // the location list's item
// The drive's clock per request: coarse for the tests, fine for the Hall
// signals, which are watched as they turn.
constexpr double kStep = 0.02, kHallStep = 0.001;

using Rows = std::vector<std::vector<double>>;

double Base(const CMC_Setup* s, const char* name)
{
    return s->GetParameterValueInBaseUnit(name);
}

CMC_Setup* SetupOf(DialogDriver& d)
{
    auto* dialog = dynamic_cast<CMC_EditSetupDlg*>(d.Dialog());
    return dialog ? dialog->GetSetup() : nullptr;
}

// Types a value given in base units into an edit, in the unit it shows.
void Type(DialogDriver& d, int edit, const CMC_Setup* s, const char* name, double base)
{
    d.SetEditText(edit, QString::number(s->FindParameter(name)->BaseToDisplay(base), 'g', 12));
}

int ComboIndexOf(DialogDriver& d, int id, const QString& text)
{
    for (int i = 0; i < d.ComboCount(id); ++i)
        if (d.ComboItemText(id, i) == text)
            return i;
    return -1;
}

// A plot a test saved as CSV: a row of captions, then numbers (empty: none).
bool ReadCsv(const QString& path, std::vector<std::string>& columns, Rows& rows)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    columns.clear();
    for (const QString& caption : in.readLine().split(QLatin1Char(',')))
        columns.push_back(caption.trimmed().remove(QLatin1Char('"')).toStdString());
    rows.clear();
    while (!in.atEnd()) {
        std::vector<double> row;
        for (const QString& field : in.readLine().split(QLatin1Char(','))) {
            bool ok = false;
            const double value = field.toDouble(&ok);
            row.push_back(ok ? value : std::numeric_limits<double>::quiet_NaN());
        }
        rows.push_back(std::move(row));
    }
    return !columns.empty();
}

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

std::string Number(double value)
{
    std::ostringstream text;
    text << std::setprecision(5) << value;
    return text.str();
}

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
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return now - m_started;
}

void Commissioning::Say(const std::string& line)
{
    m_progress << '[' << std::fixed << std::setprecision(1) << std::setw(6) << Elapsed() << " s] " << line
               << '\n'
               << std::defaultfloat << std::flush;
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
    m_started = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    m_setup = &setup;
    m_result.supplyVoltage = SupplyVoltage(setup);
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
    if (Failed())
        d.Cancel();
    else
        d.Ok();
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

void Commissioning::RunMotorTests(DialogDriver& d)
{
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
    const std::pair<int, const Test*> steps[] = {{kSupplyButton, &kSupplyTest},
                                                 {kMotorSetupButton, nullptr},
                                                 {kCurrentButton, nullptr},
                                                 {kSpeedButton, nullptr},
                                                 {kPositionButton, nullptr}};
    for (const auto& [button, test] : steps) {
        if (Failed())
            break;
        if (test)
            Identify(d, button, *test);
        else
            d.Click(button);
    }
    if (Failed())
        d.Cancel();
    else
        d.Ok();
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
        parent.Click(button);
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
            value.name + " = " + Number(value.Kept()) + (value.unit.empty() ? "" : " " + value.unit);
        if (std::isfinite(value.truth))
            line += " (true " + Number(value.truth) + ")";
        Say(line);
        for (const std::string& flag : value.flags) {
            Say("FLAG " + value.name + ": " + flag);
            if (m_options.strict)
                Fail(m_currentTitle.empty() ? test.name : m_currentTitle, value.name + ": " + flag);
        }
    }
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

// The drive's supply: the one it was given, else the setup's, which it follows.
double Commissioning::SupplyVoltage(const CMC_Setup& setup) const
{
    return m_drive.GivenSupply() > 0.0 ? m_drive.GivenSupply() : setup.GetParameterValueInBaseUnit("Vdc");
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
    auto* test = dynamic_cast<CMC_TestDlg*>(d.Dialog());
    if (Failed() || !test) {
        d.Cancel();
        return;
    }
    m_currentTitle = d.Dialog()->windowTitle().toStdString();
    TypeTestCurrent(d);
    Watch watch(*this, m_label);
    m_watch = &watch;
    if (during)
        during(d);
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
    d.Cancel();
}

// The resistance and inductance are measured with 60 % of the motor's
// nominal current, as far as the drive allows (a little below its largest
// value, which the edit would take as beyond it once shown in its unit):
// enough that the drive's dead time weighs little, and never more than the
// motor takes for long.
void Commissioning::TypeTestCurrent(DialogDriver& d)
{
    const CMC_Setup* s = SetupOf(d);
    if (d.TemplateId() != CTestRL::kTemplateId || !d.IsEnabled(kTestCurrentEdit))
        return;
    const double largest = 0.99 * s->FindParameter("TestCurrent")->GetMaxInBaseUnit();
    Type(d, kTestCurrentEdit, s, "TestCurrent", std::min(0.6 * Base(s, "In"), largest));
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

// Presses Move until the shaft has turned one revolution from where it
// stood, as the user watching a mark on it does, then Stop.
void Commissioning::CountPolePairs(DialogDriver& d)
{
    auto* test = dynamic_cast<CMC_TestDlg*>(d.Dialog());
    d.Click(kStart);
    d.WaitUntil([&] {
        if (m_watch)
            m_watch->Poll(d);
        return test->m_bRunning == 0 || d.IsVisible(CDetectPolePairs::kMoveButton);
    });
    const double start = m_drive.GetPlant().MotorAngle();
    for (int moves = 0; moves < 200 && test->m_bRunning; ++moves) {
        d.Click(CDetectPolePairs::kMoveButton);
        if (std::abs(m_drive.GetPlant().MotorAngle() - start) > 2.0 * std::numbers::pi - 0.1)
            break;
    }
    if (test->m_bRunning)
        d.Click(kStart);
}

// ---- Tuning -----------------------------------------------------------------------------------

// Start of a tuning run, followed to its end; false (the test failed) when
// the run did not pass.
bool Commissioning::StartProfileRun(DialogDriver& d, const std::string& label)
{
    auto* test = dynamic_cast<CMC_TestDlg*>(d.Dialog());
    m_currentTitle = d.Dialog()->windowTitle().toStdString();
    Watch watch(*this, label);
    d.Click(kStart);
    const bool ended = d.WaitUntil([&] {
        watch.Poll(d);
        return test->m_bRunning == 0;
    });
    watch.Poll(d);
    if (!ended)
        Fail(m_currentTitle, "the test did not end");
    else if (test->m_nResult != 1)
        Fail(m_currentTitle, test->m_strError.empty() ? d.Text(kResult).toStdString() : test->m_strError);
    return !Failed();
}

// Save Plots: the test writes its log as <name>.csv into the work folder; it
// is read back as the report's trace.
Rows Commissioning::SavedPlot(DialogDriver& d, int button, const char* name, const std::string& id,
                              const std::string& title)
{
    d.Click(button);
    Trace trace;
    trace.id = id;
    trace.title = title;
    if (!ReadCsv(QDir(m_options.workFolder).filePath(QString::fromUtf8(name) + QStringLiteral(".csv")),
                 trace.columns, trace.rows)) {
        Fail(m_currentTitle, std::string("the plot ") + name + " was not saved");
        return {};
    }
    trace.xLabel = trace.columns.front();
    trace.yLabel = trace.columns.size() > 1 ? trace.columns[1] : std::string();
    m_result.traces.push_back(trace);
    return trace.rows;
}

void Commissioning::TuneCurrentLoop(DialogDriver& d)
{
    if (Failed()) {
        d.Cancel();
        return;
    }
    CMC_Setup* s = SetupOf(d);
    d.SelectTab(CTestCurrent::kTab, 1);
    d.Click(CTestCurrent::kTune);
    d.SelectTab(CTestCurrent::kTab, 0);
    d.SetEditText(kCurrentProtectionEdit, QStringLiteral("1000"));
    Type(d, kCurrentStepEdit, s, "TestCurrent", LinearTestCurrent(s));
    d.SelectTab(CTestCurrent::kTab, 1);
    if (StartProfileRun(d, "Current loop"))
        SavedPlot(d, CTestCurrent::kSavePlots, "CurrentTuning", "current-response", "Current step response");
    Failed() ? d.Cancel() : d.Ok();
}

// Types a profile into the page of a speed or position test: the final
// value, ramps and hold on page 0, the bandwidth on page 1; ends on page 1
// with a single run logged by the data logger.
void Commissioning::TypePlan(DialogDriver& d, bool speed, const ProfilePlan& plan, double finalValue)
{
    const CMC_Setup* s = SetupOf(d);
    d.SelectTab(kTab, 0);
    if (d.IsChecked(kMultiCycle))
        d.Click(kMultiCycle);
    const char* const times[2][3] = {{"TaPS", "TaNS", "TPS"}, {"TaPP", "TaNP", "TPP"}};
    const auto& names = times[speed ? 0 : 1];
    Type(d, speed ? kSpeedFinalValue : kPositionFinalValue, s, speed ? "TestSpeed" : "TestPosition",
         finalValue);
    Type(d, kTapEdit, s, names[0], plan.ramp);
    Type(d, kTanEdit, s, names[1], plan.ramp);
    Type(d, kTpEdit, s, names[2], plan.hold);
    d.SelectTab(kTab, 1);
    if (d.IsChecked(CProfileTuningDlg::kOnlinePlot))
        d.Click(CProfileTuningDlg::kOnlinePlot);
    Type(d, kSpeedBandwidth, s, speed ? "PB_S" : "PB_P", plan.bandwidth);
}

void Commissioning::TuneSpeedLoop(DialogDriver& d)
{
    if (Failed()) {
        d.Cancel();
        return;
    }
    CMC_Setup* s = SetupOf(d);
    d.SelectTab(kTab, 1);
    // The tuning runs stay within the motor's peak current.
    Type(d, kTestLimitCurrentEdit, s, "TestLimitCurrent",
         std::min(Base(s, "ImaxM"), Base(s, "TestLimitCurrent")));
    Identify(d, CTestSpeedTuning::kIdentify, kInertiaTest);
    if (!Failed()) {
        const ProfilePlan plan = SpeedPlan(s);
        TypePlan(d, true, plan, plan.speed);
        d.Click(CProfileTuningDlg::kTune);
        if (StartProfileRun(d, "Speed loop")) {
            const Rows log = SavedPlot(d, CProfileTuningDlg::kSavePlots, "SpeedTuning", "speed-response",
                                       "Speed profile response");
            SearchResonance(d, log);
        }
    }
    Failed() ? d.Cancel() : d.Ok();
}

void Commissioning::TunePositionLoop(DialogDriver& d)
{
    if (Failed()) {
        d.Cancel();
        return;
    }
    CMC_Setup* s = SetupOf(d);
    const ProfilePlan plan = PositionPlan(s, Base(s, "PositionControlType") == 1.0);
    TypePlan(d, false, plan, plan.speed * plan.ramp);
    d.Click(CProfileTuningDlg::kTune);
    if (StartProfileRun(d, "Position loop"))
        SavedPlot(d, CProfileTuningDlg::kSavePlots, "PositionTuning", "position-response",
                  "Position profile response");
    Failed() ? d.Cancel() : d.Ok();
}

// The speed error in the hold is searched for a resonance; one that stands
// out gets a notch through Filters, and the run is made again with it.
void Commissioning::SearchResonance(DialogDriver& d, const Rows& log)
{
    CMC_Setup* s = SetupOf(d);
    const HeldError before = HeldSpeedError(log);
    m_result.resonance = FindResonance(before, Base(s, "PB_S") / (2.0 * std::numbers::pi));
    const ResonanceCheck& r = m_result.resonance;
    if (!r.found) {
        Say("No resonance stands out in the speed error (largest peak " + Number(r.peak) + " rpm at " +
            Number(r.frequency) + " Hz, floor " + Number(r.floor) + " rpm)");
        return;
    }
    Say("Resonance at " + Number(r.frequency) + " Hz (" + Number(r.peak) + " rpm against a floor of " +
        Number(r.floor) + " rpm): a notch is set through Filters");
    d.Click(CProfileTuningDlg::kFilters);
    if (Failed() || !StartProfileRun(d, "Speed loop with the notch"))
        return;
    const Rows notched = SavedPlot(d, CProfileTuningDlg::kSavePlots, "SpeedTuning", "speed-response-notched",
                                   "Speed profile response with the notch");
    const HeldError after = HeldSpeedError(notched);
    MeasureNotch(m_result.resonance, before, after);
    m_result.traces.push_back(NotchTrace(before, after));
    m_result.traces.push_back(SpectrumTrace(before, after));
    Say("With the notch: " + Number(m_result.resonance.after) + " rpm at " + Number(r.frequency) +
        " Hz, speed error RMS " + Number(r.rmsBefore) + " -> " + Number(r.rmsAfter) + " rpm");
}

void Commissioning::SetNotch(DialogDriver& d)
{
    if (Failed() || !m_result.resonance.found) {
        d.Cancel();
        return;
    }
    if (!d.IsChecked(kFilterOn))
        d.Click(kFilterOn);
    d.SelectComboIndex(kFilterType, ComboIndexOf(d, kFilterType, QStringLiteral("Notch")));
    d.SelectComboIndex(kFilterLocation, kSpeedControllerOutput);
    d.SetEditText(kFilterFrequency, QString::number(std::round(m_result.resonance.frequency)));
    d.SetEditText(kFilterQ, QStringLiteral("0.5"));
    d.Ok();
}

// ---- Gains -----------------------------------------------------------------------------------

// Each loop designed again on the final setup, against the gains its
// registers hold.
void Commissioning::GatherGains(const CMC_Setup& setup)
{
    const auto designed = setup.Clone();
    DesignCurrentController(designed.get());
    DesignSpeedController(designed.get());
    DesignPositionController(designed.get());
    const auto quantised = designed->Clone();
    ComputeRegistersFromParameters(quantised.get());
    ComputeParametersFromRegisters(quantised.get());
    const std::pair<const char*, const char*> gains[] = {
        {"current", "Kp_C_scl"},  {"current", "Ki_C_scl"},  {"speed", "Kp_S_scl"},    {"speed", "Ki_S_scl"},
        {"position", "Kp_P_scl"}, {"position", "Ki_P_scl"}, {"position", "Kd_P_scl"},
    };
    for (const auto& [loop, name] : gains) {
        const CMC_Parameter* p = setup.FindParameter(name);
        m_result.gains.push_back({loop, name, p->GetUnitName(), p->BaseToDisplay(Base(designed.get(), name)),
                                  p->BaseToDisplay(Base(quantised.get(), name))});
    }
}
