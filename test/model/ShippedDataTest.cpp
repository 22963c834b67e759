// The description and the reference setup shipped in data/.
#include "Errors.h"
#include "Helpers.h"
#include "Setup.h"
#include "SetupFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ShippedData, DescriptionHasTheUnitTypesTheTransmissionSwitchesBetween)
{
    auto description = SetupDescription::Default();
    for (const char* name : {"rot", "mm", "rpm", "m/s", "rad/s", "m/s^2", "rad/s^2", "m/s^3", "rad/s^3"}) {
        const CMC_UnitType* type = description->Units().Find(name);
        ASSERT_NE(type, nullptr) << name;
        EXPECT_TRUE(type->IsDriveScaled()) << name;
    }
    for (const auto& def : description->Parameters())
        EXPECT_TRUE(def.min <= def.max) << def.name;
}

TEST(ShippedData, ReferenceSetupReadsAndRoundTripsExactly)
{
    const std::string path = DataDirectory() + "/reference-setup.json";
    SetupLoadResult loaded = LoadSetupFile(path, SetupDescription::Default());
    ASSERT_TRUE(loaded.setup) << loaded.error;
    const std::string canonical = SerializeSetup(*loaded.setup);
    EXPECT_EQ(canonical, ReadFile(path)) << "the reference setup is not in canonical form";
    SetupLoadResult again = ParseSetup(canonical, path, SetupDescription::Default());
    ASSERT_TRUE(again.setup) << again.error;
    EXPECT_EQ(SerializeSetup(*again.setup), canonical);
    EXPECT_EQ(Compute_ADCMaxValue(loaded.setup.get()), 65472u);
    EXPECT_EQ(loaded.setup->GetParameters().size(), SetupDescription::Default()->Parameters().size());
}

} // namespace
