#include "DriveResults.h"

#include "Comm.h"
#include "MyTestDlg.h"
#include "Setup.h"
#include "TestSequence.h"

#include <cmath>

DriveResult ReadDriveResult(CMyTestDlg& test, const char* name, double& value, bool inBaseUnits)
{
    CMC_Variable* variable = test.GetSetup()->FindVariable(name, 1);
    if (variable == nullptr) {
        FailTest(test, CMC_TestDlg::msc_pszErrInternal);
        return DriveResult::Missing;
    }
    // Straight from the link: the setup model refuses a value that is no
    // number just as it refuses a failed transfer, and here the two differ.
    DriveLink* link = CMC_Comm::ActiveLink();
    double read = 0.0;
    if (!CMC_Comm::Record(link != nullptr ? link->ReadVariable(CMC_Comm::Now(), name, read)
                                          : LinkResult::NotConnected)) {
        FailTest(test, CMC_Comm::GetLastErrorText());
        return DriveResult::NotRead;
    }
    if (std::isfinite(read) && read != kNoResult)
        variable->SetValueInInternalUnit(read);
    const double result = inBaseUnits ? variable->GetValueInBaseUnit() : variable->GetValueInInternalUnit();
    if (!std::isfinite(read) || read == kNoResult || !std::isfinite(result)) {
        FailTest(test, CMC_TestDlg::msc_pszErrInternal);
        return DriveResult::NotANumber;
    }
    value = result;
    return DriveResult::Read;
}
