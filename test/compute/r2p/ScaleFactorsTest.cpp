// The unit scale the module gives the host: value = (internal + offset) x factor.
#include "EngineCore.h"
#include "EngineTestSetup.h"
#include "Helpers.h"
#include "RegistersToParameters.h"

#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace {

class ScaleFactors : public EngineTest {};

} // namespace

TEST_F(ScaleFactors, VoltsDependOnTheNameAndTheBlank)
{
    auto setup = Reference();
    const double adcMax = Compute_ADCMaxValue(setup.get());
    EXPECT_EQ(ScaleFactorOf(setup.get(), "v", "ad5"), 5.0 / adcMax);
    EXPECT_EQ(ScaleFactorOf(setup.get(), "V", "AnalogueInputsRange"), 1.0);
    EXPECT_EQ(ScaleFactorOf(setup.get(), "V ", "AD5"), 80.0 / adcMax); // the measured DC bus
    EXPECT_DOUBLE_EQ(ScaleFactorOf(setup.get(), "V", "Voltage_Reference"), 48 * 1.1 / 65534);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ScaleFactors, MagnitudesKeepTheirSignUnderANegativeTransmission)
{
    auto setup = Reference();
    setup->FindParameter("Motor_transmission")->SetValueInInternalUnit(-1.0);
    EXPECT_GT(ScaleFactorOf(setup.get(), "rad/s", "TestSpeed"), 0.0);
    EXPECT_LT(ScaleFactorOf(setup.get(), "rad/s", "ASPD_LD"), 0.0);
    EXPECT_GT(ScaleFactorOf(setup.get(), "m", "POS_max"), 0.0);
    EXPECT_LT(ScaleFactorOf(setup.get(), "m", "APOS_LD"), 0.0);
    EXPECT_GT(ScaleFactorOf(setup.get(), "rad/s", "ASPD_MT"), 0.0); // the motor side never turns round
}

TEST_F(ScaleFactors, UnknownOrMissingNamesGiveTheIdentity)
{
    auto setup = Reference();
    for (const char* unit : {"furlong", "", "VV", "°F"}) {
        EXPECT_EQ(ScaleFactorOf(setup.get(), unit, "ASPD"), 1.0) << unit;
        EXPECT_EQ(ScaleOffsetOf(setup.get(), unit), 0.0) << unit;
    }
    EXPECT_EQ(ScaleFactorOf(setup.get(), nullptr, nullptr), 1.0);
    EXPECT_EQ(ScaleOffsetOf(nullptr, "°C"), 0.0);
    EXPECT_EQ(ScaleOffsetOf(setup.get(), "A"), 0.0);
}

TEST_F(ScaleFactors, ATemperatureReadsAsTheProtectionLevelDoes)
{
    auto setup = Reference();
    ASSERT_EQ(Compute_Temp_2(setup.get()), 1);
    const double counts = setup->GetParameterValueInInternalUnit("T2MAXPROT");
    for (const char* degrees : {"\xB0"
                                "C",
                                "°C"}) {
        const double celsius =
            (counts + ScaleOffsetOf(setup.get(), degrees)) * ScaleFactorOf(setup.get(), degrees, "");
        EXPECT_NEAR(celsius, Value(*setup, "Temp_2"), 1e-12);
    }
}

namespace {

struct ScaleRow {
    const char* unit;
    std::vector<const char*> names;
    double factor;
};

std::string Lowered(const char* text)
{
    std::string lowered(text);
    for (char& c : lowered)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered;
}

} // namespace

