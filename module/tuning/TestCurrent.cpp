#include "TestCurrent.h"

#include "CaseInsensitive.h"
#include "ControllerDesign.h"
#include "EngineCore.h"
#include "Errors.h"
#include "HostServices.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "Setup.h"
#include "TestSequence.h"
#include "TuningSupport.h"

#include <QShowEvent>

#include <cmath>
#include <cstdint>

namespace {

constexpr const char* kProtectionBelowTestCurrent =
    "Over current protection must be greater or equal to Test current.";

constexpr const char* kProcedure[] = {
    "1. Check/setup the test parameters below",
    "2. Go to the \"Test\" tab and press the \"Tune\" button",
    "3. In the \"Test\" tab, press the \"Start\" button",
    "4. Wait until the test ends and displays the results",
    "5. If needed, change the controller parameters during the test, until you get satisfactory results",
};

// The controls of the two pages; lists end with 0.
constexpr int kParametersPage[] = {1120, 1121,  1303,  1304, 1301, 1123, 1376,
                                   1377, 10014, 10015, 1119, 1122, 0};
constexpr int kTestPage[] = {10000, 1339,  1340,  1342, 1343,  1341, 1334, 1335, 1337, 1338, 1336, 1361, 1372,
                             1375,  10002, 10004, 1374, 10001, 1333, 3138, 3142, 3139, 3140, 3141, 3143, 3147,
                             3146,  3145,  3144,  3148, 3149,  3150, 3155, 3151, 3152, 3153, 3154, 0};
constexpr int kFilterControls[] = {3140, 3141, 3139, 0};
constexpr int kGravityControls[] = {3143, 3147, 3146, 3145, 3144, 0};
constexpr int kOffsetControls[] = {3145, 3144, 3146, 0};
constexpr int kDetails = 10003;

constexpr LoopGain kGains[] = {
    {"Kp_C_scl", nullptr, {"SFTKPI", "KPI"}},
    {"Ki_C_scl", nullptr, {"SFTKII", "KII"}},
};

// The logged columns 1 to 3 and how they are drawn: axis, column, colour index.
constexpr const char* kLoggedVariables[] = {"Current_Reference", "Motor_Current", "Voltage_Reference"};
constexpr CurveStyle kCurves[] = {{1, 1, 2}, {2, 3, 8}, {1, 2, 5}};

} // namespace

CTestCurrent::CTestCurrent(CMC_Setup* setup, int flag, QWidget* parent)
    : CTuningTestDlg(setup, kTemplateId, flag, parent, kHelpTopic, kMainProgram, kProcedure, kParametersPage,
                     kTestPage)
{
    m_nStageCount = 5;
    AddParameterControls("TestProtectionCurrent", 1303, 1304);
    AddParameterControls("TestCurrent", 1120, 1121);
    AddParameterControls("FilterOnCurrentControllerOutput", 3140, 3141);
    AddCheckParameterControls("isUseFilterOnCrtCtrlOutput", kUseFilter);
    if (HasGravityCompensation(setup)) {
        AddParameterControls("OffsetCurrent", 3145, 3144);
        AddCheckParameterControls("isCompensateGravitationalLoads", kCompensateGravity);
    }
    AddSliderParameterControls("Kp_C_scl", 1337, 1335, 0, 1336, 1338);
    AddSliderParameterControls("Ki_C_scl", 1342, 1340, 0, 1341, 1343);
    AddSliderParameterControls("PB_C", 3152, 3155, 3151, 3153, 3154);
}

CTestCurrent::~CTestCurrent() = default;

int CTestCurrent::OnInitDialog()
{
    const int result = CTuningTestDlg::OnInitDialog();
    SetButtonImage(1123, "BITMAP_3015");
    SetUpLogger();
    return result;
}

void CTestCurrent::SetUpLogger()
{
    m_logger = std::make_unique<CMC_SingleAxisLogger>(GetSetup(), &m_main);
    // At the current-loop rate: a current step settles within a millisecond
    // or two, a few samples of the slow loop.
    SetUpLogOnGraph(*m_logger, kLogPoints, CMC_Logger::LogCurrentLoop, kLoggedVariables, kCurves, m_graph,
                    this, kGraph);
}

void CTestCurrent::showEvent(QShowEvent* event)
{
    CTuningTestDlg::showEvent(event);
    ShowChild(kDetails, false);
}

void CTestCurrent::UpdateControls()
{
    CMC_Setup* setup = GetSetup();
    // The gains stay open while a test runs: a change goes to the drive at once.
    EnableChild(IDOK, m_bRunning == 0);
    const bool testPage = m_page == 1;
    ShowChildren(kFilterControls, testPage && IsOn(setup, "isUseFilterOnCrtCtrlOutput"));
    const bool gravity = HasGravityCompensation(setup);
    EnableChildren(kGravityControls, gravity);
    ShowChildren(kOffsetControls, testPage && (!gravity || IsOn(setup, "isCompensateGravitationalLoads")));
}

