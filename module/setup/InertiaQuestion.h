// The motor inertia question: the motor inertia exceeds the total inertia set
// for motor and load; the user either raises the total inertia to match the
// motor or leaves it and has the motor inertia disregarded.
#pragma once

#include "MySetupDlg.h"

class CInertiaQuestion : public CMySetupDlg {
public:
    CInertiaQuestion(CMC_Setup* setup, QWidget* parent);

    enum Choice { kIncreaseTotalInertia = 1, kDisregardMotorInertia = 2 };
    int GetChoice() const { return m_choice; }

    static constexpr int kTemplateId = 3056;

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnOK() override;
    bool OnCommand(int id) override;

private:
    int m_choice = kIncreaseTotalInertia;
};
