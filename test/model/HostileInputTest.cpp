// Hostile and edge inputs of the setup model: nesting, unit types that make a
// scale read itself, unit names, name lookup and range edges, register widths.
#include "TestSetup.h"

#include "Helpers.h"
#include "JsonReader.h"
#include "SetupFile.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace {

TEST(JsonNesting, DeepNestingIsRefusedWithItsLine)
{
    JsonValue root;
    std::string error;
    EXPECT_FALSE(ParseJson(std::string(200000, '['), root, error));
    EXPECT_EQ(error, "1: nested deeper than 64 levels");

    const std::string deepest = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    EXPECT_TRUE(ParseJson(deepest, root, error)) << error;
    EXPECT_FALSE(ParseJson("\n[" + deepest + "]", root, error));
    EXPECT_EQ(error.rfind("2: nested deeper", 0), 0u) << error;
}

TEST(JsonNesting, AValueOfAnyDepthIsDestroyedWithoutRecursion)
{
    auto root = std::make_unique<JsonValue>();
    JsonValue* last = root.get();
    for (int depth = 0; depth < 1000000; ++depth) {
        last->kind = depth % 2 ? JsonValue::Kind::Array : JsonValue::Kind::Object;
        if (depth % 2)
            last = &last->items.emplace_back();
        else
            last = &last->members.emplace_back("k", JsonValue{}).second;
    }
    root.reset();
    SUCCEED();
}

class HostileSetups : public ModelTest {
protected:
    SetupLoadResult Parse(const std::string& parameters)
    {
        return ParseSetup(
            "{\"format\": \"velmaro-setup\", \"version\": 1, \"identity\": {}, \"options\": {},\n"
            "\"parameters\": {\n" +
                parameters + "\n},\n\"variables\": {}}\n",
            "hostile.json", setup->DescriptionPtr());
    }
};

TEST_F(HostileSetups, DeeplyNestedSetupIsRefusedWithFileAndLine)
{
    const SetupLoadResult loaded = ParseSetup(std::string(200000, '['), "deep.json", setup->DescriptionPtr());
    EXPECT_FALSE(loaded.setup);
    EXPECT_EQ(loaded.error, "deep.json:1: nested deeper than 64 levels");
}

TEST_F(HostileSetups, AValueHeldAsIsKeepsItsUnitType)
{
    // A drive unit for the drive's current would make its scale read itself.
    SetupLoadResult loaded = Parse("\"L\": 1,\n\"ImaxPS\": {\"value\": 10,\n \"unitType\": \"A\"}");
    EXPECT_FALSE(loaded.setup);
    EXPECT_EQ(loaded.error, "hostile.json:5: the unit type \"A\" does not fit \"ImaxPS\" (its unit type is "
                            "\"Current\")");
    EXPECT_FALSE(Parse("\"L\": {\"value\": 1, \"unitType\": \"Current\"}").setup);
    EXPECT_FALSE(Parse("\"TestSpeed\": {\"value\": 1, \"unitType\": \"Current\"}").setup);
    // A drive-scaled value may take another drive unit, as the transmission switches them.
    loaded = Parse("\"TestSpeed\": {\"value\": 1, \"unitType\": \"rad/s\"}");
    ASSERT_TRUE(loaded.setup) << loaded.error;
    EXPECT_STREQ(loaded.setup->FindParameter("TestSpeed")->GetUnitType(), "rad/s");
}

// A scale that reads the value it scales, as a unit type that does not fit would make it.
double SelfReadingScale(CMC_Setup* setup, const char*, const char* name)
{
    return 1.0 + setup->GetParameterValueInBaseUnit(name);
}

