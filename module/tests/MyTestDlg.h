// The base of every test dialog of the module: the drive error check and the
// start-up rule on the minimum move.
#pragma once

#include "TestDlg.h"

#include <cstdint>

class CMyTestDlg : public CMC_TestDlg {
public:
    // Unless the template is a controller tuning test (102, 103), a setup with
    // "ABSTART_MINMOVE" gets it set to 0.
    CMyTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent);

    // 1 when the drive reports none of the errors the mask selects ("MER");
    // otherwise the error text goes into m_strError, TestFailed(1) follows
    // when failOnError is non-zero, and 0 is returned.
    int CheckDriveErrors(int failOnError, std::uint16_t mask);
};

// Registers every test dialog of the module with the setup editor's launcher.
void RegisterModuleTests();
