// The host's setup dialog base: binds controls to parameters of the setup by
// name, shows each value in the unit the user picks, checks and stores what
// the user enters, and tells the dialog about every edit.
#pragma once

#include "Dialog.h"

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class CMC_Setup;
class CMC_Parameter;
class MotorEditor;

class CMC_EditSetupDlg : public CMC_Dialog {
public:
    // stepTexts: the guideline assistant's steps (box 10007, "Previous" 10005,
    // "Next" 10006); empty for none. The flag is kept for the dialogs' sake.
    CMC_EditSetupDlg(CMC_Setup* setup, int templateId, int flag, QStringList stepTexts, QWidget* parent);
    ~CMC_EditSetupDlg() override;

    CMC_Setup* GetSetup() const { return m_setup; }

    // Bindings, made once in the constructor. A parameter the setup lacks is
    // not bound and its controls are disabled.
    void AddParameterControls(const char* name, int editId, int unitComboId);
    void AddCheckParameterControls(const char* name, int checkId);
    // Radio buttons firstId..lastId; button firstId + k stands for the value k.
    void AddSwitchParameterControls(const char* name, int firstId, int lastId);
    // A drop-down list whose items carry their values as item data.
    void AddSwitchParameterControls(const char* name, int comboId);
    // A slider over max(min, 0.5 x value) .. min(max, 1.5 x value), taken now,
    // with its edit, unit box (0: none) and two spin buttons that step it.
    void AddSliderParameterControls(const char* name, int sliderId, int editId, int unitComboId,
                                    int lowerSpinId, int upperSpinId);

    // Shows bound parameters again from the setup.
    void RefreshAllParameters(int unused = 0);
    void RefreshParameterControls(const char* name);

    // The CAN bus group (10020 to 10023): the baud rate list, and the button
    // that opens the CANopen settings (CanSettingsDlg.h); the two stay in step.
    void EnableCANSettings();
    // The motor database controls (10010 to 10013).
    void InitializeMotorEditor();

    // The guideline assistant's current step, from 0.
    int CurrentStep() const { return m_step; }

    // Notifications: after the user changed a value (stored already), after
    // the user picked another unit, and once per user edit after redisplay.
    virtual void OnChangedParameterValue(const char* name);
    virtual void OnChangedParameterUnit(const char* name);
    virtual void OnRefreshParameterValue(const char* name);

    // A user edit of a parameter, as the controls make it: stores the value
    // and sends the notifications. Returns false (nothing stored) when refused.
    bool UserSetsParameter(const std::string& name, double baseValue);

protected:
    int OnInitDialog() override;
    bool OnCommand(int id) override;

private:
    struct Binding;
    Binding* Bind(const char* name);
    CMC_Parameter* Parameter(const Binding& binding) const;
    void Show(const Binding& binding);
    void ShowUnits(const Binding& binding);
    void ConnectEdit(Binding& binding);
    void ConnectUnitCombo(Binding& binding);
    void ConnectSlider(Binding& binding);
    void EditFinished(Binding& binding, int editId);
    void SetHint(int id, const QString& hint);
    void ShowStep();

    CMC_Setup* m_setup;
    int m_flag;
    QStringList m_steps;
    int m_step = 0;
    std::vector<std::unique_ptr<Binding>> m_bindings;
    std::unique_ptr<MotorEditor> m_motorEditor;
    bool m_refreshing = false;
};
