// Results that a drive program leaves in drive variables, read for a test
// that writes them into the setup.
#pragma once

class CMyTestDlg;

// Read, or how the test failed: with the internal error when the setup lacks
// the variable or the drive reported a value that is not a finite number
// or the no-result value,
// with the communication error when the transfer failed.
enum class DriveResult { Read, Missing, NotANumber, NotRead };

// Reads the drive variable `name` fresh from the drive, in internal units
// (or base units).
DriveResult ReadDriveResult(CMyTestDlg& test, const char* name, double& value, bool inBaseUnits = false);
