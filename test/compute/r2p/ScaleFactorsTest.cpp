// The unit scale the module gives the host: value = (internal + offset) x factor.
#include "EngineCore.h"
#include "EngineTestSetup.h"
#include "Helpers.h"
#include "RegistersToParameters.h"

#include <cmath>

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
