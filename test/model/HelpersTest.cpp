#include "TestSetup.h"

#include "Helpers.h"

namespace {

TEST(Helpers, ConverterFullScaleIsLeftAligned)
{
    EXPECT_EQ(Compute_ADCMaxValue(nullptr), 65472u);
    std::string error;
    auto description = SetupDescription::Parse(R"({"format": "velmaro-setup-description", "version": 1,
      "unitTypes": [], "parameters": [{"name": "ADCbits", "type": 6, "default": 12}], "variables": []})",
                                               "d.json", error);
    ASSERT_TRUE(description) << error;
    CMC_Setup setup(description);
    EXPECT_EQ(Compute_ADCMaxValue(&setup), 65472u); // no such parameter in this setup
    setup.AddParameter("ADCbits");
    EXPECT_EQ(Compute_ADCMaxValue(&setup), 65520u);
    setup.FindParameter("ADCbits")->SetValueInInternalUnit(16);
    EXPECT_EQ(Compute_ADCMaxValue(&setup), 65535u);
}

TEST(Helpers, RoundingGoesHalfAwayFromZero)
{
    EXPECT_EQ(TG_Round(2.5), 3);
    EXPECT_EQ(TG_Round(-2.5), -3);
    EXPECT_EQ(TG_Round(2.4999), 2);
    EXPECT_EQ(TG_FRound(-0.5), -1.0);
    EXPECT_DOUBLE_EQ(RoundDecimalValue(1.23456, 2), 1.23);
    EXPECT_DOUBLE_EQ(RoundDecimalValue(3.9999999, 0), 4.0);
    EXPECT_DOUBLE_EQ(RoundDecimalValue(-7.25, 1), -7.3);
}

} // namespace
