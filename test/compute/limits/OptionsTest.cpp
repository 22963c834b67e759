// Closed-loop options, load-side units and speed feed-forward.
#include "Limits.h"

#include "LimitsTestSetup.h"

#include <string>

namespace {

class ClosedLoopOptionsTest : public DriveTest {
protected:
    static std::string Loops(const CMC_Setup& setup)
    {
        return setup.GetOptionNoError("IsClosedPosition") + setup.GetOptionNoError("IsClosedSpeed") +
               setup.GetOptionNoError("IsClosedCurrent");
    }
};

TEST_F(ClosedLoopOptionsTest, EachModeClosesItsLoops)
{
    struct Case {
        double mode, positionType;
        const char* loops; // position, speed, current
    };
    const Case cases[] = {{0, 0, "101"}, {0, 1, "111"}, {1, 0, "011"},
                          {1, 7, "011"}, {2, 1, "001"}, {2, -3, "001"}};
    for (const Case& c : cases) {
        auto setup = With({{"ControlMode", c.mode}, {"PositionControlType", c.positionType}});
        EXPECT_EQ(UpdateClosedLoopOptions(setup.get()), 1);
        EXPECT_EQ(Loops(*setup), c.loops) << "mode " << c.mode << ", type " << c.positionType;
        const auto& options = setup->GetOptions();
        ASSERT_EQ(options.size(), 3u);
        EXPECT_EQ(options[0].first + options[1].first + options[2].first,
                  "IsClosedPositionIsClosedSpeedIsClosedCurrent");
    }
    auto speedMode = With({{"ControlMode", 1}}); // the type is only read in position mode
    EXPECT_EQ(UpdateClosedLoopOptions(speedMode.get()), 1);
}

TEST_F(ClosedLoopOptionsTest, UnknownModeOrMissingParameterChangesNothing)
{
    auto check = [](std::unique_ptr<CMC_Setup> setup, const char* why) {
        for (const char* option : {"IsClosedPosition", "IsClosedSpeed", "IsClosedCurrent"})
            setup->SetOption(option, "x");
        EXPECT_EQ(UpdateClosedLoopOptions(setup.get()), 0) << why;
        EXPECT_EQ(Loops(*setup), "xxx") << why;
    };
    check(With({{"ControlMode", 3}, {"PositionControlType", 0}}), "mode 3");
    check(With({{"ControlMode", -1}, {"PositionControlType", 0}}), "mode -1");
    check(With({{"ControlMode", 0}, {"PositionControlType", 2}}), "position type 2");
    g_bShowErrors = 0;
    check(With({{"ControlMode", 0}}), "no position type");
    check(With({{"PositionControlType", 1}}), "no control mode");
}

class TransmissionUnitsTest : public DriveTest {
protected:
    static std::string TypeOf(CMC_Setup& setup, const char* name) { return Param(setup, name).GetUnitType(); }
    static std::string VariableTypeOf(CMC_Setup& setup, const char* name)
    {
        return setup.FindVariable(name)->GetUnitType();
    }
};

TEST_F(TransmissionUnitsTest, LinearLoadGetsMetresAndRotaryLoadTurnsBack)
{
    auto setup = Reference();
    ASSERT_TRUE(setup);
    const double transmission = Param(*setup, "Load_transmission").GetValueInInternalUnit();

    SetBase(*setup, "TransmissionType", 1);
    UpdateTransmissionUnits(setup.get());

    for (const char* name : {"TestSpeed", "Limit_Speed", "ERR_speed", "SPD_max", "ErefMaxSpeed"})
        EXPECT_EQ(TypeOf(*setup, name), "m/s") << name;
    for (const char* name :
         {"Load_transmission", "TestPosition", "POS_min", "FreezeControl_errband", "Positive_SWLS"})
        EXPECT_EQ(TypeOf(*setup, name), "mm") << name;
    EXPECT_EQ(TypeOf(*setup, "ErefMaxAcceleration"), "m/s^2");
    EXPECT_EQ(Param(*setup, "Load_transmission").GetValueInInternalUnit(), transmission)
        << "the drive's number stays";
    EXPECT_EQ(VariableTypeOf(*setup, "Load_Position"), "mm");
    EXPECT_EQ(VariableTypeOf(*setup, "TPOSFAST"), "mm");
    EXPECT_EQ(VariableTypeOf(*setup, "SPDREF"), "m/s");
    EXPECT_EQ(VariableTypeOf(*setup, "CDEC"), "m/s^2");
    EXPECT_EQ(VariableTypeOf(*setup, "JERK"), "m/s^3");
    EXPECT_EQ(VariableTypeOf(*setup, "ASPD"), "rad/s") << "motor side: not a load quantity";

    SetBase(*setup, "TransmissionType", 0);
    UpdateTransmissionUnits(setup.get());

    for (const char* name : {"TestSpeed", "SPD_min", "ErefMaxSpeed"})
        EXPECT_EQ(TypeOf(*setup, name), "rpm") << name;
    for (const char* name : {"Limit_Speed", "ERR_speed"})
        EXPECT_EQ(TypeOf(*setup, name), "rad/s") << name;
    EXPECT_EQ(TypeOf(*setup, "Negative_SWLS"), "rot");
    EXPECT_EQ(VariableTypeOf(*setup, "POSTRIGG4"), "rot");
    EXPECT_EQ(VariableTypeOf(*setup, "Load_Speed"), "rpm");
    EXPECT_EQ(VariableTypeOf(*setup, "TACC"), "rad/s^2");
    EXPECT_EQ(VariableTypeOf(*setup, "JERK"), "rad/s^3");
    EXPECT_TRUE(errors.empty());
}

TEST_F(TransmissionUnitsTest, OptionalGroupsChangeOnlyWhenTheDriveHasTheFeature)
{
    auto setup = With({{"TransmissionType", 1},
                       {"POS_max", 0},
                       {"SPD_max", 0},
                       {"FreezeControl_errband", 0},
                       {"Negative_SWLS", 0},
                       {"CADIN", 51},
                       {"POSOKLIM_FC", 20}}); // all features half there

    UpdateTransmissionUnits(setup.get());

    EXPECT_EQ(TypeOf(*setup, "POS_max"), "rot");
    EXPECT_EQ(TypeOf(*setup, "SPD_max"), "rpm");
    EXPECT_EQ(TypeOf(*setup, "FreezeControl_errband"), "rot");
    EXPECT_EQ(TypeOf(*setup, "Negative_SWLS"), "rot");

    setup->AddVariable("CADIN");
    Add(*setup, {{"TONPOSOK_FC", 100}, {"isSWLS", 0}});
    UpdateTransmissionUnits(setup.get());

    EXPECT_EQ(TypeOf(*setup, "POS_max"), "mm");
    EXPECT_EQ(TypeOf(*setup, "SPD_max"), "m/s");
    EXPECT_EQ(TypeOf(*setup, "FreezeControl_errband"), "mm");
    EXPECT_EQ(TypeOf(*setup, "Negative_SWLS"), "mm");
}

TEST_F(TransmissionUnitsTest, NamesTheSetupLacksAreSkippedSilently)
{
    auto setup = With({{"TransmissionType", 1}, {"TestSpeed", 0}});
    setup->AddVariable("JERK");

    UpdateTransmissionUnits(setup.get());

    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(g_bShowErrors, 1);
    EXPECT_EQ(TypeOf(*setup, "TestSpeed"), "m/s");
    EXPECT_STREQ(setup->FindVariable("JERK")->GetUnitType(), "m/s^3");
}

TEST_F(TransmissionUnitsTest, ChosenDisplayUnitSurvivesWhenTheTypeStays)
{
    auto setup = With({{"TransmissionType", 0}, {"TestSpeed", 0}, {"Limit_Speed", 0}});
    Param(*setup, "TestSpeed").ChangeUnit("rad/s");
    Param(*setup, "Limit_Speed").ChangeUnitType("m/s");

    UpdateTransmissionUnits(setup.get());

    EXPECT_STREQ(Param(*setup, "TestSpeed").GetUnitName(), "rad/s");
    EXPECT_STREQ(Param(*setup, "Limit_Speed").GetUnitType(), "rad/s");
}

class SpeedFeedForwardTest : public DriveTest {};

TEST_F(SpeedFeedForwardTest, OnInEveryModeButPositionThroughASpeedLoop)
{
    constexpr double kAcr = 0x0704; // position mode bits and others that must stay
    struct Case {
        double mode, positionType;
        bool enforced;
    };
    for (const Case& c : {Case{1, 1, true}, Case{2, 0, true}, Case{0, 0, true}, Case{0, 1, false}}) {
        auto setup = With({{"SpeedForward", 0},
                           {"ControlMode", c.mode},
                           {"PositionControlType", c.positionType},
                           {"ACR", kAcr}});

        EXPECT_EQ(EnforceSpeedFeedForward(setup.get()), 1);

        EXPECT_EQ(Value(*setup, "SpeedForward"), c.enforced ? 1 : 0) << c.mode << "/" << c.positionType;
        EXPECT_EQ(Value(*setup, "ACR"), c.enforced ? kAcr + 0x4000 : kAcr) << c.mode << "/" << c.positionType;
    }
}

TEST_F(SpeedFeedForwardTest, MissingParameterWritesNothingAndOtherBitsStay)
{
    g_bShowErrors = 0;
    auto setup = With({{"SpeedForward", 0}, {"ControlMode", 1}, {"PositionControlType", 0}});

    EXPECT_EQ(EnforceSpeedFeedForward(setup.get()), 0);
    EXPECT_EQ(Value(*setup, "SpeedForward"), 0);

    Add(*setup, {{"ACR", 0x4201}}); // bit 14 set already
    EXPECT_EQ(EnforceSpeedFeedForward(setup.get()), 1);
    EXPECT_EQ(Value(*setup, "ACR"), 0x4201);
}

} // namespace
