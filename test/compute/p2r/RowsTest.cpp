// Single rows of the register pass: fixed-point pairs, the skip-on-missing
// convention, truncation, and the load-side rows that follow the transmission.
#include "EngineTestSetup.h"

#include "EngineCore.h"
#include "ParametersToRegisters.h"

#include <cmath>

namespace {

class RegisterRows : public EngineTest {
protected:
    // A load that turns against the motor: KP = -100 increments per load radian.
    static std::unique_ptr<CMC_Setup> ReversingLoad()
    {
        auto setup = Reference();
        setup->SetParameterValueInBaseUnit("MECRESL", 400);
        setup->SetParameterValueInBaseUnit("Motor_transmission", -1.5707963267948966);
        setup->SetParameterValueInBaseUnit("Load_transmission", 1);
        setup->SetParameterValueInBaseUnit("isSWLS", 1);
        return setup;
    }
};

struct PairCase {
    double gain;
    double shift;
    double mantissa;
};

TEST_F(RegisterRows, GainPairsSplitIntoShiftAndQ15Mantissa)
{
    const PairCase cases[] = {
        {0.0, 0, 0},          {0.25, 0, 0.25 * 32767}, {1.0, 0, 32767}, {1.5, 1, 0.75 * 32767},
        {16384.0, 14, 32767}, {3.0, 2, 0.75 * 32767},
    };
    for (const PairCase& c : cases) {
        auto setup = With({{"Kp_C_scl", c.gain}, {"KPI", -1}, {"SFTKPI", -1}});
        EXPECT_EQ(Compute_SFTKPI(setup.get()), 1);
        EXPECT_EQ(Compute_KPI(setup.get()), 1);
        EXPECT_EQ(Value(*setup, "SFTKPI"), c.shift) << c.gain;
        EXPECT_EQ(Value(*setup, "KPI"), std::round(c.mantissa)) << c.gain;
    }
}

TEST_F(RegisterRows, AccelerationFeedForwardSpreadsItsShiftOverTwoRegisters)
{
    const PairCase cases[] = {
        {8192.0, 13, 32767}, {0.5, 0, 0.5 * 32767}, {2048.0, 11, 32767}, {3000.0, 12, 3000 * 32767 / 4096.0}};
    for (const PairCase& c : cases) {
        auto setup = With({{"KFFA_scl", c.gain}, {"KFFA", -1}, {"SFTAFFW", -1}, {"SFTKFF", -1}});
        Compute_SFTAFFW(setup.get());
        Compute_SFTKFF(setup.get());
        Compute_KFFA(setup.get());
        EXPECT_EQ(Value(*setup, "SFTAFFW"), std::min(c.shift, 11.0)) << c.gain;
        EXPECT_EQ(Value(*setup, "SFTKFF"), std::max(c.shift - 11.0, 0.0)) << c.gain;
        EXPECT_EQ(Value(*setup, "KFFA"), std::round(c.mantissa)) << c.gain;
        EXPECT_NEAR(GainFromPair(Value(*setup, "KFFA"), Value(*setup, "SFTAFFW") + Value(*setup, "SFTKFF")),
                    c.gain, GainFromPair(0.5, c.shift));
    }
}

TEST_F(RegisterRows, MissingParameterSkipsTheRowAndWritesNothing)
{
    auto setup = With({{"SATS", 1234}}); // no "IlimPS"
    EXPECT_EQ(Compute_SATS(setup.get()), 0);
    EXPECT_EQ(Value(*setup, "SATS"), 1234);
    EXPECT_EQ(errors.size(), 1u);

    // Quietly when the host does not report misses.
    errors.clear();
    g_bShowErrors = 0;
    EXPECT_EQ(Compute_KPI(setup.get()), 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(RegisterRows, SaturationsSetTheirRegisterRangeFirst)
{
    auto setup = Reference();
    CMC_Parameter* sats = setup->FindParameter("SATS");
    sats->SetMinInBaseUnit(100);
    sats->SetMaxInBaseUnit(200);
    ASSERT_EQ(Compute_SATS(setup.get()), 1);
    EXPECT_EQ(sats->GetMinInBaseUnit(), 0);
    EXPECT_EQ(sats->GetMaxInBaseUnit(), 32767);
    const double ki = CurrentScale(setup.get());
    EXPECT_NEAR(Value(*setup, "SATS"), 32767 - Value(*setup, "IlimPS") * ki, 1e-9);
}

TEST_F(RegisterRows, OverVoltageThresholdDropsItsFractionUnderVoltageRoundsIt)
{
    auto setup = Reference();
    const double ku = DcBusVoltageScale(setup.get());
    setup->SetParameterValueInBaseUnit("UMAX_PROT", 60.3);
    setup->SetParameterValueInBaseUnit("UMIN_PROT", 10.3);
    Compute_UMAXPROT(setup.get());
    Compute_UMINPROT(setup.get());
    EXPECT_EQ(Value(*setup, "UMAXPROT"), std::trunc(60.3 * ku));
    EXPECT_EQ(Value(*setup, "UMINPROT"), std::round(10.3 * ku));
    EXPECT_NE(std::round(10.3 * ku), std::trunc(10.3 * ku));
}

TEST_F(RegisterRows, SwitchedOffFiltersAndErrorTimesWriteTheirOffValue)
{
    auto setup = Reference();
    setup->SetParameterValueInBaseUnit("isUseFilterOnCrtCtrlOutput", 0);
    setup->SetParameterValueInBaseUnit("FilterOnCurrentControllerOutput", 100);
    setup->SetParameterValueInBaseUnit("UseFilter", 0);
    setup->SetParameterValueInBaseUnit("isPositionControlError", 0);
    setup->SetParameterValueInBaseUnit("isSpeedControlError", 0);
    Compute_FILTERQ(setup.get());
    Compute_FILTER1(setup.get());
    Compute_TERRMAX(setup.get());
    Compute_TSERRMAX(setup.get());
    EXPECT_EQ(Value(*setup, "FILTERQ"), 32767);
    EXPECT_EQ(Value(*setup, "FILTER1"), 32767);
    EXPECT_EQ(Value(*setup, "TERRMAX"), 65535);
    EXPECT_EQ(Value(*setup, "TSERRMAX"), 65535);

    setup->SetParameterValueInBaseUnit("isUseFilterOnCrtCtrlOutput", 1);
    Compute_FILTERQ(setup.get());
    EXPECT_EQ(Value(*setup, "FILTERQ"),
              std::trunc((1 - std::exp(-100 * CurrentLoopPeriod(setup.get()))) * 32767));
}

TEST_F(RegisterRows, ReversingTransmissionSwapsTheLimitSwitchRegisters)
{
    auto setup = ReversingLoad();
    const double kp = LoadPositionScale(setup.get());
    ASSERT_NEAR(kp, -100, 1e-9);
    setup->SetParameterValueInBaseUnit("SWPOSLS", 0);
    setup->SetParameterValueInBaseUnit("SWNEGLS", 0);
    setup->FindParameter("Negative_SWLS")->SetValueInBaseUnit(-10);
    setup->FindParameter("Positive_SWLS")->SetValueInBaseUnit(20);
    Compute_SWNEGLS(setup.get());
    Compute_SWPOSLS(setup.get());
    EXPECT_EQ(Value(*setup, "SWPOSLS"), std::round(-10 * kp));
    EXPECT_EQ(Value(*setup, "SWNEGLS"), std::round(20 * kp));
}

TEST_F(RegisterRows, AnalogueReferenceGainStaysWithinQ15WhateverTheDirection)
{
    for (double motor : {1.0, -1.0}) {
        auto setup = Reference();
        setup->SetParameterValueInBaseUnit("Motor_transmission", motor * 6.283185307179586);
        setup->SetParameterValueInBaseUnit("ControlMode", 1);
        setup->FindParameter("SPD_min")->SetValueInInternalUnit(0);
        setup->FindParameter("SPD_max")->SetValueInInternalUnit(3 * 65472.0); // a span of 3 x 32768
        const double span = AnalogueReferenceSpan(setup.get());
        ASSERT_NEAR(std::fabs(span), 3 * 32768, 1e-6);
        Compute_CADIN(setup.get());
        Compute_SFTADIN(setup.get());
        const double cadin = setup->FindParameter("CADIN")->GetValueInInternalUnit();
        const double shift = setup->FindParameter("SFTADIN")->GetValueInInternalUnit();
        EXPECT_EQ(shift, 2) << motor;
        EXPECT_LE(std::fabs(cadin), 32767) << motor;
        EXPECT_DOUBLE_EQ(cadin * std::pow(2.0, shift), span) << motor;
    }
}

TEST_F(RegisterRows, AnalogueOffsetFollowsTheControlModeAndSkipsAnUnknownOne)
{
    auto setup = Reference();
    setup->FindParameter("POS_min")->SetValueInInternalUnit(11);
    setup->FindParameter("SPD_min")->SetValueInInternalUnit(22);
    setup->FindParameter("CRT_min")->SetValueInInternalUnit(33);
    const double expected[] = {11, 22, 33};
    for (int mode = 0; mode < 3; ++mode) {
        setup->SetParameterValueInBaseUnit("ControlMode", mode);
        EXPECT_EQ(Compute_AD5OFF(setup.get()), 1);
        EXPECT_EQ(setup->FindParameter("AD5OFF")->GetValueInInternalUnit(), expected[mode]);
    }
    setup->SetParameterValueInBaseUnit("ControlMode", 3);
    EXPECT_EQ(Compute_AD5OFF(setup.get()), 0);
    EXPECT_EQ(setup->FindParameter("AD5OFF")->GetValueInInternalUnit(), 33);
}

} // namespace
