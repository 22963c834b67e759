// The six-segment profile the tuning tests write to the drive: the reference
// the drive builds from it ends where it should, ramps that round to one or
// no period, and tables the drive cannot take.
#include "ProfileTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPeriod = 0.0005; // speed loop at 2 kHz

// The reference after each period, as the drive adds the increments up.
std::vector<double> Reference(const ProfileSegments& segments)
{
    std::vector<double> values;
    double value = 0.0;
    for (const ProfileSegment& s : segments)
        for (std::int64_t k = 0; k < s.count; ++k)
            values.push_back(value += s.increment / 65536.0);
    return values;
}

ProfileTimes Times(double tap, double tp, double tan, double tn)
{
    return {tp, tn, tap, tan};
}

TEST(ProfileTable, EachReferenceTypeReachesItsValuesExactlyAndReturnsToZero)
{
    const ProfileTimes times = Times(0.05, 0.2, 0.03, 0.1); // 100, 400, 60, 200 periods
    for (RampCut cut : {RampCut::Speed, RampCut::Position}) {
        const ProfileTable up = ComputeProfileTable(1000, times, kPeriod, ReferenceType::Positive, cut);
        ASSERT_EQ(up.error, ProfileError::None);
        EXPECT_EQ(up.segments[0].count, 99);
        EXPECT_EQ(up.segments[2].count, 400);
        EXPECT_EQ(up.segments[5].count, 200);
        const std::vector<double> r = Reference(up.segments);
        ASSERT_EQ(r.size(), 100u + 400u + 60u + 200u);
        EXPECT_EQ(r[99], 1000.0);
        EXPECT_EQ(r[499], 1000.0);
        EXPECT_EQ(r.back(), 0.0);
        EXPECT_NEAR(r[49], 500.0, 1e-3);

        const ProfileTable down = ComputeProfileTable(1000, times, kPeriod, ReferenceType::Negative, cut);
        ASSERT_EQ(down.error, ProfileError::None);
        EXPECT_EQ(Reference(down.segments)[99], -1000.0);
        EXPECT_EQ(Reference(down.segments).back(), 0.0);
    }
    const ProfileTable both =
        ComputeProfileTable(777, times, kPeriod, ReferenceType::Bidirectional, RampCut::Speed);
    ASSERT_EQ(both.error, ProfileError::None);
    const std::vector<double> r = Reference(both.segments);
    EXPECT_NEAR(r[99], 777.0, 1e-3);
    EXPECT_NEAR(r[499 + 120], -777.0, 1e-2) << "through zero to the negative value over twice the ramp";
    EXPECT_EQ(r.back(), 0.0);
}

TEST(ProfileTable, RampsOfOneOrNoPeriod)
{
    const ProfileTimes oneSample = Times(kPeriod, 0.01, kPeriod, 0.01);
    // speed: a step in one sample, then one sample of 0
    const ProfileTable speed =
        ComputeProfileTable(500, oneSample, kPeriod, ReferenceType::Positive, RampCut::Speed);
    ASSERT_EQ(speed.error, ProfileError::None);
    EXPECT_EQ(speed.segments[0].count, 1);
    EXPECT_EQ(speed.segments[0].increment, 500.0 * 65536.0);
    EXPECT_EQ(speed.segments[1].count, 1);
    EXPECT_EQ(speed.segments[1].increment, 0.0);
    EXPECT_EQ(Reference(speed.segments)[0], 500.0);
    EXPECT_EQ(Reference(speed.segments).back(), 0.0);
    // position: no even sample, the step is the last sample
    const ProfileTable position =
        ComputeProfileTable(500, oneSample, kPeriod, ReferenceType::Positive, RampCut::Position);
    ASSERT_EQ(position.error, ProfileError::None);
    EXPECT_EQ(position.segments[0].count, 0);
    EXPECT_EQ(position.segments[1].increment, 500.0 * 65536.0);

    // a ramp that rounds to no period at all
    const ProfileTimes none = Times(0.2 * kPeriod, 0.01, 0.01, 0.01);
    const ProfileTable speedNone =
        ComputeProfileTable(500, none, kPeriod, ReferenceType::Positive, RampCut::Speed);
    EXPECT_EQ(speedNone.error, ProfileError::Slope);
    EXPECT_EQ(speedNone.failedSegment, 0);
    const ProfileTable positionNone =
        ComputeProfileTable(500, none, kPeriod, ReferenceType::Positive, RampCut::Position);
    EXPECT_EQ(positionNone.error, ProfileError::Count);
    EXPECT_EQ(positionNone.failedSegment, 0);

    // bidirectional with a one-period return: segment 4 is one sample of 0
    const ProfileTable both = ComputeProfileTable(500, Times(0.01, 0.01, kPeriod, 0.01), kPeriod,
                                                  ReferenceType::Bidirectional, RampCut::Speed);
    ASSERT_EQ(both.error, ProfileError::None);
    EXPECT_EQ(both.segments[4].count, 1);
    EXPECT_EQ(both.segments[4].increment, 0.0);
    EXPECT_EQ(Reference(both.segments).back(), 0.0);
}

