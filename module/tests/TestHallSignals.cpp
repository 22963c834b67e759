#include "TestHallSignals.h"

#include "Comm.h"
#include "Helpers.h"
#include "HostServices.h"
#include "Setup.h"
#include "TestSequence.h"

#include <QPointer>

#include <cmath>

namespace {

constexpr const char* kPreliminaryProgram = "Initial_Positioning_Test";
constexpr std::array<const char*, 4> kStageTexts = {
    "Launching code for the preliminary test",
    "Running the preliminary test",
    "Launching code for the Hall configuration detection test",
    "Running the test",
};
// Short circuit or a missing Hall sensor, checked when the user stops.
constexpr std::uint16_t kMaskShortCircuitHall = 0x0022;
// The value boxes show every tenth sample.
constexpr int kSamplesPerDisplay = 10;
// The converter's full scale is 5 V.
constexpr double kFullScaleVolts = 5.0;

} // namespace

CTestHallSignals::CTestHallSignals(CMC_Setup* setup, int flag, QWidget* parent)
    : CMyTestDlg(setup, kTemplateId, flag, parent)
{
    m_nStageCount = kStageTexts.size();
    AddParameterControls("TestCurrent", 1005, 1017);
    m_bStoppable = 0;
    SetHelpTopic(kHelpTopic);
}

CTestHallSignals::~CTestHallSignals() = default;

int CTestHallSignals::OnInitDialog()
{
    m_traces.Attach(*this);
    CMC_TestDlg::OnInitDialog();
    LoadProgramImage(m_main, kProgram);
    LoadProgramImage(m_preliminary, kPreliminaryProgram);
    return 1;
}

void CTestHallSignals::ShowStageText()
{
    if (m_nStage < kStageTexts.size())
        SetInfoText(QString::fromUtf8(kStageTexts[m_nStage]));
}

void CTestHallSignals::BeginTest()
{
    EmptyControls(*this,
                  {HallTraces::kValueEdits[0], HallTraces::kValueEdits[1], HallTraces::kValueEdits[2]});
    m_testCurrent = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
    // Stop stays the host's until the sampling begins.
    m_bStoppable = 0;
    m_bRunning = 1;
    m_nResult = -1;
    m_nStage = 0;
    ShowStageText();
    if (!LaunchPreliminaryTest(*this, &m_preliminary, m_testCurrent))
        return;
    ShowStageText();
    m_firstSamplePending = 1;
    m_changed.fill(0);
    RearmPoll(*this);
}

void CTestHallSignals::OnTimer(int id)
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
        SampleUntilStopped();
        return;
    default:
        TestFailed(1);
    }
}

void CTestHallSignals::LaunchTestProgram()
{
    if (!SetUserVariableValue(&m_main, "RefTest", m_reftst, m_strError) ||
        !SetUserVariableValue(&m_main, "RIncTest", m_rinctst, m_strError) ||
        !SetUserVariableValue(&m_main, "run_test", 1, m_strError)) {
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

void CTestHallSignals::SampleUntilStopped()
{
    // From now on the Start button stops the sampling.
    m_bStopRequest = 0;
    m_bStoppable = 1;
    int samples = 0;

    CMC_Setup* setup = GetSetup();
    std::array<CMC_Variable*, HallTraces::kChannels> signals{};
    const auto names = HallTraces::VariableNames(*setup);
    for (int i = 0; i < HallTraces::kChannels; ++i)
        if (!(signals[i] = setup->FindVariable(names[i], 1)))
            return FailTest(*this, msc_pszErrInternal);
    const double countsPerVolt = Compute_ADCMaxValue(setup) / kFullScaleVolts;

    QPointer<CTestHallSignals> alive(this);
    while (!m_bStopRequest) {
        if (!CheckDriveErrors(1, kMaskShortCircuit))
            return;
        HallTraces::Volts volts{};
        for (int i = 0; i < HallTraces::kChannels; ++i) {
            if (!signals[i]->ReadFromChip())
                return FailTest(*this, CMC_Comm::GetLastErrorText());
            volts[i] = signals[i]->GetValueInInternalUnit() / countsPerVolt;
        }
        m_traces.AddSample(volts);
        if (m_firstSamplePending) {
            m_initial = volts;
            m_firstSamplePending = 0;
        } else {
            for (int i = 0; i < HallTraces::kChannels; ++i)
                if (!m_changed[i] && std::fabs(m_initial[i] - volts[i]) > kMinimumSwing)
                    m_changed[i] = 1;
        }
        if (++samples == kSamplesPerDisplay) {
            HallTraces::ShowValues(*this, volts);
            samples = 0;
        }
        // The user's Stop arrives here.
        PumpMessages();
        // Closed, or the run ended otherwise: no result.
        if (!alive || !m_bRunning)
            return;
    }
    Evaluate();
}

void CTestHallSignals::Evaluate()
{
    if (!SetUserVariableValue(&m_main, "run_test", 0, m_strError)) {
        TestFailed(1);
        return;
    }
    if (!CheckDriveErrors(1, kMaskShortCircuitHall))
        return;
    bool allChanged = true;
    for (int i = 0; i < HallTraces::kChannels; ++i)
        if (!m_changed[i]) {
            SetChildText(HallTraces::kValueEdits[i], QString::fromUtf8(kBadSignalText));
            allChanged = false;
        }
    if (allChanged)
        TestSucceeded(1);
    else
        FailTest(*this, kFailureText);
}
