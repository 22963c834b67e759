// The factor and offset that turn a value in the drive's internal units into a
// named unit: value = (internal + offset) x factor. Unit and variable names
// are compared ignoring letter case. Computed afresh from the setup each call.
#pragma once

class CMC_Setup;

double ScaleFactorOf(CMC_Setup* setup, const char* unitName, const char* name);
double ScaleOffsetOf(CMC_Setup* setup, const char* unitName);
