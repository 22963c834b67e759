// velmaro sweep: motors of a folder commissioned side by side in child
// processes, one row each; a motor that cannot be read or whose run crashes
// is a failed row and the others go on; a folder without motors is refused.
#include "CommandLineSupport.h"

#include "SetupDescription.h"
#include "SweepTable.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace {

const std::string kVelmaro = VELMARO_EXECUTABLE;

class SweepCommand : public ReferenceSetupCopy {
protected:
    SweepCommand() : ReferenceSetupCopy("sweep") {}

    fs::path Folder(const std::string& name, const std::vector<std::string>& motors)
    {
        const fs::path folder = dir / name;
        fs::create_directories(folder);
        for (const std::string& motor : motors)
            fs::copy_file(fs::path(DataDirectory()) / "motors" / motor, folder / motor);
        return folder;
    }
};

TEST_F(SweepCommand, CommissionsEachMotorSideBySideWithARowEach)
{
    const fs::path folder = Folder("good", {"small-24V-60W.json", "servo-48V-400W.json"});
    fs::create_directories(folder / "not-a-motor.json"); // a folder is not a motor file
    const CliRun run = Velmaro({"sweep", "--motors", folder.string(), "--jobs", "2", "--velmaro", kVelmaro});
    ASSERT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("2 at once"), std::string::npos) << run.out;
    for (const char* motor : {"small-24V-60W", "servo-48V-400W"}) {
        SCOPED_TRACE(motor);
        EXPECT_NE(run.out.find("/2] " + std::string(motor) + " passed in "), std::string::npos) << run.out;
        // one row, within every target
        const auto row = run.out.find('\n' + std::string(motor) + "  ");
        ASSERT_NE(row, std::string::npos) << run.out;
        const std::string line = run.out.substr(row + 1, run.out.find('\n', row + 1) - row - 1);
        EXPECT_TRUE(line.ends_with("  passed")) << line;
        EXPECT_EQ(line.find('*'), std::string::npos) << line;
        EXPECT_EQ(run.out.find('\n' + std::string(motor) + "  ", row + 1), std::string::npos);
    }
    EXPECT_NE(run.out.find("Passed 2 of 2 motors."), std::string::npos);
    EXPECT_NE(run.out.find("with 2 jobs."), std::string::npos);
    EXPECT_EQ(run.out.find("is kept in"), std::string::npos) << "nothing to look at when all passed";
}

// The stand-in for velmaro crashes on the motor named "crash" and runs the
// real one for the others.
TEST_F(SweepCommand, ADamagedOrCrashingMotorIsAFailedRowAndTheOthersGoOn)
{
    const fs::path folder = Folder("mixed", {"small-24V-60W.json"});
    std::ofstream(folder / "damaged.json") << "{\"format\": \"velmaro-motor\", broken";
    fs::copy_file(folder / "small-24V-60W.json", folder / "crash.json");
    const fs::path velmaro = dir / "velmaro";
    std::ofstream(velmaro) << "#!/bin/sh\ncase \"$*\" in *crash.json*) kill -SEGV $$;; esac\nexec "
                           << kVelmaro << " \"$@\"\n";
    ::chmod(velmaro.c_str(), 0755);

    const CliRun run = Velmaro(
        {"sweep", "--motors", folder.string(), "--jobs", "2", "--json", "--velmaro", velmaro.string()});
    EXPECT_EQ(run.code, 1);
    const nlohmann::json table = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(table.is_object()) << run.out.substr(0, 200) << run.err;
    EXPECT_EQ(table["motors"], 3);
    EXPECT_EQ(table["passed"], 1);
    EXPECT_EQ(table["jobs"], 2);
    ASSERT_EQ(table["rows"].size(), 3u);
    const nlohmann::json& crash = table["rows"][0];
    const nlohmann::json& damaged = table["rows"][1];
    const nlohmann::json& good = table["rows"][2];
    EXPECT_EQ(crash["motor"], "crash");
    EXPECT_FALSE(crash["passed"]);
    EXPECT_NE(crash["failure"].get<std::string>().find("crashed: Segmentation fault (signal 11)"),
              std::string::npos)
        << crash["failure"];
    EXPECT_FALSE(damaged["passed"]);
    EXPECT_NE(damaged["failure"].get<std::string>().find((folder / "damaged.json").string() + ":1: "),
              std::string::npos)
        << damaged["failure"];
    EXPECT_TRUE(damaged["errors"]["R"]["percent"].is_null());
    EXPECT_TRUE(good["passed"]);
    EXPECT_LT(std::abs(good["errors"]["R"]["percent"].get<double>()),
              table["targetsPercent"]["R"].get<double>());
    EXPECT_NE(run.err.find("damaged FAILED in "), std::string::npos) << run.err;

    // the motors' output is kept for a look at what failed
    const fs::path logs = table["logFolder"].get<std::string>();
    EXPECT_NE(ReadFile(logs / "damaged" / "commission.log").find("damaged.json:1: "), std::string::npos);
    fs::remove_all(logs);
}

