// Each kind of conversion of the register-to-parameter pass, at its edges.
#include "EngineCore.h"
#include "EngineTestSetup.h"
#include "Helpers.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <cmath>
#include <numbers>

namespace {

class Conversions : public EngineTest {
protected:
    // Loop timing of the reference drive: 40 MHz, 20 kHz PWM, 1 and 10 PWM periods.
    static constexpr std::initializer_list<std::pair<const char*, double>> kTiming = {
        {"DSP_freq", 40e6}, {"PWMPER", 1000}, {"CLPER", 1}, {"SLPER", 10}};
    static constexpr double kTs = 5e-4; // slow loop period of that timing [s]

    static std::unique_ptr<CMC_Setup> WithTiming(std::initializer_list<std::pair<const char*, double>> values)
    {
        auto setup = With(values);
        for (const auto& [name, value] : kTiming)
            setup->AddParameter(name)->SetValueInInternalUnit(value);
        return setup;
    }
};

} // namespace

TEST_F(Conversions, FixedPointGainsUseTheQ15DivisorAndBothShifts)
{
    auto setup = With({{"Kp_C_scl", 0},
                       {"KPI", 16384},
                       {"SFTKPI", 1},
                       {"KFFA_scl", 0},
                       {"KFFA", 32767},
                       {"SFTAFFW", 11},
                       {"SFTKFF", 2}});
    ASSERT_EQ(Compute_Kp_C_scl(setup.get()), 1);
    EXPECT_EQ(Value(*setup, "Kp_C_scl"), 16384.0 * 2 / 32767);
    EXPECT_GT(Value(*setup, "Kp_C_scl"), 1.0);
    ASSERT_EQ(Compute_KFFA_scl(setup.get()), 1);
    EXPECT_EQ(Value(*setup, "KFFA_scl"), 8192.0);
    EXPECT_EQ(setup->FindParameter("KFFA_scl")->GetMaxInBaseUnit(), 4194304.0);
}

TEST_F(Conversions, ControlModeAndCurrentLimitFollowTheBitsOfACR)
{
    struct Case {
        int acr;
        double mode;
        double limit; // from SATS (bit 9 set) or SATP
    };
    const double ki = 65472.0 / 20.0;
    for (const Case& c : {Case{0x0600, 0, 767 / ki}, Case{0x0200, 1, 767 / ki}, Case{0x0000, 2, 2767 / ki},
                          Case{0x0400, 0, 2767 / ki}, Case{0x0700, 0, 767 / ki}}) {
        auto setup = With({{"ACR", c.acr},
                           {"ControlMode", 9},
                           {"IlimPS", 0},
                           {"ImaxPS", 10},
                           {"ImaxM", 10},
                           {"SATS", 32000},
                           {"SATP", 30000}});
        ASSERT_EQ(Compute_ControlMode(setup.get()), 1);
        ASSERT_EQ(Compute_IlimPS(setup.get()), 1);
        EXPECT_EQ(Value(*setup, "ControlMode"), c.mode) << std::hex << c.acr;
        EXPECT_DOUBLE_EQ(Value(*setup, "IlimPS"), c.limit) << std::hex << c.acr;
    }
}

TEST_F(Conversions, FlagsReadTheTruncatedRegister)
{
    auto setup = With({{"ACR", 0x0080 + 0.99},
                       {"ExternalReference", 0},
                       {"DigitalReferenceType", 0},
                       {"isAnalogueReference", 1},
                       {"SCR", 0x30},
                       {"isSpeedEstimator", 0},
                       {"PCR", 0x80},
                       {"isDriveI2t", 0},
                       {"isMotori2t", 1}});
    EXPECT_EQ(Compute_ExternalReference(setup.get()), 1);
    EXPECT_EQ(Value(*setup, "ExternalReference"), 1.0); // bit 7: a digital external reference
    Compute_DigitalReferenceType(setup.get());
    EXPECT_EQ(Value(*setup, "DigitalReferenceType"), 1.0); // bit 2 clear
    Compute_isAnalogueReference(setup.get());
    EXPECT_EQ(Value(*setup, "isAnalogueReference"), 0.0);
    EXPECT_EQ(setup->FindParameter("isAnalogueReference")->GetMaxInBaseUnit(), 0.0); // no analogue input
    Compute_isSpeedEstimator(setup.get());
    EXPECT_EQ(Value(*setup, "isSpeedEstimator"), 1.0);
    setup->FindParameter("SCR")->SetValueInInternalUnit(0x38);
    Compute_isSpeedEstimator(setup.get());
    EXPECT_EQ(Value(*setup, "isSpeedEstimator"), 0.0);
    Compute_isDriveI2t(setup.get());
    Compute_isMotori2t(setup.get());
    EXPECT_EQ(Value(*setup, "isDriveI2t"), 1.0);
    EXPECT_EQ(Value(*setup, "isMotorI2t"), 0.0); // one parameter, two spellings
}

