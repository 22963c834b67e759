// A logged response of the speed or position loop against what a model of
// the designed loop predicts on the same reference.
#pragma once

#include "MotionLoopModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace simtest {

using Rows = std::vector<std::vector<double>>;

struct TrackingError {
    double peak = 0.0;
    double rms = 0.0;
};

inline TrackingError ErrorOf(const std::vector<double>& error)
{
    TrackingError e;
    for (double x : error) {
        e.peak = std::max(e.peak, std::abs(x));
        e.rms += x * x;
    }
    e.rms = error.empty() ? 0.0 : std::sqrt(e.rms / static_cast<double>(error.size()));
    return e;
}

// A logged response (reference in column 1, the loop's measured value in
// column 2, internal units) beside the model's on the same reference, from
// the first sample on with the rotor at rest where it stood then.
struct Tracking {
    std::vector<double> logged;    // reference - measured
    std::vector<double> predicted; // reference - the model's measurement
};

inline Tracking Track(const Rows& rows, MotionLoopModel model, bool positions)
{
    Tracking t;
    const double origin = positions && !rows.empty() ? rows.front()[2] : 0.0;
    for (const auto& row : rows) {
        const double reference = row[1] - origin;
        t.predicted.push_back(reference - model.Step(reference));
        t.logged.push_back(reference - (row[2] - origin));
    }
    return t;
}

// The RMS of the logged speed error in the hold, where the model has the
// loop sitting on the reference: the Hall sensors' residual angle error turns
// into a speed ripple at twice the electrical frequency, and the converter's
// steps into noise, neither of which the model has.
inline double SpeedNoise(const Rows& rows, const Tracking& t)
{
    double finalSpeed = 0.0;
    for (const auto& row : rows)
        finalSpeed = std::max(finalSpeed, std::abs(row[1]));
    const double settled = 0.02 * ErrorOf(t.predicted).peak;
    double sum = 0.0;
    int count = 0;
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (std::abs(rows[k][1]) == finalSpeed && std::abs(t.predicted[k]) < settled) {
            sum += t.logged[k] * t.logged[k];
            ++count;
        }
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

// The logged error matches the predicted within 10 % (friction, the
// identified inertia's and winding's errors, the current loop taken as its
// mean delay: what the model leaves out) and the speed sensor's noise, which
// can add its amplitude (about twice its RMS) to the peak and its RMS to the
// RMS.
inline void ExpectTracking(const Tracking& t, double noise)
{
    const TrackingError logged = ErrorOf(t.logged), predicted = ErrorOf(t.predicted);
    EXPECT_NEAR(logged.peak, predicted.peak, 0.10 * predicted.peak + 2.0 * noise);
    EXPECT_NEAR(logged.rms, predicted.rms, 0.10 * predicted.rms + noise);
    // The noise stays well below what is compared, or the test would say little.
    EXPECT_LT(noise, 0.2 * predicted.peak);
}

inline double ColumnPeak(const Rows& rows, std::size_t column)
{
    double peak = 0.0;
    for (const auto& row : rows)
        peak = std::max(peak, std::abs(row.at(column)));
    return peak;
}

} // namespace simtest