// Each row of the unit table, on a setup where every scale differs from the
// others: a reversing transmission (signed and magnitude scales part), fast and
// slow loops at different periods, a drive-side motor scale.
TEST_F(ScaleFactors, EveryUnitAndNameGetsItsOwnScale)
{
    auto setup = Reference();
    CMC_Setup* s = setup.get();
    setup->FindParameter("Motor_transmission")->SetValueInInternalUnit(-3.0);
    ASSERT_NE(CurrentLoopPeriod(s), SpeedLoopPeriod(s));
    ASSERT_NE(std::fabs(LoadSpeedScale(s)), MotorSpeedScale(s));
    ASSERT_LT(LoadPositionScale(s), 0.0);

    const double adcMax = Compute_ADCMaxValue(s);
    const double kp = LoadPositionScale(s);
    const double ks = LoadSpeedScale(s);
    const double tc = CurrentLoopPeriod(s);
    const double ts = SpeedLoopPeriod(s);
    const double polePairs = std::round(setup->GetParameterValueInInternalUnit("MECRESL") *
                                        setup->GetParameterValueInInternalUnit("ENC2THL") / 4294967296.0);
    const double thetaStep = 2.0 * 3.141592653589793 / 65534.0;
    const std::vector<const char*> positionMagnitudes = {"ERR_position", "FreezeControl_errband",
                                                         "TestPosition", "POS_max", "POS_min"};
    const std::vector<const char*> speedMagnitudes = {"ERR_speed", "Limit_Speed", "ErefMaxSpeed",
                                                      "TestSpeed", "SPD_max",     "SPD_min"};
    const ScaleRow rows[] = {
        {"V ", {"AD5", "Voltage_Reference"}, 1.0 / DcBusVoltageScale(s)},
        {"V", {"AnalogueInputsRange"}, 1.0},
        {"V",
         {"DeadBand_Point", "DeadBand_Range", "AD2", "AD2FIL_VAL", "AD5"},
         Value(*setup, "AnalogueInputsRange") / adcMax},
        {"V", {"Voltage_Reference", "UQREF"}, 1.0 / VoltageCommandScale(s)},
        {"A", {"IQ", "Ts_C"}, 1.0 / CurrentScale(s)},
        {"s", {"Ts_C"}, tc},
        {"s", {"Ts_S", "time_ERR_pos"}, ts},
        {"rad", {"Motor_Position", "APOS_MT"}, 1.0 / MotorPositionScale(s)},
        {"rad", {"THTST"}, thetaStep},
        {"rad", positionMagnitudes, 1.0 / std::fabs(kp)},
        {"rad", {"APOS_LD", "Negative_SWLS"}, 1.0 / kp},
        {"m", positionMagnitudes, 1.0 / std::fabs(kp)},
        {"m", {"APOS_LD"}, 1.0 / kp},
        {"rad/s",
         {"Motor_Speed", "ASPD", "ASPD_MT", "TestMaxSpeed", "SPDREF", "Motor_Speed_Reference"},
         1.0 / MotorSpeedScale(s)},
        {"rad/s", {"TINCTST"}, thetaStep / tc / polePairs},
        {"rad/s", speedMagnitudes, 1.0 / std::fabs(ks)},
        {"rad/s", {"ASPD_LD"}, 1.0 / ks},
        {"m/s", speedMagnitudes, 1.0 / std::fabs(ks)},
        {"m/s", {"ASPD_LD", "Motor_Speed"}, 1.0 / ks},
        {"rad/s^2", {"ErefMaxAcceleration"}, 1.0 / LoadAccelerationScale(s)},
        {"m/s^2", {"ErefMaxAcceleration"}, 1.0 / LoadAccelerationScale(s)},
        {"rad/s^3", {"Jerk"}, 1.0 / LoadJerkScale(s)},
        {"m/s^3", {"Jerk"}, 1.0 / LoadJerkScale(s)},
        {"°C", {"Temp_2"}, 1.0 / (adcMax * Value(*setup, "DriveTempSensorGain") / Value(*setup, "ADCrange"))},
        {"V/s", {"VoltageRate"}, 1.0 / VoltageCommandScale(s) / ts},
        {"A/s", {"CurrentRate"}, 1.0 / CurrentScale(s) / ts},
        {"Hz", {"PWM_freq"}, 1.0},
    };
    for (const ScaleRow& row : rows)
        for (const char* name : row.names) {
            EXPECT_DOUBLE_EQ(ScaleFactorOf(s, row.unit, name), row.factor)
                << '"' << row.unit << "\" " << name;
            EXPECT_DOUBLE_EQ(ScaleFactorOf(s, Lowered(row.unit).c_str(), Lowered(name).c_str()), row.factor)
                << '"' << row.unit << "\" " << name << " in lower case";
        }
    EXPECT_TRUE(errors.empty());
}