TEST_F(Conversions, FreezeControlCountsInPositionModeOnly)
{
    auto setup = With({{"isFreezeControl", 0}, {"ControlMode", 1}, {"ACR", 0x0010}});
    Compute_isFreezeControl(setup.get());
    EXPECT_EQ(Value(*setup, "isFreezeControl"), 0.0);
    setup->FindParameter("ControlMode")->SetValueInInternalUnit(0);
    Compute_isFreezeControl(setup.get());
    EXPECT_EQ(Value(*setup, "isFreezeControl"), 1.0);
}

TEST_F(Conversions, DeadTimeTakesTheLargerByte)
{
    auto setup = With({{"DSP_freq", 40e6}, {"DBT", 0x0A14}});
    EXPECT_DOUBLE_EQ(DeadTime(setup.get()), 20 * 0.5 / 40e6);
    setup->FindParameter("DBT")->SetValueInInternalUnit(0);
    EXPECT_EQ(DeadTime(setup.get()), 1e-6);
    EXPECT_TRUE(errors.empty()); // "DBTPC" is optional
}

TEST_F(Conversions, StartCurrentRemovesTheDeadTimeVoltageAndTakesAThirdOfADeltaResistance)
{
    const double vdc = 48, kv = 65534 / (vdc * 1.1), in = 5, r = 0.9, deadTime = 20 * 0.5 / 40e6;
    const double deadTimeVoltage = 20000 * deadTime * vdc * kv;
    // 40 % of the voltage "In" drives through a third of the resistance, plus the dead time share.
    const double reftst = deadTimeVoltage + 0.4 * kv * in * r / 3;
    auto setup = With({{"StartCurrent", 0},
                       {"REFTST", reftst},
                       {"R", r},
                       {"In", in},
                       {"DSP_freq", 40e6},
                       {"PWMPER", 1000},
                       {"Vdc", vdc},
                       {"MotorPhaseConnectionType", 1},
                       {"DBT", 0x0A14}});
    ASSERT_EQ(Compute_StartCurrent(setup.get()), 1);
    // The register holds the whole number nearest to the voltage for 40 %.
    const double held = std::round(reftst);
    EXPECT_NEAR(Value(*setup, "StartCurrent"), 100.0 * (held - deadTimeVoltage) / (kv * in * r / 3), 1e-9);
    EXPECT_NEAR(Value(*setup, "StartCurrent"), 40.0, 0.05);
}

TEST_F(Conversions, FiltersSwitchedOffReadTheirDefaults)
{
    auto setup = WithTiming({{"FILTERQ", 32767},
                             {"isUseFilterOnCrtCtrlOutput", 1},
                             {"FilterOnCurrentControllerOutput", 0},
                             {"FILTER1", 32767},
                             {"UseFilter", 1},
                             {"filter", 0}});
    for (auto row : {&Compute_isUseFilterOnCrtCtrlOutput, &Compute_FilterOnCurrentControllerOutput,
                     &Compute_UseFilter, &Compute_filter})
        EXPECT_EQ(row(setup.get()), 1);
    EXPECT_EQ(Value(*setup, "isUseFilterOnCrtCtrlOutput"), 0.0);
    EXPECT_EQ(Value(*setup, "FilterOnCurrentControllerOutput"), 5000.0);
    EXPECT_EQ(Value(*setup, "UseFilter"), 0.0);
    EXPECT_EQ(Value(*setup, "filter"), 50.0);

    // Half of full scale, to the whole count: a cut-off of about ln 2 per period.
    setup->FindParameter("FILTER1")->SetValueInInternalUnit(16384);
    Compute_filter(setup.get());
    EXPECT_DOUBLE_EQ(Value(*setup, "filter"), std::log(32767.0 / 16383.0) / kTs);
    EXPECT_DOUBLE_EQ(setup->FindParameter("filter")->GetMaxInBaseUnit(), 0.5 / kTs);
}

TEST_F(Conversions, AnErrorTimeSwitchedOffIsWrittenBeyondItsMaximum)
{
    auto setup = WithTiming({{"TERRMAX", 65535}, {"isPositionControlError", 1}, {"time_ERR_pos", 0}});
    Compute_isPositionControlError(setup.get());
    ASSERT_EQ(Compute_time_ERR_pos(setup.get()), 1);
    const CMC_Parameter* time = setup->FindParameter("time_ERR_pos");
    EXPECT_EQ(Value(*setup, "isPositionControlError"), 0.0);
    EXPECT_DOUBLE_EQ(time->GetValueInBaseUnit(), 65535 * kTs);
    EXPECT_DOUBLE_EQ(time->GetMaxInBaseUnit(), 32767 * kTs);
}

