// "Total inertia test": after the preliminary positioning, the drive
// accelerates the motor with the test current and measures how long it takes
// to gain a given speed; torque times time over speed gain is the inertia of
// motor and load, written into "Jt". On Close it asks whether to keep it.
#pragma once

#include "PositioningTestDlg.h"

class CTotalInertiaTest : public CPositioningTestDlg {
public:
    static constexpr int kTemplateId = 3041;
    static constexpr unsigned kHelpTopic = 262417;

    CTotalInertiaTest(CMC_Setup* setup, int flag, QWidget* parent);

    void BeginTest() override;

protected:
    int OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(int id) override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;

private:
    void EvaluateInertiaProgram();

    double m_jtNew; // [kg m^2], as the setup holds it after the last success
    double m_jtOld; // "Jt" before the last successful run wrote its result
};
