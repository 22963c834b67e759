#include "DetectHallGainOffset.h"

#include "Comm.h"
#include "DriveResults.h"
#include "HostServices.h"
#include "Setup.h"
#include "TestSequence.h"

#include <QPointer>

namespace {

constexpr const char* kPreliminaryProgram = "Initial_Positioning_Test";
constexpr std::array<const char*, 5> kStageTexts = {
    "Launching code for the preliminary test",
    "Running the preliminary test",
    "Launching code for the Hall configuration detection test",
    "Running the test",
    "Computing data",
};
// The value boxes show every tenth sample.
constexpr int kSamplesPerDisplay = 10;

// "WEAKINC": 0 while the program works, then its outcome.
constexpr const char* kStatus = "WEAKINC";
constexpr double kWorking = 0.0;
constexpr double kSignalMissing = -1.0;
constexpr double kOrderMismatch = -2.0;

} // namespace

const char* const CDetectHallGainOffset::kSignalMissingText =
    "One Linear Hall signal is missing.\n"
    "Please check the Hall signals connections to the drive and repeat the test. If the test fails and the "
    "connections are OK, increase the test current value.";
const char* const CDetectHallGainOffset::kOrderMismatchText =
    "Switch any two motor phases or two Linear Hall signals.";

const std::array<CDetectHallGainOffset::Transfer, 8> CDetectHallGainOffset::kTransfers = {{
    {"ALPHA", "ALPHA"},
    {"KSLIP", "HALLCGAIN"},
    {"SFTCWEAK", "HALLCOFF"},
    {"AD3OFF", "HALLBOFF"},
    {"AD6OFF", "HALLAOFF"},
    {"SRECTCOMP", "HALLAGAIN"},
    {"SIN2REC", "HALLBGAIN"},
    {"ZAOFF", "ZAOFF"},
}};

CDetectHallGainOffset::CDetectHallGainOffset(CMC_Setup* setup, int flag, QWidget* parent)
    : CMyTestDlg(setup, kTemplateId, flag, parent)
{
    m_nStageCount = kStageTexts.size();
    AddParameterControls("TestCurrent", 1005, 1017);
    m_bStoppable = 0;
    SetHelpTopic(kHelpTopic);
}

CDetectHallGainOffset::~CDetectHallGainOffset() = default;

int CDetectHallGainOffset::OnInitDialog()
{
    m_traces.Attach(*this);
    CMC_TestDlg::OnInitDialog();
    LoadProgramImage(m_main, kProgram);
    LoadProgramImage(m_preliminary, kPreliminaryProgram);
    return 1;
}

void CDetectHallGainOffset::OnCancel()
{
    // What the test found may already be in the setup: the caller recomputes.
    EndDialog(IDOK);
}

void CDetectHallGainOffset::ShowStageText()
{
    if (m_nStage < kStageTexts.size())
        SetInfoText(QString::fromUtf8(kStageTexts[m_nStage]));
}

void CDetectHallGainOffset::BeginTest()
{
    EmptyControls(*this,
                  {HallTraces::kValueEdits[0], HallTraces::kValueEdits[1], HallTraces::kValueEdits[2]});
    m_testCurrent = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    m_nStage = 0;
    m_bRunning = 1;
    m_nResult = -1;
    m_bStopRequest = 0;
    ShowStageText();
    if (!LaunchPreliminaryTest(*this, &m_preliminary, m_testCurrent))
        return;
    ShowStageText();
    RearmPoll(*this);
}

void CDetectHallGainOffset::OnTimer(int id)
{
    KillTimer(kPollTimer);
    if (!m_bRunning || id != kPollTimer) {
        CMyTestDlg::OnTimer(id);
        return;
    }
    switch (m_nStage) {
    case 2:
        if (PollProgramEnd(*this, &m_preliminary, kMaskShortCircuitEnable) != ProgramState::Ended ||
            !TakeHallPreliminaryResults(*this, &m_preliminary, m_reftst, m_rinctst))
            return;
        ShowStageText();
        [[fallthrough]];
    case 3:
        LaunchTestProgram();
        return;
    case 4:
        WatchUntilDone();
        return;
    case 5:
        TransferResults();
        return;
    default:
        TestFailed(1);
    }
}

