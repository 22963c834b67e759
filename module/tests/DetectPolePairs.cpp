#include "DetectPolePairs.h"

#include "Comm.h"
#include "DriveResults.h"
#include "HostServices.h"
#include "Setup.h"
#include "TestSequence.h"

#include <QPointer>

#include <array>
#include <cmath>

namespace {

constexpr std::array<const char*, 5> kStageTexts = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Waiting for user input",
    "Running test",
};
constexpr int kStartButton = 10000;

// "THTST" settles in this window when a move has finished [internal units].
constexpr double kMoveDoneLow = -16383.0;
constexpr double kMoveDoneHigh = -16382.0;

// "var_i2": the command to the program (0 one more step, 1 finish) and, at
// the end, the number of pole pairs found.
constexpr const char* kCommand = "var_i2";
constexpr double kMoveOneStep = 0.0;
constexpr double kFinish = 1.0;

// Truncates a count the drive reported; false when it is no usable number.
bool TruncateCount(double value, int& count)
{
    if (!std::isfinite(value) || std::fabs(value) >= 2147483648.0)
        return false;
    count = static_cast<int>(value);
    return true;
}

} // namespace

CDetectPolePairs::CDetectPolePairs(CMC_Setup* setup, int flag, QWidget* parent)
    : CPositioningTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic, kProgram)
{
    AddParameterControls("TestCurrent", 1005, 1017);
}

CDetectPolePairs::~CDetectPolePairs() = default;

void CDetectPolePairs::DoDataExchange(bool saveAndValidate)
{
    CMyTestDlg::DoDataExchange(saveAndValidate);
    if (saveAndValidate) {
        m_polePairsText = GetChildText(kPolePairsEdit);
        return;
    }
    SetChildText(kPolePairsEdit, m_polePairsText);
    m_moveVisible = m_moveVisible && m_bRunning;
    ShowChild(kMoveButton, m_moveVisible != 0);
    EnableChild(kMoveButton, m_moveEnabled != 0);
}

void CDetectPolePairs::OnChangedParameterValue(const char* name)
{
    UpdateData(true);
    CMyTestDlg::OnChangedParameterValue(name);
}

bool CDetectPolePairs::OnCommand(int id)
{
    switch (id) {
    case kStartButton:
        OnStartStop();
        return true;
    case kMoveButton:
        OnMove();
        return true;
    default:
        return CMyTestDlg::OnCommand(id);
    }
}

void CDetectPolePairs::BeginTest()
{
    m_polePairsText.clear();
    m_polePairs = 0;
    BeginWithPreliminaryTest();
    UpdateData(false);
}

bool CDetectPolePairs::WriteCommand(double command)
{
    CMC_Variable* variable = GetSetup()->FindVariable(kCommand, 1);
    if (!variable) {
        FailTest(*this, msc_pszErrInternal);
        return false;
    }
    variable->SetValueInBaseUnit(command);
    if (!variable->WriteToChip()) {
        FailTest(*this, CMC_Comm::GetLastErrorText());
        return false;
    }
    return true;
}

void CDetectPolePairs::OnStartStop()
{
    if (!m_bRunning || !m_bStoppable) {
        OnBtnStartStop();
        UpdateData(false);
        return;
    }
    // Stop after at least one move: the program counts no further and
    // reports its result.
    m_moveVisible = 0;
    m_bStoppable = 0;
    UpdateData(false);
    if (!WriteCommand(kFinish)) {
        UpdateData(false);
        return;
    }
    ShowStageText();
    RearmPoll(1);
}

