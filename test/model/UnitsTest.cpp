#include "TestSetup.h"

namespace {

TEST(UnitTable, NamesAreExactBeforeIgnoringCase)
{
    auto description = TestDescription();
    const CMC_UnitTable& units = description->Units();
    ASSERT_NE(units.Find("V"), nullptr);
    ASSERT_NE(units.Find("V "), nullptr);
    EXPECT_NE(units.Find("V"), units.Find("V "));
    EXPECT_EQ(units.Find("V ")->GetBaseUnit(), "V ");
    EXPECT_EQ(units.Find("RPM"), units.Find("rpm"));
    EXPECT_EQ(units.Find("none"), nullptr);
    EXPECT_EQ(units.Find(""), units.None());
}

TEST(UnitTable, DriveTypesOfABaseUnitSkipPhysicalTypes)
{
    auto description = TestDescription();
    auto speeds = description->Units().DriveTypesOfBaseUnit("rad/s");
    ASSERT_EQ(speeds.size(), 2u);
    EXPECT_EQ(speeds[0]->GetName(), "rad/s");
    EXPECT_EQ(speeds[1]->GetName(), "rpm");
    auto currents = description->Units().DriveTypesOfBaseUnit("A");
    ASSERT_EQ(currents.size(), 1u);
    EXPECT_EQ(currents[0]->GetName(), "A");
}

TEST(UnitTable, DisplayUnitsAreFoundByName)
{
    auto description = TestDescription();
    const CMC_UnitType* inductance = description->Units().Find("Inductance");
    EXPECT_EQ(inductance->FindUnit("mH"), 1);
    EXPECT_EQ(inductance->FindUnit("MH"), -1); // letter case matters: M is mega
    EXPECT_EQ(inductance->FindUnit("µH"), 2);
    EXPECT_EQ(inductance->FindUnit("Ohm"), -1);
}

TEST(SetupDescriptionFile, DamagedDescriptionsAreRefusedWithTheirLine)
{
    struct Case {
        const char* text;
        const char* problem;
    };
    const Case cases[] = {
        {R"({"format": "velmaro-setup-description", "version": 1, "unitTypes": [],
"parameters": [{"name": "X", "type": 9}], "variables": []})",
         ":2: the type of \"X\""},
        {R"({"format": "velmaro-setup-description", "version": 1, "unitTypes": [],
"parameters": [{"name": "X", "type": 0},
{"name": "x", "type": 0}], "variables": []})",
         ":3: duplicate parameter \"x\""},
        {R"({"format": "velmaro-setup-description", "version": 1, "unitTypes": [],
"parameters": [], "variables": [{"name": "X", "unitType": "parsec"}]})",
         ":2: unknown unit type \"parsec\""},
        {R"({"format": "velmaro-setup-description", "version": 1, "unitTypes": [
{"name": "A", "base": "A", "units": [["A", 0]]}], "parameters": [], "variables": []})",
         ":2: a unit is"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(SetupDescription::Parse(c.text, "d.json", error), nullptr);
        EXPECT_NE(error.find(std::string("d.json") + c.problem), std::string::npos) << error;
    }
}

} // namespace