void CDetectHallGainOffset::LaunchTestProgram()
{
    if (!SetUserVariableValue(&m_main, "RefTest", m_reftst, m_strError) ||
        !SetUserVariableValue(&m_main, "RIncTest", m_rinctst, m_strError)) {
        TestFailed(1);
        return;
    }
    if (!ExecuteCode(kProgram, &m_main, nullptr, nullptr, nullptr)) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    ShowStageText();
    m_traces.Prepare();
    RearmPoll(*this);
}

void CDetectHallGainOffset::WatchUntilDone()
{
    m_bStoppable = 0;
    int samples = 0;
    if (!CheckDriveErrors(1, kMaskShortCircuitEnable))
        return;

    CMC_Setup* setup = GetSetup();
    const auto names = HallTraces::VariableNames(*setup);
    std::array<CMC_Variable*, HallTraces::kChannels> signals{};
    for (int i = 0; i < HallTraces::kChannels; ++i)
        if (!(signals[i] = setup->FindVariable(names[i], 1)))
            return FailTest(*this, msc_pszErrInternal);
    CMC_Variable* status = setup->FindVariable(kStatus, 1);
    if (!status)
        return FailTest(*this, msc_pszErrInternal);
    if (!signals[0]->ReadFromChip())
        return FailTest(*this, CMC_Comm::GetLastErrorText());

    QPointer<CDetectHallGainOffset> alive(this);
    double outcome = kWorking;
    while (!m_bStopRequest && m_bRunning) {
        if (!CheckDriveErrors(1, kMaskShortCircuitEnable))
            return;
        HallTraces::Volts volts{};
        for (int i = 0; i < HallTraces::kChannels; ++i) {
            if (!signals[i]->ReadFromChip())
                return FailTest(*this, CMC_Comm::GetLastErrorText());
            volts[i] = signals[i]->GetValueInInternalUnit() / kCountsPerVolt;
        }
        if (!status->ReadFromChip())
            return FailTest(*this, CMC_Comm::GetLastErrorText());
        outcome = status->GetValueInInternalUnit();
        m_traces.AddSample(volts);
        if (++samples == kSamplesPerDisplay) {
            HallTraces::ShowValues(*this, volts);
            samples = 0;
        }
        PumpMessages();
        if (!alive)
            return;
        if (outcome != kWorking)
            break;
    }
    // Closed, or stopped through the host: no result.
    if (!m_bRunning)
        return;
    if (outcome == kSignalMissing)
        return FailTest(*this, kSignalMissingText);
    if (outcome == kOrderMismatch)
        return FailTest(*this, kOrderMismatchText);
    ShowStageText();
    TransferResults();
}

void CDetectHallGainOffset::TransferResults()
{
    if (!CheckDriveErrors(1, kMaskShortCircuitEnable))
        return;
    CMC_Setup* setup = GetSetup();
    // All results are read before any is written: a value that is no number
    // fails the test and leaves the setup as it was. A result that is missing
    // or cannot be transferred fails it too, keeping those read before it.
    std::array<double, kTransfers.size()> values{};
    for (std::size_t i = 0; i < kTransfers.size(); ++i) {
        const DriveResult read = ReadDriveResult(*this, kTransfers[i].variable, values[i]);
        if (read == DriveResult::NotANumber)
            return;
        if (read != DriveResult::Read) {
            for (std::size_t k = 0; k < i; ++k)
                setup->SetParameterValueInBaseUnit(kTransfers[k].parameter, values[k]);
            return;
        }
    }
    for (std::size_t i = 0; i < kTransfers.size(); ++i)
        setup->SetParameterValueInBaseUnit(kTransfers[i].parameter, values[i]);
    TestSucceeded(1);
}
