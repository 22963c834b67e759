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

namespace {

// Cuts and corrupts the reference setup at many places: every damaged copy is
// either refused with "file:line: problem" or read as a whole setup; nothing
// in between, and nothing crashes.
TEST(ShippedData, EveryDamagedCopyIsRefusedCleanly)
{
    const std::string path = DataDirectory() + "/reference-setup.json";
    const std::string text = ReadFile(path);
    ASSERT_FALSE(text.empty());
    const char replacements[] = {'"', '{', '}', ',', ':', '9', 'x', '\0', '\n'};
    int refused = 0;
    for (std::size_t at = 0; at < text.size(); at += 211) {
        const std::string cut = text.substr(0, at);
        SetupLoadResult truncated = ParseSetup(cut, "cut.json", SetupDescription::Default());
        EXPECT_FALSE(truncated.setup) << "a setup cut at byte " << at << " was accepted";
        EXPECT_EQ(truncated.error.rfind("cut.json:", 0), 0u) << truncated.error;

        std::string corrupt = text;
        corrupt[at] = replacements[at % std::size(replacements)];
        SetupLoadResult damaged = ParseSetup(corrupt, "corrupt.json", SetupDescription::Default());
        if (!damaged.setup) {
            ++refused;
            EXPECT_EQ(damaged.error.rfind("corrupt.json:", 0), 0u) << damaged.error;
        }
    }
    EXPECT_GT(refused, 0);
}

} // namespace
