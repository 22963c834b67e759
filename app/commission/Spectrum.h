// The amplitude of one frequency in a logged signal, to find and measure a
// resonance in a loop's error.
#pragma once

#include <cmath>
#include <numbers>
#include <vector>

// The amplitude of a frequency [Hz] in samples taken every `period` [s]:
// the mean removed, a Hann window.
inline double Amplitude(const std::vector<double>& x, double period, double hz)
{
    const std::size_t n = x.size();
    double mean = 0.0;
    for (double v : x)
        mean += v / static_cast<double>(n);
    double re = 0.0, im = 0.0, windowSum = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) /
                                              static_cast<double>(n - 1));
        const double phase = 2.0 * std::numbers::pi * hz * period * static_cast<double>(k);
        re += w * (x[k] - mean) * std::cos(phase);
        im += w * (x[k] - mean) * std::sin(phase);
        windowSum += w;
    }
    return 2.0 * std::hypot(re, im) / windowSum;
}

// The amplitude of a frequency averaged (in power) over half-overlapping
// stretches of `length` samples: a line in the signal stays, while the
// noise's random peaks, which a single spectrum shows three or four times
// above its median, even out.
inline double AveragedAmplitude(const std::vector<double>& x, double period, double hz, std::size_t length)
{
    if (x.size() < length || length < 2)
        return Amplitude(x, period, hz);
    double power = 0.0;
    int stretches = 0;
    for (std::size_t first = 0; first + length <= x.size(); first += length / 2, ++stretches) {
        const std::vector<double> stretch(x.begin() + static_cast<std::ptrdiff_t>(first),
                                          x.begin() + static_cast<std::ptrdiff_t>(first + length));
        const double a = Amplitude(stretch, period, hz);
        power += a * a;
    }
    return std::sqrt(power / stretches);
}

// The whole frequency [Hz] of the largest amplitude from `from` to `to`.
inline double PeakFrequency(const std::vector<double>& x, double period, double from, double to)
{
    double peak = from, largest = 0.0;
    for (double hz = from; hz <= to; hz += 1.0)
        if (const double a = Amplitude(x, period, hz); a > largest) {
            largest = a;
            peak = hz;
        }
    return peak;
}
