// The scripted engineer's tuning: the current, speed and position tests
// tuned and tried in their dialogs, the resonance search on the speed loop
// with its notch, and the gains as designed and as the drive holds them.
#include "Commissioning.h"

#include "DialogSteps.h"
#include "Resonance.h"
#include "TuningPlan.h"

#include "ControllerDesign.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "TestCurrent.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

using namespace commissioning;

// The tuning tests' pages and edits.
constexpr int kTab = CProfileTuningDlg::kTab;
constexpr int kMultiCycle = 1332;
constexpr int kSpeedFinalValue = 1320, kPositionFinalValue = 1501;
constexpr int kTpEdit = 1314, kTapEdit = 1327, kTanEdit = 1330;
constexpr int kSpeedBandwidth = 1379;
constexpr int kCurrentProtectionEdit = 1303, kCurrentStepEdit = 1120;
constexpr int kTestLimitCurrentEdit = 3284;
// The Filters dialog's first filter.
constexpr int kFilterOn = 3485, kFilterType = 3487, kFilterQ = 3489, kFilterFrequency = 3491,
              kFilterLocation = 3502;
constexpr int kSpeedControllerOutput = 1; // the location list's item

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

} // namespace

// Save Plots: the test writes its log as <name>.csv into the work folder; it
// is read back as the report's trace.
Rows Commissioning::SavedPlot(DialogDriver& d, int button, const char* name, const std::string& id,
                              const std::string& title)
{
    // A plot of an earlier run must not stand in for one that was not saved.
    const QString path =
        QDir(m_options.workFolder).filePath(QString::fromUtf8(name) + QStringLiteral(".csv"));
    QFile::remove(path);
    d.Click(button);
    Trace trace;
    trace.id = id;
    trace.title = title;
    if (!ReadCsv(path, trace.columns, trace.rows)) {
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
    if (FollowRun(d, "Current loop"))
        SavedPlot(d, CTestCurrent::kSavePlots, "CurrentTuning", "current-response", "Current step response");
    Close(d);
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
    IdentifyInertia(d);
    if (!Failed()) {
        const ProfilePlan plan = SpeedPlan(s);
        TypePlan(d, true, plan, plan.speed);
        d.Click(CProfileTuningDlg::kTune);
        if (FollowRun(d, "Speed loop")) {
            const Rows log = SavedPlot(d, CProfileTuningDlg::kSavePlots, "SpeedTuning", "speed-response",
                                       "Speed profile response");
            SearchResonance(d, log);
        }
    }
    Close(d);
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
    if (FollowRun(d, "Position loop"))
        SavedPlot(d, CProfileTuningDlg::kSavePlots, "PositionTuning", "position-response",
                  "Position profile response");
    Close(d);
}

// The speed error over the profile is searched for a resonance; one that
// stands out gets a notch through Filters, and the run is made again with it.
void Commissioning::SearchResonance(DialogDriver& d, const Rows& log)
{
    CMC_Setup* s = SetupOf(d);
    const SpeedError before = ProfileSpeedError(log);
    m_result.resonance = FindResonance(before, Base(s, "PB_S") / (2.0 * std::numbers::pi));
    const ResonanceCheck& r = m_result.resonance;
    if (!r.found) {
        Say("No resonance stands out in the speed error (largest peak " + ShortNumber(r.peak) + " rpm at " +
            ShortNumber(r.frequency) + " Hz, floor " + ShortNumber(r.floor) + " rpm)");
        return;
    }
    Say("Resonance at " + ShortNumber(r.frequency) + " Hz (" + ShortNumber(r.peak) +
        " rpm against a floor of " + ShortNumber(r.floor) + " rpm): a notch is set through Filters");
    d.Click(CProfileTuningDlg::kFilters);
    if (Failed() || !FollowRun(d, "Speed loop with the notch"))
        return;
    const Rows notched = SavedPlot(d, CProfileTuningDlg::kSavePlots, "SpeedTuning", "speed-response-notched",
                                   "Speed profile response with the notch");
    const SpeedError after = ProfileSpeedError(notched);
    MeasureNotch(m_result.resonance, before, after);
    m_result.traces.push_back(NotchTrace(before, after));
    m_result.traces.push_back(SpectrumTrace(before, after));
    Say("With the notch: " + ShortNumber(m_result.resonance.after) + " rpm at " + ShortNumber(r.frequency) +
        " Hz, speed error RMS over the profile " + ShortNumber(r.rmsBefore) + " -> " +
        ShortNumber(r.rmsAfter) + " rpm");
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
