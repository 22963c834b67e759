// A mechanical resonance in the speed loop's error: the error logged while
// the profile runs, its spectrum averaged over stretches of the log, and the
// largest peak above the loop's bandwidth judged against the spectrum's
// floor.
#pragma once

#include "CommissionResult.h"

#include <vector>

struct SpeedError {
    double period = 0.0;       // [s] between samples
    std::vector<double> time;  // [s]
    std::vector<double> error; // reference - measured [rpm]
};

// From a speed test's log (time, reference, measured, ...): the samples
// from the profile's start to its end (the last nonzero reference).
SpeedError ProfileSpeedError(const std::vector<std::vector<double>>& log);

// The largest peak of the averaged spectrum from above the loop's bandwidth
// (and 100 Hz) up to near the Nyquist frequency; found when it stands out of
// the floor (the median amplitude) by a factor of three, the spectrum has
// fallen to half of it a quarter below its frequency, and it is worth a notch.
ResonanceCheck FindResonance(const SpeedError& error, double bandwidthHz);
// The amplitude at the resonance and the RMS of the error, before and with the notch.
void MeasureNotch(ResonanceCheck& check, const SpeedError& before, const SpeedError& after);

Trace NotchTrace(const SpeedError& before, const SpeedError& after);
Trace SpectrumTrace(const SpeedError& before, const SpeedError& after);
