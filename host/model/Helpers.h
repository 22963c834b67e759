// Free functions of the host library.
#pragma once

#include <cstdint>

class CMC_Setup;

// Full-scale count of the drive's converter: a converter of b bits read left
// aligned in a 16-bit word, (2^b - 1) x 2^(16 - b). b is the parameter
// "ADCbits", 10 when the setup lacks it.
std::uint32_t Compute_ADCMaxValue(const CMC_Setup* setup);

// Nearest integer, halves away from zero.
long TG_Round(double x);
double TG_FRound(double x);
// x rounded to the given number of decimals.
double RoundDecimalValue(double x, int digits);

// Brake output lines: the drive's output pins 0 to 255 are the host's ports 1
// to 256 (port = pin + 1). Out-of-range arguments are clamped to that span, so
// every register field names a port and every port a pin.
int GetIOPortFromPin(int pin);
int GetIOPinFromPort(int port);
