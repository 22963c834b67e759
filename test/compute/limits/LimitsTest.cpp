// Editable ranges that follow other parameters.
#include "Limits.h"

#include "LimitsTestSetup.h"

#include <cmath>

namespace {

constexpr double kMaxLoadPosition = 32767.0 / DriveTest::kIncrementsPerRad;                 // [rad]
constexpr double kMaxLoadSpeed = 32767.0 / (DriveTest::kTs * DriveTest::kIncrementsPerRad); // [rad/s]

class LimitsTest : public DriveTest {};

TEST_F(LimitsTest, MagnitudeLimitsKeepTheirMinimumAndIgnoreTheTransmissionSign)
{
    auto setup = Drive({{"ERR_speed", 0}, {"ERR_position", 0}, {"time_ERR_spd", 0}, {"time_ERR_pos", 0}});
    Param(*setup, "Motor_transmission").SetValueInInternalUnit(-kTwoPi); // reversed load
    for (const char* name : {"ERR_speed", "ERR_position", "time_ERR_spd", "time_ERR_pos"})
        SetRange(*setup, name, 0.125, 1.0);

    ComputeParameterLimits(setup.get());

    EXPECT_RANGE(*setup, "ERR_speed", 0.125, kMaxLoadSpeed);
    EXPECT_RANGE(*setup, "ERR_position", 0.125, kMaxLoadPosition);
    EXPECT_RANGE(*setup, "time_ERR_spd", 0.125, 32767 * kTs);
    EXPECT_RANGE(*setup, "time_ERR_pos", 0.125, 32767 * kTs);
}

TEST_F(LimitsTest, BandwidthBoundsAreSetEvenWhenTheMinimumExceedsTheMaximum)
{
    auto setup = Drive({{"PB_C", 1000},
                        {"PB_C_minim", 2000},
                        {"PB_C_maxim", 1500},
                        {"PB_S", 100},
                        {"PB_S_minim", 10},
                        {"PB_S_maxim", 500}});

    EXPECT_EQ(Limit_PB_C(setup.get()), 1);
    EXPECT_EQ(Limit_PB_S(setup.get()), 1);

    EXPECT_EQ(Param(*setup, "PB_C").GetMinInBaseUnit(), 2000);
    EXPECT_EQ(Param(*setup, "PB_C").GetMaxInBaseUnit(), 1500);
    EXPECT_RANGE(*setup, "PB_S", 10, 500);
    EXPECT_EQ(Value(*setup, "PB_C"), 1000) << "limits never move the value";
}

TEST_F(LimitsTest, ProfileTimesHoldSixteenBitsOfSpeedLoopSamples)
{
    auto setup = Drive({{"TPP", 400},
                        {"TaPP", 200},
                        {"TaNP", 200},
                        {"TPS", 400},
                        {"TNS", 400},
                        {"TaPS", 100},
                        {"TaNS", 100}}); // "TNP" is missing

    ComputeParameterLimits(setup.get());

    EXPECT_RANGE(*setup, "TPP", kTs, 65535 * kTs);
    EXPECT_RANGE(*setup, "TaPP", 2 * kTs, 65535 * kTs);
    EXPECT_RANGE(*setup, "TaNP", 2 * kTs, 65535 * kTs);
    for (const char* name : {"TPS", "TNS", "TaPS", "TaNS"})
        EXPECT_RANGE(*setup, name, kTs, 65535 * kTs);
}

TEST_F(LimitsTest, MissingTargetSkipsOnlyItsOwnRowAndReadsNoSource)
{
    auto setup = Drive({{"TPP", 400}});
    g_bShowErrors = 0; // the host reports nothing now; only the effect counts
    EXPECT_EQ(Limit_PositionProfileTimes(setup.get()), 0) << "\"TNP\" is missing";
    EXPECT_RANGE(*setup, "TPP", kTs, 65535 * kTs);
    g_bShowErrors = 1;

    errors.clear();
    EXPECT_EQ(Limit_ERR_speed(setup.get()), 0);
    EXPECT_EQ(Limit_PB_C(setup.get()), 0);
    ASSERT_EQ(errors.size(), 2u) << "only the targets are looked up";
    EXPECT_NE(errors[0].find("ERR_speed"), std::string::npos);
    EXPECT_NE(errors[1].find("PB_C"), std::string::npos);
}

TEST_F(LimitsTest, TestMovesStayWithinFullCommandAndSpeedLimit)
{
    auto setup =
        Drive({{"TestPosition", 0}, {"TaPP", 300}, {"TaNP", 100}, {"TestSpeed", 0}, {"Limit_Speed", 0}});
    Param(*setup, "Load_transmission").SetValueInInternalUnit(-kTwoPi); // magnitudes stay positive
    SetBase(*setup, "Limit_Speed", 250.0);

    Limit_TestPosition(setup.get());
    Limit_TestSpeed(setup.get());

    const double e = 100 * kMaxLoadPosition; // the shorter acceleration (100 samples) at full command
    EXPECT_RANGE(*setup, "TestPosition", -e, e);
    EXPECT_RANGE(*setup, "TestSpeed", -250.0, 250.0);

    SetBase(*setup, "Limit_Speed", 2 * kMaxLoadSpeed);
    Limit_TestSpeed(setup.get());
    EXPECT_RANGE(*setup, "TestSpeed", -kMaxLoadSpeed, kMaxLoadSpeed);
}

TEST_F(LimitsTest, ThetaControllerCurrentOnlyWhenTheDriveHasOne)
{
    auto setup = Drive({{"MAX_CURRENT", 0}, {"In", 5}, {"InPS", 3.3}});
    SetRange(*setup, "MAX_CURRENT", -1, 1);

    ComputeParameterLimits(setup.get());
    EXPECT_RANGE(*setup, "MAX_CURRENT", -1, 1);

    Add(*setup, {{"KPTHT", 16384}});
    ComputeParameterLimits(setup.get());
    EXPECT_RANGE(*setup, "MAX_CURRENT", 0, 3.3);
}

TEST_F(LimitsTest, BiquadCornerFrequenciesUpToHalfTheSpeedLoopRate)
{
    auto setup = Drive({{"BQFilterF12", 100}});
    SetRange(*setup, "BQFilterF12", 5, 1e5);

    ComputeParameterLimits(setup.get());
    EXPECT_RANGE(*setup, "BQFilterF12", 5, 1e5) << "no biquad filters: untouched";

    Add(*setup, {{"IQREF_BQ_INI", 0}});
    errors.clear();
    EXPECT_EQ(Limit_BiquadFrequencies(setup.get()), 0);
    EXPECT_RANGE(*setup, "BQFilterF12", 5, 1000.0) << "set although the others are missing";

    // The first and the second corner of each filter in turn.
    const std::vector<std::string> missing = {"BQFilterF11", "BQFilterF21", "BQFilterF22", "BQFilterF13",
                                              "BQFilterF23"};
    ASSERT_EQ(errors.size(), missing.size());
    for (std::size_t i = 0; i < missing.size(); ++i)
        EXPECT_NE(errors[i].find("\"" + missing[i] + "\""), std::string::npos) << errors[i];
}

class AnalogueLimitsTest : public DriveTest {
protected:
    std::unique_ptr<CMC_Setup> Analogue(double inputRange)
    {
        auto setup = Drive({{"AnalogueInputsRange", inputRange},
                            {"DeadBand_Point", 0},
                            {"DeadBand_Range", 0},
                            {"filter", 50},
                            {"Limit_Speed", 0},
                            {"ImaxM", 15},
                            {"POS_max", 0},
                            {"POS_min", 0},
                            {"SPD_max", 0},
                            {"SPD_min", 0},
                            {"CRT_max", 0},
                            {"CRT_min", 0}});
        AddAnalogueInput(*setup);
        return setup;
    }
};

TEST_F(AnalogueLimitsTest, DeadBandPointSpansTheInputRange)
{
    struct Case {
        double inputRange, lo, hi;
    };
    for (const Case& c : {Case{5, 0, 5}, Case{10, 0, 3.3}, Case{20, -10, 10}, Case{3.3, 0, 3.3}}) {
        auto setup = Analogue(c.inputRange);
        EXPECT_EQ(Limit_DeadBand_Point(setup.get()), 1);
        EXPECT_RANGE(*setup, "DeadBand_Point", c.lo, c.hi) << "input range " << c.inputRange;
    }
}

TEST_F(AnalogueLimitsTest, OldDeadBandStaysInsideTheSpanNewOneMayCoverIt)
{
    auto setup = Analogue(5);
    Limit_DeadBand_Point(setup.get());
    SetBase(*setup, "DeadBand_Point", 1.0);

    Limit_DeadBand_Range(setup.get());
    EXPECT_RANGE(*setup, "DeadBand_Range", 0, 1.0);

    SetBase(*setup, "DeadBand_Point", 4.5);
    Limit_DeadBand_Range(setup.get());
    EXPECT_RANGE(*setup, "DeadBand_Range", 0, 0.5);

    setup->SetOption("NewDeadBand", "1");
    Limit_DeadBand_Range(setup.get());
    EXPECT_RANGE(*setup, "DeadBand_Range", 0, 5.0);
}

TEST_F(AnalogueLimitsTest, DeadBandRangeFollowsThePointRangeSetJustBefore)
{
    auto setup = Analogue(20);
    SetRange(*setup, "DeadBand_Point", 0, 3.3); // stale from a 0 to 10 V input
    SetBase(*setup, "DeadBand_Point", 2.0);

    ComputeParameterLimits(setup.get());

    EXPECT_RANGE(*setup, "DeadBand_Point", -10, 10);
    EXPECT_RANGE(*setup, "DeadBand_Range", 0, 8.0);
}

TEST_F(AnalogueLimitsTest, DeadBandRangeNeedsThePoint)
{
    auto setup = Drive({{"DeadBand_Range", 0}, {"AnalogueInputsRange", 5}});
    SetRange(*setup, "DeadBand_Range", 0.25, 0.5);

    EXPECT_EQ(Limit_DeadBand_Range(setup.get()), 0);
    EXPECT_RANGE(*setup, "DeadBand_Range", 0.25, 0.5);
}

TEST_F(AnalogueLimitsTest, ReferenceEndPointsLieWithinEachOtherAndTheFullScale)
{
    auto setup = Analogue(10);
    Param(*setup, "Motor_transmission").SetValueInInternalUnit(-kTwoPi); // magnitudes stay positive
    SetBase(*setup, "POS_min", -3.0);
    SetBase(*setup, "POS_max", 12.0);
    SetBase(*setup, "Limit_Speed", 300.0);
    SetBase(*setup, "SPD_min", -20.0);
    SetBase(*setup, "SPD_max", 150.0);
    SetBase(*setup, "CRT_min", -2.0);
    SetBase(*setup, "CRT_max", 4.0);

    ComputeParameterLimits(setup.get());

    EXPECT_RANGE(*setup, "POS_max", -3.0, kMaxLoadPosition);
    EXPECT_RANGE(*setup, "POS_min", -kMaxLoadPosition, 12.0);
    EXPECT_RANGE(*setup, "SPD_max", -20.0, 300.0);
    EXPECT_RANGE(*setup, "SPD_min", -300.0, 150.0);
    EXPECT_RANGE(*setup, "CRT_max", -2.0, 10.0); // the drive's 10 A, below its full command
    EXPECT_RANGE(*setup, "CRT_min", -10.0, 4.0);
    EXPECT_RANGE(*setup, "filter", 0, 1000.0);
}

TEST_F(AnalogueLimitsTest, CurrentEndPointsStopAtTheFullCommandOfASixteenBitConverter)
{
    auto setup = Analogue(10);
    Add(*setup, {{"ADCbits", 16}});
    const double fullCommand = 32767.0 / (65535.0 / 20.0); // just below 10 A

    Limit_CRT_max(setup.get());
    Limit_CRT_min(setup.get());

    EXPECT_RANGE(*setup, "CRT_max", 0, fullCommand);
    EXPECT_RANGE(*setup, "CRT_min", -fullCommand, 0);
}

TEST_F(AnalogueLimitsTest, WithoutAnAnalogueInputItsRangesStay)
{
    auto setup =
        Drive({{"DeadBand_Point", 0}, {"POS_max", 0}, {"filter", 50}, {"CADIN", 51}}); // no variable "CADIN"
    SetRange(*setup, "DeadBand_Point", 1, 2);
    SetRange(*setup, "POS_max", 1, 2);
    SetRange(*setup, "filter", 1, 2);

    ComputeParameterLimits(setup.get());

    EXPECT_RANGE(*setup, "DeadBand_Point", 1, 2);
    EXPECT_RANGE(*setup, "POS_max", 1, 2);
    EXPECT_RANGE(*setup, "filter", 1, 2);
}

TEST_F(LimitsTest, ReferenceSetupRunsClean)
{
    auto setup = Reference();
    ASSERT_TRUE(setup);

    ComputeParameterLimits(setup.get());

    EXPECT_TRUE(errors.empty()) << errors.front();
    const double limitSpeed = Value(*setup, "Limit_Speed");
    EXPECT_RANGE(*setup, "TestSpeed", -limitSpeed, limitSpeed);
    EXPECT_LE(Param(*setup, "SPD_max").GetMaxInBaseUnit(), limitSpeed);
    EXPECT_LE(Value(*setup, "DeadBand_Range"), Param(*setup, "DeadBand_Range").GetMaxInBaseUnit());
    for (const char* name : {"PB_C", "PB_S", "PB_P"})
        EXPECT_LE(Param(*setup, name).GetMinInBaseUnit(), Param(*setup, name).GetMaxInBaseUnit()) << name;
}

} // namespace