TEST_F(SweepCommand, RefusesAFolderWithoutMotorsSayingWhy)
{
    const fs::path empty = Folder("empty", {});
    std::ofstream(empty / "notes.txt") << "not a motor";
    const struct {
        std::string folder;
        std::string message;
    } cases[] = {
        {empty.string(), empty.string() + ": no motor files (*.json) in it"},
        {(dir / "missing").string(), (dir / "missing").string() + ": no such folder"},
        {copy, copy + ": not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const CliRun run = Velmaro({"sweep", "--motors", c.folder, "--velmaro", kVelmaro});
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find("velmaro: " + c.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    EXPECT_NE(Velmaro({"sweep", "--motors", empty.string(), "--jobs", "0"}).code, 0);
}

// A commissioning's JSON result with each value's runs against its truth.
std::string Result(bool passed,
                   const std::vector<std::tuple<std::string, std::vector<double>, double>>& values)
{
    nlohmann::json result = {{"passed", passed}, {"failedTest", ""}, {"failure", ""}, {"identified", {}}};
    for (const auto& [name, runs, truth] : values)
        result["identified"].push_back({{"name", name}, {"runs", runs}, {"truth", truth}});
    return result.dump();
}

double ColumnPercent(const SweepRow& row, const std::string& key)
{
    for (std::size_t c = 0; c < SweepColumns().size(); ++c)
        if (SweepColumns()[c].key == key)
            return row.errors[c].percent;
    return 0.0;
}

TEST(SweepRow, EachColumnShowsItsWorstRunAndMarksWhatMissesItsTarget)
{
    const ChildExit exited{true, 0, 0};
    // the worst run of L counts, with its sign; the worst of the three Hall gains
    const SweepRow row = SweepRowOf("motors/m.json",
                                    Result(true, {{"L", {1.01, 0.97}, 1.0},
                                                  {"R", {1.005, 1.005}, 1.0},
                                                  {"HALLAGAIN", {100.5}, 100.0},
                                                  {"HALLBGAIN", {98.0}, 100.0},
                                                  {"HALLCGAIN", {100.0}, 100.0}}),
                                    exited, "");
    EXPECT_EQ(row.motor, "m");
    EXPECT_NEAR(ColumnPercent(row, "L"), -3.0, 1e-9);
    EXPECT_NEAR(ColumnPercent(row, "HallGain"), -2.0, 1e-9);
    EXPECT_TRUE(std::isnan(ColumnPercent(row, "Jt")));
    EXPECT_TRUE(row.commissioned);
    EXPECT_FALSE(row.Passed());
    EXPECT_EQ(row.Verdict(), "off target: L, Hall gain");

    // the pole pairs must be exact
    const SweepRow pp = SweepRowOf("m.json", Result(true, {{"pp", {4.0, 5.0}, 4.0}}), exited, "");
    EXPECT_EQ(pp.Verdict(), "off target: pp");
    EXPECT_TRUE(SweepRowOf("m.json", Result(true, {{"pp", {4.0, 4.0}, 4.0}}), exited, "").Passed());

    // a run that failed in a test says which, whatever it found before
    nlohmann::json failed = nlohmann::json::parse(Result(false, {{"R", {1.0}, 1.0}}));
    failed["failedTest"] = "Pole pairs";
    failed["failure"] = "The motor does not turn.";
    EXPECT_EQ(SweepRowOf("m.json", failed.dump(), {true, 1, 0}, "").Verdict(),
              "FAILED in Pole pairs: The motor does not turn.");
}

} // namespace
