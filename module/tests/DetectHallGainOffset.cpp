#include "DetectHallGainOffset.h"

#include "Comm.h"
#include "DriveResults.h"
#include "HostServices.h"
#include "Setup.h"
#include "TestSequence.h"

#include <QPointer>

namespace {

constexpr std::array<const char*, 5> kStageTexts = {
    "Launching code for the preliminary test",
    "Running the preliminary test",
    "Launching code for the Hall configuration detection test",
    "Running the test",
    "Computing data",
};
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
    : CHallTracesTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic, kProgram)
{
}

CDetectHallGainOffset::~CDetectHallGainOffset() = default;

void CDetectHallGainOffset::OnCancel()
{
    // What the test found may already be in the setup: the caller recomputes.
    EndDialog(IDOK);
}

void CDetectHallGainOffset::BeginTest()
{
    m_bStopRequest = 0;
    BeginWithEmptyValues();
}

void CDetectHallGainOffset::LaunchMainProgram()
{
    if (HandOverPreliminaryResults())
        StartMainProgramOnEmptyTraces();
}

void CDetectHallGainOffset::PollOwnStage()
{
    switch (m_nStage) {
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

void CDetectHallGainOffset::WatchUntilDone()
{
    m_bStoppable = 0;
    if (!CheckDriveErrors(1, kMaskShortCircuitEnable) || !m_traces.FindSignals(*this))
        return;
    CMC_Variable* status = GetSetup()->FindVariable(kStatus, 1);
    if (!status)
        return FailTest(*this, msc_pszErrInternal);
    if (!m_traces.Signal(0)->ReadFromChip())
        return FailTest(*this, CMC_Comm::GetLastErrorText());

    QPointer<CDetectHallGainOffset> alive(this);
    double outcome = kWorking;
    while (!m_bStopRequest && m_bRunning) {
        if (!CheckDriveErrors(1, kMaskShortCircuitEnable))
            return;
        HallTraces::Volts volts{};
        if (!m_traces.ReadSignals(*this, kCountsPerVolt, volts))
            return;
        if (!status->ReadFromChip())
            return FailTest(*this, CMC_Comm::GetLastErrorText());
        outcome = status->GetValueInInternalUnit();
        m_traces.AddSample(*this, volts);
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
