// The base of every setup dialog of the module: keeps the drive registers in
// step with an edited gain or resolution, and gives the dialogs the recompute
// and help they all use.
#pragma once

#include "EditSetupDlg.h"

class CMySetupDlg : public CMC_EditSetupDlg {
public:
    CMySetupDlg(CMC_Setup* setup, int templateId, int flag, QStringList stepTexts, QWidget* parent);

    // Recomputes the registers behind a key parameter and derives it back from
    // them, so the dialog shows what the drive will really hold.
    void OnChangedParameterValue(const char* name) override;

protected:
    // The registers from the parameters, then the parameters from the registers.
    void Recompute();
    void OpenHelp(unsigned topic);
};
