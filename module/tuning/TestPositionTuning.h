// "Position Controller Tuning Test": the position loop follows a position
// profile (see ProfileTuningDlg.h). With "PositionControlType" 1 the position
// controller drives the speed loop, whose reference is limited to the load
// speed limit, and the reference and load speed are logged besides the
// positions; otherwise it drives the current loop directly, and the current
// reference and motor current are logged. "Tune" designs the PID gains from
// the bandwidth "PB_P" and the total inertia.
#pragma once

#include "ProfileTuningDlg.h"

class CTestPositionTuning : public CProfileTuningDlg {
public:
    static constexpr int kTemplateId = 103;
    static constexpr unsigned kHelpTopic = 262403;
    static constexpr const char* kProgramWithSpeedLoop = "Position_Controller_Tuning_Test_with_SpdCtrl";
    static constexpr const char* kProgramWithoutSpeedLoop = "Position_Controller_Tuning_Test_without_SpdCtrl";
    static constexpr int kIdentify = 3305;

    CTestPositionTuning(CMC_Setup* setup, int flag, QWidget* parent);

    // Whether the position loop drives the speed loop in this run of the dialog.
    bool WithSpeedLoop() const { return m_withSpeedLoop; }

protected:
    std::array<const char*, 4> LoggedVariables() const override;
    bool WriteInputsBeforeTable() override;
    bool WriteInputsAfterTable() override;
    TriggerPoint ScopeTrigger(double finalValue, int referenceType) const override;
    void RescaleLowerLoopChannels() override;
    void UpdateFeedForwardControls() override;
    void Tune() override;

private:
    void RescaleSpeedChannels();

    bool m_withSpeedLoop;
};
