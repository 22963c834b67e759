#include "TestAnalogueRef.h"

#include "Helpers.h"
#include "HostServices.h"
#include "Setup.h"
#include "TestSequence.h"

#include <QColor>

#include <array>
#include <cmath>

namespace {

constexpr const char* kProgram = "Analogue_Reference_Test";
constexpr std::array<const char*, 2> kStageTexts = {"Launching test", "Running test"};
constexpr int kVoltageEdit = 1010;
constexpr int kCommandEdit = 1011;
constexpr int kCommandLabel = 1013;
constexpr int kVoltageBar = 1014;
constexpr int kCommandBar = 1015;
constexpr int kVoltageUnit = 1016;
constexpr int kCommandUnit = 1017;

// The command the input stands for in each control mode: its span and label.
struct CommandSpan {
    const char* low;
    const char* high;
    const char* label;
};
constexpr std::array<CommandSpan, 3> kCommandSpans = {{
    {"POS_min", "POS_max", "Position command"},
    {"SPD_min", "SPD_max", "Speed command"},
    {"CRT_min", "CRT_max", "Current command"},
}};

// The bar starts at 0 when the span holds it, else at the low end.
double DrawingReference(double low, double high)
{
    return low <= 0.0 && 0.0 <= high ? 0.0 : low;
}

// A parameter's value in the unit it is shown in, and that unit.
double ShownValue(CMC_Setup* setup, const char* name)
{
    const CMC_Parameter* parameter = setup->FindParameter(name);
    return parameter ? parameter->GetValue() : 0.0;
}

QString ShownUnit(CMC_Setup* setup, const char* name)
{
    const CMC_Parameter* parameter = setup->FindParameter(name);
    return parameter ? QString::fromUtf8(parameter->GetUnitName()) : QString();
}

// The input in the span low..high, rounded to two decimals.
double Scaled(double raw, double low, double high)
{
    return RoundDecimalValue((high - low) * raw / CTestAnalogueRef::kFullScale + low, 2);
}

void ShowOnBar(CBarGraph& bar, double low, double high, double value)
{
    bar.SetRange(low, high);
    bar.SetValue(value);
    bar.SetReference(DrawingReference(low, high));
    bar.Invalidate();
}

} // namespace

CTestAnalogueRef::CTestAnalogueRef(CMC_Setup* setup, int flag, QWidget* parent)
    : CMyTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic)
{
    m_bStoppable = 1;
}

int CTestAnalogueRef::OnInitDialog()
{
    CMC_Setup* setup = GetSetup();
    const double range = setup->GetParameterValueInBaseUnit("AnalogueInputsRange");
    m_voltageLow = range == 20.0 ? -10.0 : 0.0;
    m_voltageHigh = range == 20.0 ? 10.0 : range == 5.0 ? 5.0 : 3.3;

    const int mode = static_cast<int>(setup->GetParameterValueInBaseUnit("ControlMode"));
    if (mode >= 0 && mode < static_cast<int>(kCommandSpans.size())) {
        const CommandSpan& span = kCommandSpans[mode];
        m_commandLow = ShownValue(setup, span.low);
        m_commandHigh = ShownValue(setup, span.high);
        m_commandLabel = QString::fromUtf8(span.label);
        SetChildText(kCommandUnit, ShownUnit(setup, span.high));
    }
    SetChildText(kVoltageUnit, ShownUnit(setup, "AnalogueInputsRange"));

    m_voltageBar.Attach(this, kVoltageBar);
    m_commandBar.Attach(this, kCommandBar);
    SetChildText(kCommandLabel, m_commandLabel);
    ShowOnBar(m_commandBar, m_commandLow, m_commandHigh, m_commandLow);
    ShowOnBar(m_voltageBar, m_voltageLow, m_voltageHigh, 0.0);
    m_voltageBar.SetColor(QColor(255, 0, 0));
    m_voltageBar.SetFormat("%.2G");
    m_commandBar.SetColor(QColor(0, 255, 0));
    m_commandBar.SetFormat("%.2f");
    EmptyControls(*this, {kVoltageEdit, kCommandEdit});
    UpdateData(false);
    return CMC_TestDlg::OnInitDialog();
}

void CTestAnalogueRef::BeginTest()
{
    EmptyControls(*this, {kVoltageEdit, kCommandEdit});
    m_voltageBar.SetValue(m_voltageBar.Reference());
    m_commandBar.SetValue(m_commandBar.Reference());
    UpdateData(false);
    m_voltageBar.Invalidate();
    m_commandBar.Invalidate();
    OpenRun();
    if (StartProgram(kProgram, nullptr))
        RearmPoll();
}

void CTestAnalogueRef::OnPollTimer()
{
    if (m_nStage != 2) {
        TestFailed(1);
        return;
    }
    if (m_bStopRequest) {
        TestSucceeded(1);
        m_bStopRequest = 0;
        return;
    }
    if (!ShowReading())
        return;
    // Keep the dialog responsive between two reads; the run may have ended
    // (or the dialog closed) meanwhile.
    PumpMessages();
    if (m_bRunning)
        RearmPoll();
}

bool CTestAnalogueRef::ShowReading()
{
    if (!CheckDriveErrors(1, kMaskShortCircuit))
        return false;
    double raw = 0.0; // [converter counts]
    if (!ReadDriveVariable(*this, "AD5", raw))
        return false;
    const double voltage = Scaled(raw, m_voltageLow, m_voltageHigh);
    SetChildText(kVoltageEdit, FormatValue("%.2f", voltage));
    ShowOnBar(m_voltageBar, m_voltageLow, m_voltageHigh, voltage);
    const double command = Scaled(raw, m_commandLow, m_commandHigh);
    SetChildText(kCommandEdit, FormatValue("%.2f", command));
    ShowOnBar(m_commandBar, m_commandLow, m_commandHigh, command);
    return true;
}
