// The Drive info dialog: the drive's identity and its own data (supply
// ranges, current ratings, measuring ranges, temperature sensor,
// protections). The application ID is always editable; the drive data and the
// other identity fields only in the service edit mode, which Ctrl+Alt+Shift+S
// switches on and off.
#pragma once

#include "MySetupDlg.h"

class CDriveInfo : public CMySetupDlg {
public:
    CDriveInfo(CMC_Setup* setup, QWidget* parent);

    bool IsServiceEditMode() const { return m_serviceEdit; }

    static constexpr int kTemplateId = 3018;
    // The letter of the service chord, pressed with Ctrl, Alt and Shift held.
    static constexpr int kServiceKey = Qt::Key_S;

protected:
    int OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate) override;
    void OnOK() override;
    bool OnCommand(int id) override;
    bool PreTranslateKey(int key, Qt::KeyboardModifiers modifiers) override;

private:
    bool IsOn(const char* flag) const;

    bool m_serviceEdit = false;
};
