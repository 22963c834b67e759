#include "Resonance.h"

#include "Spectrum.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLowest = 100.0;     // [Hz]
constexpr double kStandsOut = 6.0;    // times the floor
constexpr double kWorthANotch = 0.1;  // [rpm]
constexpr double kSpectrumStep = 5.0; // [Hz]

double Nyquist(const HeldError& e)
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

HeldError HeldSpeedError(const std::vector<std::vector<double>>& log)
{
    HeldError held;
    double largest = 0.0;
    for (const auto& row : log)
        if (row.size() >= 3)
            largest = std::max(largest, std::abs(row[1]));
    std::vector<const std::vector<double>*> hold;
    for (const auto& row : log)
        if (row.size() >= 3 && largest > 0.0 && std::abs(row[1]) == largest && std::isfinite(row[2]))
            hold.push_back(&row);
    for (std::size_t k = hold.size() / 4; k < hold.size(); ++k) {
        held.time.push_back((*hold[k])[0]);
        held.error.push_back((*hold[k])[1] - (*hold[k])[2]);
    }
    if (log.size() >= 2)
        held.period = log[1][0] - log[0][0];
    return held;
}

ResonanceCheck FindResonance(const HeldError& e, double bandwidthHz)
{
    ResonanceCheck check;
    const double from = std::max(kLowest, 5.0 * bandwidthHz), to = 0.95 * Nyquist(e);
    if (e.error.size() < 64 || e.period <= 0.0 || from >= to)
        return check;
    check.searched = true;
    check.frequency = PeakFrequency(e.error, e.period, from, to);
    check.peak = Amplitude(e.error, e.period, check.frequency);
    std::vector<double> spectrum;
    for (double hz = from; hz <= to; hz += kSpectrumStep)
        spectrum.push_back(Amplitude(e.error, e.period, hz));
    check.floor = Median(spectrum);
    check.found = check.peak > kStandsOut * check.floor && check.peak > kWorthANotch;
    check.rmsBefore = Rms(e.error);
    return check;
}

void MeasureNotch(ResonanceCheck& check, const HeldError& before, const HeldError& after)
{
    check.rmsBefore = Rms(before.error);
    check.rmsAfter = Rms(after.error);
    check.after = after.error.size() >= 64 ? Amplitude(after.error, after.period, check.frequency) : 0.0;
}

Trace NotchTrace(const HeldError& before, const HeldError& after)
{
    Trace trace{
        "speed-error-notch", "Speed error while the speed holds, without and with the notch", "Time [s]",
        "Speed error [rpm]", {"Time [s]", "Without the notch [rpm]", "With the notch [rpm]"}, {}};
    const std::size_t n = std::min(before.error.size(), after.error.size());
    for (std::size_t k = 0; k < n; ++k)
        trace.rows.push_back({before.time[k], before.error[k], after.error[k]});
    return trace;
}

Trace SpectrumTrace(const HeldError& before, const HeldError& after)
{
    Trace trace{"speed-error-spectrum",
                "Spectrum of the speed error, without and with the notch",
                "Frequency [Hz]",
                "Amplitude [rpm]",
                {"Frequency [Hz]", "Without the notch [rpm]", "With the notch [rpm]"},
                {}};
    if (before.error.size() < 64 || after.error.size() < 64 || before.period <= 0.0)
        return trace;
    for (double hz = kSpectrumStep; hz <= 0.95 * Nyquist(before); hz += kSpectrumStep)
        trace.rows.push_back(
            {hz, Amplitude(before.error, before.period, hz), Amplitude(after.error, after.period, hz)});
    return trace;
}
