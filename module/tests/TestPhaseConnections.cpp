#include "TestPhaseConnections.h"

#include "CaseInsensitive.h"
#include "Helpers.h"
#include "Setup.h"
#include "TestSequence.h"

#include <array>
#include <cmath>

namespace {

// Entry 4 is never shown: the run ends in stage 4.
constexpr std::array<const char*, 5> kStageTexts = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Running test",
    "Finished test",
};
constexpr int kIAEdit = 1020;
constexpr int kIABar = 1021;
constexpr int kIBEdit = 1022;
constexpr int kIBBar = 1023;
// The bars span 1.5 times the test current either way.
constexpr double kBarSpan = 1.5;

} // namespace

const char* const CTestPhaseConnections::kFailureText =
    "Possible causes of failure:\n"
    "\t- one of the motor phases is disconnected\n"
    "\t- the motor phases are unbalanced (they do not have the same resistance)\n"
    "\t- the test current isn't high enough.\n"
    "Please check the motor phase connections to the drive and repeat the test. If the test fails and the "
    "connections are OK, increase the test current value.";

CTestPhaseConnections::CTestPhaseConnections(CMC_Setup* setup, int flag, QWidget* parent)
    : CPositioningTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic, kProgram),
      m_itest(setup->GetParameterValueInBaseUnit("TestCurrent"))
{
    AddParameterControls("TestCurrent", 1005, 1017);
}

CTestPhaseConnections::~CTestPhaseConnections() = default;

bool CTestPhaseConnections::CurrentsPass(double ia, double ib, double itest)
{
    if (ib == 0.0)
        return false;
    const double ratio = std::fabs(ia / ib);
    return ratio > 1.5 && ratio < 2.5 && ia > 0.6 * itest && ia < 1.4 * itest && ib < 0.0 && ia > 0.0;
}

int CTestPhaseConnections::OnInitDialog()
{
    m_barIA.Attach(this, kIABar);
    m_barIB.Attach(this, kIBBar);
    ResetBars();
    // The images are loaded before the host's start-up.
    LoadProgramImages();
    return CMC_TestDlg::OnInitDialog();
}

void CTestPhaseConnections::OnChangedParameterValue(const char* name)
{
    if (EqualsIgnoringCase(name, "TestCurrent"))
        m_itest = GetSetup()->GetParameterValueInBaseUnit("TestCurrent");
    UpdateData(false);
    CMyTestDlg::OnChangedParameterValue(name);
}

void CTestPhaseConnections::ResetBars()
{
    for (CBarGraph* bar : {&m_barIA, &m_barIB}) {
        bar->SetRangeWithReference(-kBarSpan * m_itest, kBarSpan * m_itest);
        bar->SetValue(0.0);
        bar->Invalidate();
    }
}

void CTestPhaseConnections::BeginTest()
{
    EmptyControls(*this, {kIAEdit, kIBEdit});
    ResetBars();
    UpdateData(false);
    BeginWithPreliminaryTest();
}

void CTestPhaseConnections::LaunchMainProgram()
{
    // The program drives the test current the preliminary test found: no "In1".
    if (HandOverPreliminaryResults())
        StartMainProgram();
}

void CTestPhaseConnections::PollOwnStage()
{
    if (MainProgramEnded(kMaskShortCircuitEnable))
        EvaluateCurrents();
}

void CTestPhaseConnections::EvaluateCurrents()
{
    double countsA = 0.0; // [converter counts]
    double countsB = 0.0;
    if (!ReadDriveVariable(*this, "var_i1", countsA) || !ReadDriveVariable(*this, "var_i2", countsB))
        return;
    // The converter spans twice the drive's peak current.
    CMC_Setup* setup = GetSetup();
    const double peak = setup->GetParameterValueInBaseUnit("ImaxPS"); // [A]
    const double fullScale = Compute_ADCMaxValue(setup);              // [converter counts]
    const double ia = RoundDecimalValue(peak * countsA * 2.0 / fullScale, 2);
    const double ib = RoundDecimalValue(peak * countsB * 2.0 / fullScale, 2);
    SetChildText(kIAEdit, QString::asprintf("%.3G", ia));
    SetChildText(kIBEdit, QString::asprintf("%.3G", ib));
    if (!CurrentsPass(ia, ib, m_itest)) {
        FailTest(*this, kFailureText);
        return;
    }
    m_barIA.SetValue(ia);
    m_barIB.SetValue(ib);
    m_barIA.Invalidate();
    m_barIB.Invalidate();
    TestSucceeded(1);
}
