// The "External Reference Setup" dialog: where the drive takes its position,
// speed or torque reference from when the reference is external. Analogue: an
// input scaled between a minimum and a maximum, with a dead band and an
// optional filter. Digital (position control only): pulse and direction or an
// incremental encoder, with a gear ratio. What is offered, and the captions and
// picture, follow the control mode.
#pragma once

#include "MySetupDlg.h"

#include <memory>

class CAnalogReferenceDlg : public CMySetupDlg {
public:
    CAnalogReferenceDlg(CMC_Setup* setup, QWidget* parent);
    ~CAnalogReferenceDlg() override;

    void OnChangedParameterValue(const char* name) override;
    // A maximum and its minimum share one display unit.
    void OnChangedParameterUnit(const char* name) override;
    // An end point bounds its partner: the ranges of both are computed anew.
    void OnRefreshParameterValue(const char* name) override;

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    bool OnCommand(int id) override;
    void OnCancel() override;

private:
    int IntValue(const char* name) const;
    void MatchUnit(const char* minimum, const char* maximum);
    void SetLimitCaption();
    void ShowFilterBandwidth(bool show);
    void RunAnalogueReferenceTest();

    int m_mode; // "ControlMode" when the dialog was made: 0 position, 1 speed, 2 torque
    bool m_hasAnalogueInput;
    std::unique_ptr<CMC_Setup> m_original; // restored on Cancel
};