TEST_F(HostileSetups, AScaleThatReadsItsOwnValueFailsInsteadOfRecursing)
{
    RegisterScaleProvider({&SelfReadingScale, nullptr});
    EXPECT_TRUE(std::isnan(Param("Imax_Prot").GetValueInBaseUnit()));
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.front().find("\"Imax_Prot\" in \"A\" reads \"Imax_Prot\" itself"), std::string::npos)
        << errors.front();
    // Nothing stays marked: the next conversion fails the same way, once.
    errors.clear();
    EXPECT_TRUE(std::isnan(Param("Imax_Prot").GetValueInBaseUnit()));
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(HostileSetups, DisplayUnitsMatchExactly)
{
    const CMC_UnitType& current = Param("ImaxPS").UnitType();
    EXPECT_EQ(current.FindUnit("mA"), 1);
    EXPECT_EQ(current.FindUnit("MA"), -1); // a megaampere is not a milliampere
    EXPECT_EQ(Param("ImaxPS").ChangeUnit("MA"), 0);
    EXPECT_STREQ(Param("ImaxPS").GetUnitName(), "A");
    EXPECT_FALSE(Parse("\"ImaxPS\": {\"value\": 10, \"unit\": \"MA\"}").setup);
}

TEST_F(HostileSetups, RegistersHoldWholeNumbersWithinTheirWidth)
{
    CMC_Parameter& kpi = Param("KPI"); // 0 to 32767
    const struct {
        double asked, held;
        bool clamped;
    } cases[] = {{32767.0, 32767.0, false}, {0.0, 0.0, false},        {123.4, 123.0, false},
                 {32767.4, 32767.0, false}, {32767.5, 32767.0, true}, {1.6368e6, 32767.0, true},
                 {-0.6, 0.0, true},         {-1e300, 0.0, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(kpi.SetValueInInternalUnit(c.asked), 1);
        EXPECT_EQ(kpi.GetValueInInternalUnit(), c.held) << c.asked;
        EXPECT_EQ(kpi.WasClamped(), c.clamped) << c.asked;
    }
    // The width comes from the description, not from the editable range.
    kpi.SetMaxInBaseUnit(1e9);
    kpi.SetValueInInternalUnit(40000.0);
    EXPECT_EQ(kpi.GetValueInInternalUnit(), 32767.0);
    EXPECT_EQ(setup->Clone()->FindParameter("KPI")->GetRegisterHighest(), 32767.0);
    // A value that is not a register has no width.
    EXPECT_EQ(Param("L").SetValueInInternalUnit(1e9), 1);
    EXPECT_FALSE(Param("L").WasClamped());
}

class ReferenceSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetupLoadResult loaded =
            LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
        ASSERT_TRUE(loaded.setup) << loaded.error;
        setup = std::move(loaded.setup);
    }
    std::unique_ptr<CMC_Setup> setup;
};

std::string WithCase(std::string name, int (*change)(int))
{
    for (char& c : name)
        c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return name;
}

TEST_F(ReferenceSetup, EveryNameIsFoundInUpperAndLowerCase)
{
    QuietLookup quiet;
    for (const auto& p : setup->GetParameters()) {
        EXPECT_EQ(setup->FindParameter(WithCase(p->Name(), &std::toupper)), p.get()) << p->Name();
        EXPECT_EQ(setup->FindParameter(WithCase(p->Name(), &std::tolower)), p.get()) << p->Name();
    }
    for (const auto& v : setup->GetVariables()) {
        EXPECT_EQ(setup->FindVariable(WithCase(v->Name(), &std::toupper), 0), v.get()) << v->Name();
        EXPECT_EQ(setup->FindVariable(WithCase(v->Name(), &std::tolower), 0), v.get()) << v->Name();
    }
}

TEST_F(ReferenceSetup, RangesHoldTheirEndsAndNothingBeyond)
{
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    for (const auto& p : setup->GetParameters()) {
        const double min = p->GetMinInBaseUnit(), max = p->GetMaxInBaseUnit();
        EXPECT_TRUE(p->IsInRange(min)) << p->Name();
        EXPECT_TRUE(p->IsInRange(max)) << p->Name();
        EXPECT_FALSE(p->IsInRange(std::nextafter(min, -kInfinity))) << p->Name();
        EXPECT_FALSE(p->IsInRange(std::nextafter(max, kInfinity))) << p->Name();
    }
}

} // namespace
