// The reference profile of the speed and position tuning tests as the drive
// runs it: six segments, each a count of speed-loop periods and an increment
// per period in 16.16 fixed point that the drive adds to the reference.
//
//   final value V ......  ______
//                        /      |
//   0 __________________/       |________
//                       tap  tp  tan  tn
//
// Positive (type 0) ramps up to V over tap, holds for tp, ramps back over
// tan and rests for tn; Negative (1) does the same to -V; Bidirectional (2)
// goes from 0 to V, through 0 to -V over 2 tan, holds, and back to 0.
#pragma once

#include <array>
#include <cstdint>

struct ProfileTimes {
    double tp = 0.0;  // at the final value [s]
    double tn = 0.0;  // at rest [s]
    double tap = 0.0; // the ramp away from 0 [s]
    double tan = 0.0; // the ramp back [s]
};

enum class ReferenceType { Positive = 0, Negative = 1, Bidirectional = 2 };

// How a ramp over n periods is cut into an even part and a last sample
// that lands it exactly: the speed test keeps n even samples when n is at
// most 1 (a one-sample ramp is a step, then a sample of 0), the position
// test always n - 1.
enum class RampCut { Speed, Position };

struct ProfileSegment {
    std::int64_t count = 0; // speed-loop periods
    double increment = 0.0; // per period, in 1/65536 of an internal unit (whole)
};

using ProfileSegments = std::array<ProfileSegment, 6>;

// Why a table cannot go to the drive: a count that is negative or above
// 32767, or an increment above 32767 internal units per period.
enum class ProfileError { None = 0, Count = 1, Slope = 2 };

struct ProfileTable {
    ProfileSegments segments{};
    ProfileError error = ProfileError::None;
    int failedSegment = -1;
};

// The table for a final value of `finalValue` internal units and a
// speed-loop period of `period` seconds; the first segment that the drive
// cannot take is reported.
ProfileTable ComputeProfileTable(std::int64_t finalValue, const ProfileTimes& times, double period,
                                 ReferenceType type, RampCut cut);

// The final value as a whole number of internal units, never 0: the value
// in base units that `value` becomes with the scale (internal units per
// base unit). A scale of 0 leaves it.
double SnapFinalValue(double value, double scale);

// The scope's vertical division for values up to `magnitude`: 1, 2 or 5
// times a power of ten, the smallest of b/5, b/2 and b (b the power of ten
// at or above the magnitude) that holds it.
double DivisionFor(double magnitude);
