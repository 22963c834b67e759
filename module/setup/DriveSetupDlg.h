// The setup editor's entry dialog (template 106): the control mode, the
// current, speed and position controllers, the external reference switch, the
// axis ID, the protections, the brake resistor, the input polarities, the
// software limit switches and the start mode. Its buttons open the other setup
// dialogs and the commissioning tests, each over the same setup, with the setup
// recomputed before and after. Each time it is shown it opens the motor setup
// on top of itself.
#pragma once

#include "MySetupDlg.h"

#include <functional>

class QComboBox;
class QShowEvent;

class CDriveSetupDlg : public CMySetupDlg {
public:
    CDriveSetupDlg(CMC_Setup* setup, QWidget* parent);

    void OnChangedParameterValue(const char* name) override;
    void OnRefreshParameterValue(const char* name) override;

    // Timer 2 opens the motor setup once the dialog is up.
    static constexpr int kMotorSetupTimer = 2;

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(int id) override;
    void OnSelChange(int id) override;
    void OnTimer(int id) override;
    void showEvent(QShowEvent* event) override;

private:
    // What the dialog does after a child dialog or test ended with OK.
    enum class AfterOk {
        Recompute,         // the registers and back only
        RecomputeExchange, // then the enable and show rules
        RecomputeRefresh,  // then every bound control and the rules
    };
    // Recomputes (and optionally the limits), runs the child and, when it gave
    // OK, brings the dialog up to date. Returns the child's result.
    int RunChild(const std::function<int()>& open, bool limitsBefore, AfterOk after);
    template <typename Dialog> int RunSetupDialog();

    void ApplyControlRules();
    void FillAxisIdCombo();
    void SelectInputsType(bool sink);
    void ShowPolarityCaptions(bool sink);
    void ShowReferenceTypeCaption();
    void StoreAxisId();
    void CenterOnParent();
    // A parameter's value in base units, 0 when the setup lacks it (no report).
    double Value(const char* name) const;

    QComboBox* m_axisIdCombo = nullptr;
    // "InputsPolarityType" as last shown, so a click on the selected type
    // does not invert the polarities.
    double m_shownInputsType = -1.0;
};
