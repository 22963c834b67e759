// "VDC Detection Test": runs "VDC_Detection_Test", reads the DC bus voltage
// the drive measured and writes it, to two decimals, into "Vdc". On Close it
// asks whether to keep a value that differs from the one it started with.
#pragma once

#include "CoffFormat.h"
#include "MyTestDlg.h"

class CTestVdcDetection : public CMyTestDlg {
public:
    static constexpr int kTemplateId = 105;
    static constexpr unsigned kHelpTopic = 262405;

    CTestVdcDetection(CMC_Setup* setup, int flag, QWidget* parent);

    void BeginTest() override;

protected:
    void OnCancel() override;
    void OnPollTimer() override;

private:
    CMC_CoffFormat m_image;
    double m_vdcOld; // "Vdc" when the dialog opened [V]
};
