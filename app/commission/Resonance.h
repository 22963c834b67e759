// A mechanical resonance in the speed loop's error: the error logged while
// the profile holds its speed, its spectrum, and the largest peak above the
// loop's bandwidth judged against the spectrum's floor.
#pragma once

#include "CommissionResult.h"

#include <vector>

struct HeldError {
    double period = 0.0;       // [s] between samples
    std::vector<double> time;  // [s]
    std::vector<double> error; // reference - measured [rpm]
};

// From a speed test's log (time, reference, measured, ...): the samples
// where the reference holds its largest value, the first quarter of them
// (the loop settling after the ramp) left out.
HeldError HeldSpeedError(const std::vector<std::vector<double>>& log);

// The largest peak of the spectrum from above the loop's bandwidth (and
// 100 Hz) up to near the Nyquist frequency; found when it stands out of the
// floor (the median amplitude) by a factor of six, and is worth a notch.
ResonanceCheck FindResonance(const HeldError& error, double bandwidthHz);
// The amplitude at the resonance and the RMS of the error, before and with the notch.
void MeasureNotch(ResonanceCheck& check, const HeldError& before, const HeldError& after);

Trace NotchTrace(const HeldError& before, const HeldError& after);
Trace SpectrumTrace(const HeldError& before, const HeldError& after);
