#include "ProfileTable.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFixedOne = 65536.0;
constexpr std::int64_t kMaxCount = 32767;
constexpr double kMaxSlope = 32767.0;

// The nearest whole number of periods in a time; far out of range stays
// far out of range.
std::int64_t Periods(double time, double period)
{
    const double periods = std::clamp(time / period, -1e15, 1e15);
    return static_cast<std::int64_t>(std::floor(periods + 0.5));
}

// The increment per period that ramps by x over n periods [1/65536];
// infinite for n = 0.
double Increment(double x, std::int64_t n)
{
    return std::floor(x / static_cast<double>(n) * kFixedOne + 0.5);
}

// A ramp by x over n periods: the even part, then one sample of what is
// left so that the ramp ends exactly at x.
void Ramp(double x, std::int64_t n, RampCut cut, ProfileSegment& even, ProfileSegment& last)
{
    even.count = cut == RampCut::Speed && n <= 1 ? n : n - 1;
    even.increment = Increment(x, n);
    last.count = 1;
    last.increment =
        std::floor((x - even.increment * static_cast<double>(even.count) / kFixedOne) * kFixedOne + 0.5);
}

ProfileSegments OneWaySegments(double v, std::int64_t tp, std::int64_t tn, std::int64_t tap, std::int64_t tan,
                               RampCut cut)
{
    ProfileSegments s{};
    Ramp(v, tap, cut, s[0], s[1]);
    s[2] = {tp, 0.0};
    Ramp(-v, tan, cut, s[3], s[4]);
    s[5] = {tn, 0.0};
    return s;
}

ProfileSegments BidirectionalSegments(double v, std::int64_t tp, std::int64_t tn, std::int64_t tap,
                                      std::int64_t tan, std::int64_t tanTwice)
{
    ProfileSegments s{};
    s[0] = {tap, Increment(v, tap)};
    s[1] = {tp, 0.0};
    const double reached = s[0].increment * static_cast<double>(tap) / kFixedOne;
    s[2] = {tanTwice, std::floor(-(reached + v) / static_cast<double>(tanTwice) * kFixedOne + 0.5)};
    s[3] = {tn, 0.0};
    s[4] = tan == 1 ? ProfileSegment{1, 0.0} : ProfileSegment{tan - 1, Increment(v, tan - 1)};
    double sum = 0.0;
    for (int i = 0; i < 5; ++i)
        sum += static_cast<double>(s[i].count) * s[i].increment;
    s[5] = {1, -sum};
    return s;
}

ProfileError Check(const ProfileSegment& segment)
{
    if (segment.count < 0 || segment.count > kMaxCount)
        return ProfileError::Count;
    if (!std::isfinite(segment.increment) || std::fabs(std::round(segment.increment / kFixedOne)) > kMaxSlope)
        return ProfileError::Slope;
    return ProfileError::None;
}

} // namespace

ProfileTable ComputeProfileTable(std::int64_t finalValue, const ProfileTimes& times, double period,
                                 ReferenceType type, RampCut cut)
{
    const double v = static_cast<double>(finalValue);
    const std::int64_t tp = Periods(times.tp, period);
    const std::int64_t tn = Periods(times.tn, period);
    const std::int64_t tap = Periods(times.tap, period);
    const std::int64_t tan = Periods(times.tan, period);
    ProfileTable table;
    switch (type) {
    case ReferenceType::Negative:
        table.segments = OneWaySegments(-v, tp, tn, tap, tan, cut);
        break;
    case ReferenceType::Bidirectional:
        table.segments = BidirectionalSegments(v, tp, tn, tap, tan, Periods(2.0 * times.tan, period));
        break;
    default:
        table.segments = OneWaySegments(v, tp, tn, tap, tan, cut);
        break;
    }
    for (int i = 0; i < 6; ++i) {
        table.error = Check(table.segments[static_cast<std::size_t>(i)]);
        if (table.error != ProfileError::None) {
            table.failedSegment = i;
            break;
        }
    }
    return table;
}

double SnapFinalValue(double value, double scale)
{
    if (scale == 0.0 || !std::isfinite(scale) || !std::isfinite(value))
        return value;
    const double scaled = value * scale;
    double n = std::round(std::clamp(scaled, -1e15, 1e15));
    if (n == 0.0)
        n = scaled >= 0.0 ? 1.0 : -1.0;
    return n / scale;
}

double DivisionFor(double magnitude)
{
    const double k = magnitude > 0.0 ? std::ceil(std::log10(magnitude)) : 0.0;
    const double b = std::pow(10.0, k);
    if (magnitude <= b / 5.0)
        return b / 5.0;
    if (magnitude <= b / 2.0)
        return b / 2.0;
    return b;
}
