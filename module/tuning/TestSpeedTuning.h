// "Speed Controller Tuning Test": the speed loop follows a speed profile
// (see ProfileTuningDlg.h) while the reference speed, the load speed, the
// current reference and the motor current are logged. "Tune" designs the PI
// gains from the bandwidth "PB_S" and the total inertia; the integral limit
// and the feed-forward gains are set by hand.
#pragma once

#include "ProfileTuningDlg.h"

class CTestSpeedTuning : public CProfileTuningDlg {
public:
    static constexpr int kTemplateId = 102;
    static constexpr unsigned kHelpTopic = 262402;
    static constexpr const char* kMainProgram = "Speed_Controller_Tuning_Test";
    static constexpr int kIdentify = 3271;

    CTestSpeedTuning(CMC_Setup* setup, int flag, QWidget* parent);

protected:
    std::array<const char*, 4> LoggedVariables() const override;
    bool WriteInputsBeforeTable() override;
    TriggerPoint ScopeTrigger(double finalValue, int referenceType) const override;
    void RescaleLowerLoopChannels() override;
    void UpdateFeedForwardControls() override;
    void Tune() override;
};
