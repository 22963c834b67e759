#include "Resonance.h"

#include "Spectrum.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLowest = 100.0;     // [Hz]
constexpr double kStandsOut = 3.0;    // times the floor
constexpr std::size_t kStretch = 128; // samples the spectrum is averaged over
constexpr double kWorthANotch = 0.1;  // [rpm]
constexpr double kSpectrumStep = 5.0; // [Hz]
constexpr double kLowSide = 0.75;     // a resonance's spectrum has fallen this far below it...
constexpr double kFallen = 0.5;       // ...to this fraction of its peak

double Nyquist(const SpeedError& e)
{
    return 0.5 / e.period;
}

double Rms(const std::vector<double>& x)
{
    double sum = 0.0;
    for (double v : x)
        sum += v * v;
    return x.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(x.size()));
}

double Median(std::vector<double> x)
{
    if (x.empty())
        return 0.0;
    const auto middle = x.begin() + static_cast<std::ptrdiff_t>(x.size() / 2);
    std::nth_element(x.begin(), middle, x.end());
    return *middle;
}

} // namespace

SpeedError ProfileSpeedError(const std::vector<std::vector<double>>& log)
{
    SpeedError e;
    std::size_t first = log.size(), last = 0;
    for (std::size_t k = 0; k < log.size(); ++k)
        if (log[k].size() >= 3 && log[k][1] != 0.0) {
            first = std::min(first, k);
            last = k;
        }
    for (std::size_t k = first; k <= last && k < log.size(); ++k)
        if (log[k].size() >= 3 && std::isfinite(log[k][2])) {
            e.time.push_back(log[k][0]);
            e.error.push_back(log[k][1] - log[k][2]);
        }
    if (log.size() >= 2)
        e.period = log[1][0] - log[0][0];
    return e;
}

// The averaged spectrum's amplitude at a frequency [rpm].
double Line(const SpeedError& e, double hz)
{
    return AveragedAmplitude(e.error, e.period, hz, kStretch);
}

// A peak whose spectrum has not fallen on its low side is the tail of the
// profile's own error (the largest at the band's low edge), not a resonance.
bool Isolated(const SpeedError& e, double hz, double amplitude)
{
    return Line(e, kLowSide * hz) < kFallen * amplitude;
}

ResonanceCheck FindResonance(const SpeedError& e, double bandwidthHz)
{
    ResonanceCheck check;
    const double from = std::max(kLowest, 5.0 * bandwidthHz), to = 0.95 * Nyquist(e);
    if (e.error.size() < 2 * kStretch || e.period <= 0.0 || from >= to)
        return check;
    check.searched = true;
    std::vector<double> spectrum;
    for (double hz = std::ceil(from); hz <= to; hz += 1.0)
        spectrum.push_back(Line(e, hz));
    check.floor = Median(spectrum);
    // The largest line standing out of the floor at an isolated local
    // maximum; without one, the largest line.
    const double standsOut = kStandsOut * check.floor;
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        const double hz = std::ceil(from) + static_cast<double>(k);
        const bool localMaximum = (k == 0 || spectrum[k] >= spectrum[k - 1]) &&
                                  (k + 1 == spectrum.size() || spectrum[k] >= spectrum[k + 1]);
        const bool larger = spectrum[k] > check.peak;
        if (localMaximum && spectrum[k] > standsOut && (larger || !check.found) &&
            Isolated(e, hz, spectrum[k])) {
            check.found = true;
            check.peak = spectrum[k];
            check.frequency = hz;
        } else if (!check.found && larger) {
            check.peak = spectrum[k];
            check.frequency = hz;
        }
    }
    check.found = check.found && check.peak > kWorthANotch;
    check.rmsBefore = Rms(e.error);
    return check;
}

void MeasureNotch(ResonanceCheck& check, const SpeedError& before, const SpeedError& after)
{
    check.rmsBefore = Rms(before.error);
    check.rmsAfter = Rms(after.error);
    check.after = after.error.size() >= 2 * kStretch ? Line(after, check.frequency) : 0.0;
}

Trace NotchTrace(const SpeedError& before, const SpeedError& after)
{
    Trace trace{
        "speed-error-notch", "Speed error over the profile, without and with the notch",      "Time [s]",
        "Speed error [rpm]", {"Time [s]", "Without the notch [rpm]", "With the notch [rpm]"}, {}};
    const std::size_t n = std::min(before.error.size(), after.error.size());
    for (std::size_t k = 0; k < n; ++k)
        trace.rows.push_back({before.time[k], before.error[k], after.error[k]});
    return trace;
}

Trace SpectrumTrace(const SpeedError& before, const SpeedError& after)
{
    Trace trace{
        "speed-error-spectrum",
        "Spectrum of the speed error (averaged over stretches of the profile), without and with the notch",
        "Frequency [Hz]",
        "Amplitude [rpm]",
        {"Frequency [Hz]", "Without the notch [rpm]", "With the notch [rpm]"},
        {}};
    if (before.error.size() < 2 * kStretch || after.error.size() < 2 * kStretch || before.period <= 0.0)
        return trace;
    for (double hz = kSpectrumStep; hz <= 0.95 * Nyquist(before); hz += kSpectrumStep)
        trace.rows.push_back({hz, Line(before, hz), Line(after, hz)});
    return trace;
}