const char* CTestCurrent::TestPageRefusal() const
{
    CMC_Setup* setup = GetSetup();
    return setup->GetParameterValueInBaseUnit("TestCurrent") >
                   setup->GetParameterValueInBaseUnit("TestProtectionCurrent")
               ? kProtectionBelowTestCurrent
               : nullptr;
}

void CTestCurrent::PageShown(int page)
{
    if (page == 0) {
        ShowChild(kDetails, false);
        return;
    }
    if (m_nResult == 1)
        TestSucceeded(0);
    else if (!m_strError.empty())
        TestFailed(0);
}

bool CTestCurrent::OnCommand(int id)
{
    switch (id) {
    case kTune:
        Tune();
        return true;
    case kSavePlots:
        if (m_logger && !m_bRunning && !m_logger->SaveGraph("CurrentTuning"))
            ShowMessageBox(QString::fromStdString(GetLastErrorText()), MB_OK | MB_ICONERROR);
        return true;
    case kUseFilter:
    case kCompensateGravity:
        ApplyFilterAndGravity();
        UpdateData(false);
        RefreshAllParameters(0);
        return true;
    default:
        return CTuningTestDlg::OnCommand(id);
    }
}

void CTestCurrent::ApplyFilterAndGravity()
{
    CMC_Setup* setup = GetSetup();
    Compute_FILTERQ(setup);
    if (HasGravityCompensation(setup)) {
        Compute_FFL(setup);
        Compute_OffsetCurrent(setup);
    }
}

void CTestCurrent::Tune()
{
    TuneController(
        *this, DesignCurrentController,
        {Compute_SFTKPI, Compute_KPI, Compute_SFTKII, Compute_KII, Compute_Ki_C_scl, Compute_Kp_C_scl},
        {"SFTKPI", "KPI", "SFTKII", "KII"}, m_bRunning);
}

void CTestCurrent::OnChangedParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    if (const LoopGain* gain = FindGain(kGains, name))
        ConvertLoopGain(setup, *gain);
    else if (IsName(name, "OffsetCurrent") && HasGravityCompensation(setup))
        Compute_FFL(setup);
    else if (IsName(name, "FilterOnCurrentControllerOutput"))
        Compute_FILTERQ(setup);
    CTuningTestDlg::OnChangedParameterValue(name);
}

void CTestCurrent::OnRefreshParameterValue(const char* name)
{
    if (const LoopGain* gain = FindGain(kGains, name); gain && m_bRunning)
        WriteRegistersToDrive(GetSetup(), gain->registers);
    CTuningTestDlg::OnRefreshParameterValue(name);
}

void CTestCurrent::BeginTest()
{
    RefreshAllParameters(0);
    ApplyFilterAndGravity();
    BeginWithPreliminaryTest();
}

void CTestCurrent::LaunchMainProgram()
{
    CMC_Setup* setup = GetSetup();
    if (!HandOverPreliminaryResults())
        return;
    if (!SetUserVariableValue(&m_main, "In1",
                              TruncatedProgramInput(setup->GetParameterValueInInternalUnit("TestCurrent")),
                              m_strError) ||
        !SetUserVariableValue(&m_main, "Imax_Prot_Test",
                              TruncatedProgramInput(setup->GetParameterValueInInternalUnit("Imax_Prot")),
                              m_strError)) {
        TestFailed(1);
        return;
    }
    StartMainProgram(m_logger.get());
}

void CTestCurrent::PollOwnStage()
{
    switch (m_nStage) {
    case 4:
        EndMainProgram();
        return;
    case 5:
        UploadResults();
        return;
    default:
        FailTest(*this, msc_pszErrInternal);
    }
}

void CTestCurrent::EndMainProgram()
{
    if (PollProgramEnd(*this, &m_main, kMaskShortCircuitEnable) != ProgramState::Ended)
        return;
    double flag = 0.0;
    if (!GetUserVariableValue(&m_main, "test_flag", flag, m_strError)) {
        TestFailed(1);
        return;
    }
    if (flag == kNoResult || flag <= 0.0) {
        FailTest(*this, flag == kNoResult ? msc_pszErrInternal : kProtectionTriggered);
        return;
    }
    if (!m_logger || !m_logger->BeginUploadData()) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    m_graph.Invalidate();
    ShowStageText();
    UploadResults();
}

// Reads the log onto the graph; a Stop (or a close) ends the run with the
// points read so far shown.
void CTestCurrent::UploadResults()
{
    if (m_logger && UploadOntoGraph(*this, *m_logger, m_graph))
        TestSucceeded(1);
}
