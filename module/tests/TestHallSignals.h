// The Hall Signals Connection Test: after the preliminary positioning, the
// drive releases the motor and the dialog samples the three linear Hall
// signals, as live traces, while the user turns the shaft by hand. Stop ends
// the sampling; the test passes when each signal moved by more than 1 V.
// Nothing is written into the setup.
#pragma once

#include "HallTracesTestDlg.h"

class CTestHallSignals : public CHallTracesTestDlg {
public:
    CTestHallSignals(CMC_Setup* setup, int flag, QWidget* parent);
    ~CTestHallSignals() override;

    static constexpr int kTemplateId = 293;
    static constexpr unsigned kHelpTopic = 262415;
    static constexpr const char* kProgram = "Hall_Signals_Connection_Test";
    // A signal must move by more than this from its first sample [V].
    static constexpr double kMinimumSwing = 1.0;
    static constexpr const char* kFailureText =
        "At least one Hall sensor output does not change. Check the Hall sensors connections.";
    // Shown in the value box of a signal that never moved.
    static constexpr const char* kBadSignalText = "HALL BAD";

    void BeginTest() override;

    bool HasChanged(int channel) const { return m_changed[channel] != 0; }

protected:
    void LaunchMainProgram() override;
    void PollOwnStage() override;

private:
    void SampleUntilStopped();
    void Evaluate();

    int m_firstSamplePending = 1;
    HallTraces::Volts m_initial{};
    std::array<int, HallTraces::kChannels> m_changed{};
};
