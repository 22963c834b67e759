// The resonance search on speed errors made to order: a coupling's ringing
// is found at its frequency; the large low-frequency error of the profile
// itself, whose spectrum is largest at the search band's low edge, is not.
#include "Resonance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>

namespace {

// 0.5 s of speed error at 4 kHz: the given signal and a small, broad,
// repeatable noise.
SpeedError Sampled(const std::function<double(double)>& signal)
{
    SpeedError e;
    e.period = 2.5e-4;
    std::uint32_t state = 12345;
    for (int k = 0; k < 2000; ++k) {
        state = state * 1664525u + 1013904223u;
        const double noise = 0.3 * (static_cast<double>(state >> 8) / 16777216.0 - 0.5);
        const double t = k * e.period;
        e.time.push_back(t);
        e.error.push_back(signal(t) + noise);
    }
    return e;
}

double Sine(double amplitude, double hz, double t)
{
    return amplitude * std::sin(2.0 * std::numbers::pi * hz * t);
}

TEST(ResonanceSearch, FindsACouplingsRingingButNotTheProfilesOwnLowFrequencyError)
{
    const ResonanceCheck ringing = FindResonance(Sampled([](double t) { return Sine(2.0, 600.0, t); }), 10.0);
    EXPECT_TRUE(ringing.found);
    EXPECT_NEAR(ringing.frequency, 600.0, 5.0);

    const ResonanceCheck tail = FindResonance(Sampled([](double t) { return Sine(40.0, 60.0, t); }), 10.0);
    EXPECT_TRUE(tail.searched);
    EXPECT_GT(tail.peak, 3.0 * tail.floor) << "the tail stands out of the floor, as on the delta motor";
    EXPECT_FALSE(tail.found);

    const ResonanceCheck both =
        FindResonance(Sampled([](double t) { return Sine(40.0, 60.0, t) + Sine(2.0, 600.0, t); }), 10.0);
    EXPECT_TRUE(both.found && std::abs(both.frequency - 600.0) <= 5.0)
        << "the tail hides the coupling: largest at " << both.frequency << " Hz";
}

} // namespace