void CDetectPolePairs::OnMove()
{
    if (!m_bRunning)
        return;
    m_moveEnabled = 0;
    QPointer<CDetectPolePairs> alive(this);
    {
        WaitCursor cursor;
        if (!WriteCommand(kMoveOneStep)) {
            m_moveEnabled = 1;
            UpdateData(false);
            return;
        }
        if (!m_bStoppable)
            m_bStoppable = 1;

        // The move has finished when the imposed angle is back in its window.
        CMC_Variable* angle = GetSetup()->FindVariable("THTST", 1);
        bool read = angle && angle->ReadFromChip();
        UpdateData(false);
        while (read && m_bRunning) {
            const double value = angle->GetValueInInternalUnit();
            if (value >= kMoveDoneLow && value <= kMoveDoneHigh)
                break;
            read = angle->ReadFromChip();
            if (!read)
                break;
            PumpMessages();
            if (!alive)
                return;
        }
        if (!read && m_bRunning)
            FailTest(*this, angle ? CMC_Comm::GetLastErrorText() : msc_pszErrInternal);
    }
    m_moveEnabled = 1;
    UpdateData(false);
    // Closed, stopped or failed while the motor moved: nothing more to count.
    if (!m_bRunning)
        return;

    double counted = 0.0;
    if (!GetUserVariableValue(&m_main, "poles_pairs", counted, m_strError)) {
        TestFailed(1);
        UpdateData(false);
        return;
    }
    int count = 0;
    TruncateCount(counted, count);
    m_polePairs = count;
    m_polePairsText = QString::asprintf("%d", count);
    UpdateData(false);
}

void CDetectPolePairs::OnPollTimer()
{
    CPositioningTestDlg::OnPollTimer();
    if (!m_bRunning)
        UpdateData(false);
}

void CDetectPolePairs::LaunchMainProgram()
{
    // No poll yet: the program may be waiting for Move at once.
    if (HandOverPreliminaryResults() && StartProgram(kProgram, &m_main))
        WaitUntilReady();
}

void CDetectPolePairs::PollOwnStage()
{
    switch (m_nStage) {
    case 4:
        WaitUntilReady();
        break;
    case 5:
        Finish();
        break;
    default:
        TestFailed(1);
        break;
    }
}

void CDetectPolePairs::WaitUntilReady()
{
    double started = 0.0;
    if (!GetUserVariableValue(&m_main, "STARTED", started, m_strError)) {
        CMC_Comm::ResetActiveBoard();
        TestFailed(1);
        return;
    }
    if (started != 0.0) {
        int on = 0;
        if (!GetAxisOn(on)) {
            FailTest(*this, CMC_Comm::GetLastErrorText());
            return;
        }
        if (on != 0) {
            // The program waits for Move and Stop: no poll until Stop.
            m_moveVisible = 1;
            UpdateData(false);
            return;
        }
    }
    if (CheckDriveErrors(1, kMaskShortCircuitEnable))
        RearmPoll();
}

void CDetectPolePairs::Finish()
{
    if (PollProgramEnd(*this, &m_main, kMaskShortCircuitEnable) != ProgramState::Ended)
        return;
    double reported = 0.0;
    if (ReadDriveResult(*this, kCommand, reported, true) != DriveResult::Read)
        return;
    int count = 0;
    if (!TruncateCount(reported, count) || count <= 0) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    m_polePairs = count;
    m_polePairsText = QString::asprintf("%d", count);
    int old = 0;
    TruncateCount(GetSetup()->GetParameterValueInBaseUnit("pp"), old);
    m_oldPolePairs = old;
    GetSetup()->SetParameterValueInBaseUnit("pp", m_polePairs);
    TestSucceeded(1);
    m_moveVisible = 0;
    RefreshAllParameters(0);
    UpdateData(false);
    if (m_bStoppable == 1)
        m_bStoppable = 0;
}

void CDetectPolePairs::OnCancel()
{
    const QString question =
        ChangedValuesQuestion({{QStringLiteral("Pole Pairs"), QString::asprintf("%d", m_oldPolePairs),
                                QString::asprintf("%d", m_polePairs)}},
                              m_nResult);
    switch (AskToSaveChangedValues(question)) {
    case 0: // nothing changed
        CMyTestDlg::OnCancel();
        break;
    case IDYES:
        EndDialog(IDOK);
        break;
    case IDNO:
        GetSetup()->SetParameterValueInBaseUnit("pp", m_oldPolePairs);
        EndDialog(IDCANCEL);
        break;
    default:
        break; // Cancel: the dialog stays open
    }
}
