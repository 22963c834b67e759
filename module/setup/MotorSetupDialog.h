// The Brushless Motor Setup dialog: the motor's electrical data, its linear
// Hall sensors, temperature sensor and brake, the transmission to the load,
// and the identification tests that measure these on the connected motor.
#pragma once

#include "MySetupDlg.h"
#include "TestLauncher.h"

class CMotorSetupDialog : public CMySetupDlg {
public:
    CMotorSetupDialog(CMC_Setup* setup, QWidget* parent);

    void OnChangedParameterValue(const char* name) override;
    void OnRefreshParameterValue(const char* name) override;

    static constexpr int kTemplateId = 108;
    static constexpr unsigned kHelpTopic = 262407;

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnOK() override;
    bool OnCommand(int id) override;

private:
    // A parameter's value [base units], 0 when the setup lacks it.
    double Value(const char* name) const;
    // The integer part of a parameter's value, 0 when the setup lacks it.
    int IntValue(const char* name, bool internal = false) const;
    void ShowBrakeWiring();
    void ReplaceZeroTransmission(const char* name);
    // Recompute, run the test, and after OK recompute again; true after OK.
    bool RunTest(ModuleTest test, int testFlag);
};
