#include "TestHallSignals.h"

#include "Helpers.h"
#include "HostServices.h"
#include "Setup.h"
#include "TestSequence.h"

#include <QPointer>

#include <cmath>

namespace {

constexpr std::array<const char*, 4> kStageTexts = {
    "Launching code for the preliminary test",
    "Running the preliminary test",
    "Launching code for the Hall configuration detection test",
    "Running the test",
};
// Short circuit or a missing Hall sensor, checked when the user stops.
constexpr std::uint16_t kMaskShortCircuitHall = 0x0022;
// The converter's full scale is 5 V.
constexpr double kFullScaleVolts = 5.0;

} // namespace

CTestHallSignals::CTestHallSignals(CMC_Setup* setup, int flag, QWidget* parent)
    : CHallTracesTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic, kProgram)
{
}

CTestHallSignals::~CTestHallSignals() = default;

void CTestHallSignals::BeginTest()
{
    // Stop stays the host's until the sampling begins.
    m_bStoppable = 0;
    if (!BeginWithEmptyValues())
        return;
    m_firstSamplePending = 1;
    m_changed.fill(0);
}

void CTestHallSignals::LaunchMainProgram()
{
    if (!HandOverPreliminaryResults())
        return;
    if (!SetUserVariableValue(&m_main, "run_test", 1, m_strError)) {
        TestFailed(1);
        return;
    }
    StartMainProgramOnEmptyTraces();
}

void CTestHallSignals::PollOwnStage()
{
    if (m_nStage == 4)
        SampleUntilStopped();
    else
        TestFailed(1);
}

void CTestHallSignals::SampleUntilStopped()
{
    // From now on the Start button stops the sampling.
    m_bStopRequest = 0;
    m_bStoppable = 1;
    if (!m_traces.FindSignals(*this))
        return;
    const double countsPerVolt = Compute_ADCMaxValue(GetSetup()) / kFullScaleVolts;

    QPointer<CTestHallSignals> alive(this);
    while (!m_bStopRequest) {
        if (!CheckDriveErrors(1, kMaskShortCircuit))
            return;
        HallTraces::Volts volts{};
        if (!m_traces.ReadSignals(*this, countsPerVolt, volts))
            return;
        m_traces.AddSample(*this, volts);
        if (m_firstSamplePending) {
            m_initial = volts;
            m_firstSamplePending = 0;
        } else {
            for (int i = 0; i < HallTraces::kChannels; ++i)
                if (!m_changed[i] && std::fabs(m_initial[i] - volts[i]) > kMinimumSwing)
                    m_changed[i] = 1;
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