TEST(ProfileTable, HoldsOfNoTimeAreLeftOut)
{
    const ProfileTable table = ComputeProfileTable(300, Times(0.01, 0.0, 0.01, 0.0), kPeriod,
                                                   ReferenceType::Positive, RampCut::Position);
    ASSERT_EQ(table.error, ProfileError::None);
    EXPECT_EQ(table.segments[2].count, 0);
    EXPECT_EQ(table.segments[5].count, 0);
    const std::vector<double> r = Reference(table.segments);
    EXPECT_EQ(r.size(), 40u);
    EXPECT_EQ(r[19], 300.0);
    EXPECT_EQ(r.back(), 0.0);
}

TEST(ProfileTable, TablesTheDriveCannotTakeNameTheirFirstBadSegment)
{
    // a hold longer than 32767 periods
    const ProfileTable longHold = ComputeProfileTable(100, Times(0.01, 32768 * kPeriod, 0.01, 0.01), kPeriod,
                                                      ReferenceType::Positive, RampCut::Speed);
    EXPECT_EQ(longHold.error, ProfileError::Count);
    EXPECT_EQ(longHold.failedSegment, 2);
    // the largest value in one sample is taken; the bidirectional swing of
    // twice that in one sample overflows
    const ProfileTimes step = Times(kPeriod, 0.01, 0.5 * kPeriod, 0.01);
    EXPECT_EQ(ComputeProfileTable(32767, Times(kPeriod, 0.01, kPeriod, 0.01), kPeriod,
                                  ReferenceType::Positive, RampCut::Speed)
                  .error,
              ProfileError::None);
    const ProfileTable swing =
        ComputeProfileTable(32767, step, kPeriod, ReferenceType::Bidirectional, RampCut::Speed);
    EXPECT_EQ(swing.error, ProfileError::Slope);
    EXPECT_EQ(swing.failedSegment, 2);
}

TEST(ProfileTable, FinalValueSnapAndScopeDivisions)
{
    EXPECT_DOUBLE_EQ(SnapFinalValue(0.0001, 100.0), 0.01) << "never 0 internal units";
    EXPECT_DOUBLE_EQ(SnapFinalValue(-0.0001, 100.0), -0.01);
    EXPECT_DOUBLE_EQ(SnapFinalValue(1.234, 100.0), 1.23);
    EXPECT_DOUBLE_EQ(SnapFinalValue(1.234, 0.0), 1.234);
    EXPECT_DOUBLE_EQ(DivisionFor(0.3), 0.5);
    EXPECT_DOUBLE_EQ(DivisionFor(249.0), 500.0);
    EXPECT_DOUBLE_EQ(DivisionFor(150.0), 200.0);
    EXPECT_DOUBLE_EQ(DivisionFor(600.0), 1000.0);
    EXPECT_DOUBLE_EQ(DivisionFor(0.0), 0.2);
}

} // namespace
