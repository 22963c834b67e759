// The command line on setups that would give values the drive cannot use:
// zero or missing divisors, and designs beyond their registers' widths.
#include "CommandLineSupport.h"

#include <nlohmann/json.hpp>

namespace {

class UnusableSetups : public ReferenceSetupCopy {
protected:
    UnusableSetups() : ReferenceSetupCopy("unusable") {}

    // Rewrites the copy with its parameters changed.
    void Edit(const std::function<void(nlohmann::ordered_json&)>& change)
    {
        auto doc = nlohmann::ordered_json::parse(ReadFile(copy));
        change(doc["parameters"]);
        std::ofstream(copy, std::ios::binary) << doc.dump(2);
    }
};

TEST_F(UnusableSetups, SetRefusesAZeroDivisorAndChangesNothing)
{
    const std::string before = ReadFile(copy);
    const CliRun run = Velmaro({"set", "Motor_transmission", "0", "--setup", copy});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(
        run.err.find("\"Motor_transmission\" is 0; the drive's scales divide by it; nothing was changed"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(copy), before);
    EXPECT_EQ(Velmaro({"set", "Motor_transmission", "2", "--setup", copy}).code, 0);
}

TEST_F(UnusableSetups, ValidateRefusesZeroOrMissingDivisors)
{
    Edit([](nlohmann::ordered_json& parameters) { parameters["Motor_transmission"]["value"] = 0; });
    CliRun run = Velmaro({"validate", "--setup", copy});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find(copy + ": \"Motor_transmission\" is 0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("has no finite value"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("valid"), std::string::npos) << run.out;

    Edit([](nlohmann::ordered_json& parameters) {
        parameters["Motor_transmission"]["value"] = 1;
        parameters["PWMPER"]["value"] = 0;
    });
    run = Velmaro({"validate", "--setup", copy});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("\"PWMPER\" = 0 does not fit its register (1 to 65535)"), std::string::npos)
        << run.err;

    Edit([](nlohmann::ordered_json& parameters) {
        parameters["PWMPER"]["value"] = 1000;
        parameters.erase("SLPER");
    });
    run = Velmaro({"validate", "--setup", copy});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("\"SLPER\" is missing"), std::string::npos) << run.err;
}

TEST_F(UnusableSetups, ComputeSaysWhenADesignHitsItsRegisters)
{
    ASSERT_EQ(Velmaro({"set", "L", "1e-6", "--unit", "H", "--setup", copy}).code, 0);
    const CliRun run = Velmaro({"compute", "--design", "current", "--setup", copy});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.err.find("At the limit of its register: KPI (0 to 32767)"), std::string::npos) << run.err;
    EXPECT_EQ(Velmaro({"compute", "--design", "current"}).err, "");
}

} // namespace