TEST_F(Conversions, ANegativeTransmissionSwapsTheLimitSwitchesAndTheReferenceDirection)
{
    // KP = -100 increments per load radian.
    auto setup = With({{"MECRESL", 400},
                       {"Motor_transmission", -std::numbers::pi / 2},
                       {"Load_transmission", 1},
                       {"SWPOSLS", 1000},
                       {"SWNEGLS", -3000},
                       {"Negative_SWLS", 0},
                       {"Positive_SWLS", 0},
                       {"isSWLS", 1},
                       {"CADIN", 1000},
                       {"SFTADIN", 1},
                       {"AD5OFF", 50},
                       {"POS_max", 0}});
    ASSERT_LT(LoadPositionScale(setup.get()), 0.0);
    Compute_Negative_SWLS(setup.get());
    Compute_Positive_SWLS(setup.get());
    EXPECT_DOUBLE_EQ(Value(*setup, "Negative_SWLS"), -10.0);
    EXPECT_DOUBLE_EQ(Value(*setup, "Positive_SWLS"), 30.0);

    // And back: the drive's positive limit holds the load's negative one again.
    setup->FindParameter("SWPOSLS")->SetValueInInternalUnit(0);
    setup->FindParameter("SWNEGLS")->SetValueInInternalUnit(0);
    g_bShowErrors = 0;
    ComputeRegistersFromParameters(setup.get());
    g_bShowErrors = 1;
    EXPECT_NEAR(Value(*setup, "SWPOSLS"), 1000.0, 1e-9);
    EXPECT_NEAR(Value(*setup, "SWNEGLS"), -3000.0, 1e-9);

    ASSERT_EQ(Compute_POS_max(setup.get()), 1);
    EXPECT_DOUBLE_EQ(setup->FindParameter("POS_max")->GetValueInInternalUnit(),
                     50 - 1000 * 2 * 65472.0 / 65536 * 2);
}

TEST_F(Conversions, LimitSwitchesWithoutTheirFlagAreLeftAlone)
{
    auto setup = With({{"SWPOSLS", 1000},
                       {"SWNEGLS", -1000},
                       {"Negative_SWLS", 7},
                       {"Positive_SWLS", 8},
                       {"MECRESL", 4096},
                       {"Motor_transmission", 1},
                       {"Load_transmission", 1}});
    g_bShowErrors = 0;
    ComputeParametersFromRegisters(setup.get());
    EXPECT_EQ(setup->FindParameter("Negative_SWLS")->GetValueInInternalUnit(), 7.0);
    EXPECT_EQ(setup->FindParameter("Positive_SWLS")->GetValueInInternalUnit(), 8.0);
}

TEST_F(Conversions, AxisIdentifierAndBrakePort)
{
    auto setup = With({{"AAR_table", 300},
                       {"Axis_ID_list", 0},
                       {"BRAKECFG", 0x0501},
                       {"isMotorBrake", 0},
                       {"MotorBrake_output", 0}});
    Compute_Axis_ID_list(setup.get());
    EXPECT_EQ(Value(*setup, "Axis_ID_list"), 44.0);
    setup->FindParameter("AAR_table")->SetValueInInternalUnit(0);
    Compute_Axis_ID_list(setup.get());
    EXPECT_EQ(Value(*setup, "Axis_ID_list"), 0.0);

    Compute_isMotorBrake(setup.get());
    Compute_MotorBrake_output(setup.get());
    EXPECT_EQ(Value(*setup, "isMotorBrake"), 1.0);
    EXPECT_EQ(Value(*setup, "MotorBrake_output"), GetIOPortFromPin(5));
    EXPECT_EQ(GetIOPinFromPort(GetIOPortFromPin(5)), 5);
    EXPECT_EQ(GetIOPinFromPort(0), 0); // no port yet: the first pin
}

TEST_F(Conversions, ABipolarAnalogueInputShiftsTheDeadBandDownByTenVolts)
{
    const double adcMax = 65472;
    for (const auto& [range, expected] : {std::pair{20.0, 0.0}, std::pair{5.0, 2.5}}) {
        auto setup = With({{"DeadBand_Point", 1}, {"LEVEL_AD5", adcMax / 2}, {"AnalogueInputsRange", range}});
        ASSERT_EQ(Compute_DeadBand_Point(setup.get()), 1);
        EXPECT_NEAR(Value(*setup, "DeadBand_Point"), expected, 1e-12) << range;
    }
}
