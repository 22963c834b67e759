#include "TotalInertiaTest.h"

#include "EngineCore.h"
#include "HostServices.h"
#include "TestSequence.h"

#include <array>
#include <cmath>
#include <string>
#include <utility>

namespace {

constexpr const char* kMainProgram = "Total_Inertia_Identification_Test";
constexpr std::array<const char*, 4> kStageTexts = {
    "Launching code for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching code for J test",
    "Waiting J test to be finished",
};
constexpr int kStartButton = 10000;
constexpr int kJtEdit = 3263;
constexpr int kJtUnit = 3264;

// Failure codes of the inertia program.
constexpr const char* kSpeedNegative =
    "When a POSITIVE torque level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are reversed;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the test <<Detect number of lines>> to verify the encoder counting direction;\n"
    "\t\tCheck if the motor nominal current was correctly set";
constexpr const char* kSpeedZero =
    "When trying to apply POSITIVE torque to the motor, the measured speed is ZERO, or the reference torque "
    "cannot be reached!\n"
    "Possible causes of failure:\n"
    "\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are missing;\n"
    "\t\tThe DC voltage level is not high enough;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the encoder <<Test connections>> to verify presence of the encoder signals\n"
    "\t\tCheck if the motor nominal current was correctly set.\n"
    "\t\tTry to decrease the test current.";
constexpr const char* kSpeedNotReached =
    "The motor does not reach the programmed speed level!\n"
    "You may have a problem with the encoder or the initial positioning is not performed correctly. Check "
    "the "
    "encoder and motor connections. If these are OK, try to increase the test current.";

int TruncatedInternal(CMC_Setup* setup, const char* name)
{
    return static_cast<int>(setup->GetParameterValueInInternalUnit(name));
}

} // namespace

CTotalInertiaTest::CTotalInertiaTest(CMC_Setup* setup, int flag, QWidget* parent)
    : CPositioningTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic, kMainProgram),
      m_jtNew(setup->GetParameterValueInBaseUnit("Jt")), m_jtOld(m_jtNew)
{
    AddParameterControls("Jt", kJtEdit, kJtUnit);
    AddParameterControls("TestCurrent", 1005, 1017);
    AddParameterControls("TestProtectionCurrent", 3265, 3266);
    AddParameterControls("TestMaxSpeed", 3267, 3268);
}

int CTotalInertiaTest::OnInitDialog()
{
    const int result = CPositioningTestDlg::OnInitDialog();
    EmptyControls(*this, {kJtEdit, kJtUnit});
    return result;
}

bool CTotalInertiaTest::OnCommand(int id)
{
    if (id != kStartButton)
        return CMyTestDlg::OnCommand(id);
    CMC_Setup* setup = GetSetup();
    if (!m_bRunning && setup->GetParameterValueInBaseUnit("TestCurrent") >
                           setup->GetParameterValueInBaseUnit("TestProtectionCurrent")) {
        ShowMessageBox(QStringLiteral("I protection must be greater or equal to Test current."),
                       MB_OK | MB_ICONWARNING);
        return true;
    }
    OnBtnStartStop();
    return true;
}

void CTotalInertiaTest::OnOK()
{
    CMyTestDlg::OnOK();
    // The tuning tests run with the protection level the test ran with.
    CMC_Parameter* protection = FindQuietly(GetSetup(), "Imax_Prot");
    const CMC_Parameter* testProtection = FindQuietly(GetSetup(), "TestProtectionCurrent");
    if (protection && testProtection)
        protection->SetValueInBaseUnit(testProtection->GetValueInBaseUnit());
}

void CTotalInertiaTest::BeginTest()
{
    EmptyControls(*this, {kJtEdit, kJtUnit});
    BeginWithPreliminaryTest();
}

void CTotalInertiaTest::LaunchMainProgram()
{
    if (!HandOverPreliminaryResults())
        return;
    CMC_Setup* setup = GetSetup();
    const std::pair<const char*, double> inputs[] = {
        {"In1", m_testCurrent},
        {"LimitSpeedMax", TruncatedInternal(setup, "TestMaxSpeed")},
        {"Imax_Prot_Test", TruncatedInternal(setup, "TestProtectionCurrent")},
    };
    for (const auto& [name, value] : inputs)
        if (!SetUserVariableValue(&m_main, name, value, m_strError)) {
            TestFailed(1);
            return;
        }
    StartMainProgram();
}

void CTotalInertiaTest::PollOwnStage()
{
    if (MainProgramEnded(kMaskAll))
        EvaluateInertiaProgram();
}

void CTotalInertiaTest::EvaluateInertiaProgram()
{
    double testFlag = 0.0;
    double deltaTime = 0.0;  // [speed-loop periods]; negative: failure code
    double deltaSpeed = 0.0; // [internal speed units]
    if (!ReadProgramResult(*this, &m_main, "test_flag", testFlag) ||
        !ReadProgramResult(*this, &m_main, "delta_time", deltaTime) ||
        !ReadProgramResult(*this, &m_main, "delta_speed", deltaSpeed))
        return;
    if (testFlag <= 0.0)
        return FailTest(*this, kSpeedNegative);
    if (deltaTime == -1.0)
        return FailTest(*this, std::string(kSpeedNegative) + ".");
    if (deltaTime == -2.0)
        return FailTest(*this, kSpeedZero);
    if (deltaTime < 0.0)
        return FailTest(*this, kSpeedNotReached);

    CMC_Setup* setup = GetSetup();
    const CMC_Parameter* torqueConstant = FindQuietly(setup, "K");
    CMC_Parameter* inertia = FindQuietly(setup, "Jt");
    if (!torqueConstant || !inertia)
        return FailTest(*this, msc_pszErrInternal);
    // Torque [Nm] times the acceleration time [s], over the speed gain [rad/s].
    const double torque = m_testCurrent / CurrentScale(setup) * torqueConstant->GetValueInBaseUnit();
    const double time = deltaTime * SpeedLoopPeriod(setup);
    const double speedGain = deltaSpeed / MotorSpeedScale(setup);
    const double jt = torque * time / speedGain;
    // No speed gain gives no inertia, not an infinite one.
    if (!std::isfinite(jt))
        return FailTest(*this, msc_pszErrInternal);
    m_jtOld = inertia->GetValueInBaseUnit();
    inertia->SetValueInBaseUnit(jt);
    m_jtNew = inertia->GetValueInBaseUnit();
    RefreshAllParameters(0);
    TestSucceeded(1);
}

void CTotalInertiaTest::OnCancel()
{
    const QString question = ChangedValuesQuestion(
        {{QStringLiteral("Total inertia"), FormatValue("%g", m_jtOld), FormatValue("%g", m_jtNew)}},
        m_nResult);
    switch (AskToSaveChangedValues(question)) {
    case IDYES:
        // Only the end with OK: the protection level is not taken over.
        CMyTestDlg::OnOK();
        return;
    case IDNO:
        GetSetup()->SetParameterValueInBaseUnit("Jt", m_jtOld);
        EndDialog(IDCANCEL);
        return;
    default:
        CMyTestDlg::OnCancel();
    }
}
