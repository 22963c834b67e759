// velmaro filters: the registers after the register pass and the response of
// each slot, as text and as JSON.
#include "CommandLineSupport.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

class FiltersCommand : public ReferenceSetupCopy {
protected:
    FiltersCommand() : ReferenceSetupCopy("filters") {}

    void Set(const std::string& name, const std::string& value)
    {
        const CliRun run = Velmaro({"set", name, value, "--setup", copy});
        ASSERT_EQ(run.code, 0) << run.err;
    }
};

TEST_F(FiltersCommand, ReferenceHasEverySlotUnused)
{
    const CliRun run = Velmaro({"filters"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("IQREF_BQ_INI = 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Slot 3: unused"), std::string::npos) << run.out;
}

TEST_F(FiltersCommand, JsonShowsTheQuantisedResponseOfEachSlot)
{
    Set("BQFilter2", "1"); // second-order low pass at 200 Hz, Q 0.707, on the speed controller output
    Set("BQFilter3", "1");
    Set("BQFilterType3", "3");
    Set("BQFilterLocation3", "0");
    const CliRun run = Velmaro({"filters", "--setup", copy, "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["counts"]["SPDREF_BQ_INI"], 1);
    EXPECT_EQ(report["counts"]["IQREF_BQ_INI"], 1);

    const nlohmann::json& highPass = report["slots"][0];
    EXPECT_EQ(highPass["filter"], 3);
    EXPECT_EQ(highPass["typeName"], "High Pass");
    const nlohmann::json& lowPass = report["slots"][1];
    EXPECT_EQ(lowPass["filter"], 2);
    EXPECT_EQ(lowPass["registers"]["SF"], 2);
    bool sawCorner = false;
    for (const nlohmann::json& point : lowPass["response"]) {
        if (point["frequency"] == 10) {
            EXPECT_NEAR(point["magnitudeDb"].get<double>(), 0.0, 0.01);
        }
        if (point["frequency"] == 200) { // the corner: -3 dB and a quarter turn behind
            sawCorner = true;
            EXPECT_NEAR(point["magnitudeDb"].get<double>(), -3.0103, 0.01);
            EXPECT_NEAR(point["phaseDeg"].get<double>(), -90.0, 0.1);
        }
        EXPECT_LE(point["frequency"].get<double>(), 1000.0); // half the 2 kHz speed loop
    }
    EXPECT_TRUE(sawCorner);
    EXPECT_FALSE(report["slots"][2]["used"].get<bool>());
    EXPECT_EQ(report["slots"][2]["registers"]["B0"], 0);
}

TEST_F(FiltersCommand, RefusesAnUnreadableSetup)
{
    const CliRun run = Velmaro({"filters", "--setup", (dir / "missing.json").string()});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("missing.json"), std::string::npos) << run.err;
}

} // namespace
