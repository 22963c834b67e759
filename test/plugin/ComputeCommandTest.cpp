// velmaro compute and velmaro scale, through the command line as a user runs them.
#include "Commands.h"
#include "SetupDescription.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun Velmaro(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int code = RunCommandLine(args, out, err);
    return {code, out.str(), err.str()};
}

class ComputeCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("velmaro-compute-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The parameters of a --json document by name.
    static std::map<std::string, nlohmann::json> Parameters(const std::string& text)
    {
        std::map<std::string, nlohmann::json> byName;
        const auto doc = nlohmann::json::parse(text);
        for (const auto& p : doc.at("parameters"))
            byName[p.at("name").get<std::string>()] = p;
        return byName;
    }

    fs::path dir;
};

} // namespace

TEST_F(ComputeCommand, JsonOfTheReferenceRunsCleanAndListsEverything)
{
    CliRun run = Velmaro({"compute", "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc.at("parameters").size(), 303u);
    EXPECT_FALSE(doc.at("variables").empty());
    EXPECT_EQ(doc.at("options").at("IsClosedPosition"), "1");

    const auto p = Parameters(run.out);
    // Drive-scaled values convert through the loaded module's scale.
    const auto& limit = p.at("IlimPS");
    EXPECT_EQ(limit.at("unitType"), "A");
    EXPECT_DOUBLE_EQ(limit.at("base").get<double>(), limit.at("internal").get<double>() * 20 / 65472);
    // The pass set the i2t current's range from the drive's currents.
    EXPECT_EQ(p.at("I_I2t_D").at("min"), 3.3);
    EXPECT_EQ(p.at("I_I2t_D").at("max"), 10.0);
}

TEST_F(ComputeCommand, PassesRunInTheOrderGiven)
{
    const std::string file = (dir / "setup.json").string();
    CliRun run = Velmaro({"compute", "--pass", "registers", "--pass", "parameters", "-o", file});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    // Settled: another pair of passes changes nothing.
    CliRun again = Velmaro({"compute", file, "--pass", "registers", "--pass", "parameters"});
    ASSERT_EQ(again.code, 0) << again.err;
    std::ifstream in(file);
    EXPECT_EQ(again.out, std::string(std::istreambuf_iterator<char>(in), {}));

    CliRun bad = Velmaro({"compute", "--pass", "everything"});
    EXPECT_NE(bad.code, 0);
    EXPECT_NE(bad.err.find("everything"), std::string::npos) << bad.err;
}

TEST_F(ComputeCommand, StepsOfDifferentKindsKeepTheirOrder)
{
    const std::string file = (dir / "edited.json").string();
    ASSERT_EQ(Velmaro({"set", "Kp_C_scl", "1.5", "-o", file}).code, 0);
    // The edit reaches the registers first, or the old registers overwrite the edit first.
    CliRun kept =
        Velmaro({"compute", "--setup", file, "--changed", "kp_c_scl", "--pass", "parameters", "--json"});
    CliRun lost =
        Velmaro({"compute", "--setup", file, "--pass", "parameters", "--changed", "Kp_C_scl", "--json"});
    ASSERT_EQ(kept.code, 0) << kept.err;
    ASSERT_EQ(lost.code, 0) << lost.err;
    EXPECT_DOUBLE_EQ(Parameters(kept.out).at("Kp_C_scl").at("base").get<double>(),
                     24575.0 * 2 / 32767); // 1.5 in the whole register
    EXPECT_DOUBLE_EQ(Parameters(lost.out).at("Kp_C_scl").at("base").get<double>(), 3.738883632923368);
}

TEST_F(ComputeCommand, ADesignPrintsTheGainsTheRegistersHold)
{
    const std::string file = (dir / "slower.json").string();
    ASSERT_EQ(Velmaro({"set", "PB_C", "3141.592653589793", "-o", file}).code, 0);
    CliRun run = Velmaro({"compute", "--setup", file, "--design", "current", "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto p = Parameters(run.out);
    const double kp = p.at("Kp_C_scl").at("base");
    const double kpi = p.at("KPI").at("base");
    EXPECT_NE(kp, 3.738883632923368); // the reference's gain, designed for twice the bandwidth
    EXPECT_EQ(kpi, std::round(kpi));
    EXPECT_DOUBLE_EQ(kp, kpi * std::pow(2.0, p.at("SFTKPI").at("base").get<double>()) / 32767);

    CliRun unknown = Velmaro({"compute", "--changed", "NoSuchGain"});
    EXPECT_NE(unknown.code, 0);
    EXPECT_NE(unknown.err.find("no parameter \"NoSuchGain\""), std::string::npos) << unknown.err;
}

TEST_F(ComputeCommand, TheReferenceIsNeverOverwritten)
{
    CliRun run = Velmaro({"compute", "-o", ReferenceSetupPath()});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("reference setup is not changed"), std::string::npos) << run.err;
}

TEST_F(ComputeCommand, ScalePrintsTheModulesFactorAndOffset)
{
    EXPECT_EQ(Velmaro({"scale", "A"}).out, "factor 0.00030547409579667644\noffset 0\n");
    EXPECT_EQ(Velmaro({"scale", "°C"}).out, "factor 0.005040322580645161\noffset -9920\n");
    EXPECT_EQ(Velmaro({"scale", "V", "AnalogueInputsRange"}).out, "factor 1\noffset 0\n");
    EXPECT_EQ(Velmaro({"scale", "parsec"}).code, 1) << "not a unit of the description";
}
