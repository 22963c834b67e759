// velmaro commission end to end, through the loaded module's editor on the
// virtual drive: the reference motor commissioned with its report and JSON,
// every injected fault stopping the run at the first test that finds it
// with that test's message and no setup written, and the input never
// overwritten.
#include "CommandLineSupport.h"

#include "SetupDescription.h"

#include <nlohmann/json.hpp>

namespace {

class CommissionCommand : public ReferenceSetupCopy {
protected:
    CommissionCommand() : ReferenceSetupCopy("commission") {}

    std::string Output() const { return (dir / "commissioned.json").string(); }
};

TEST_F(CommissionCommand, CommissionsTheReferenceMotorWithItsReportAndJson)
{
    const std::string report = (dir / "report").string();
    const CliRun run = Velmaro({"commission", "--setup", copy, "-o", Output(), "--report", report, "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    // stdout holds the JSON alone; the progress went to stderr
    const nlohmann::json result = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(result.is_object()) << run.out.substr(0, 200);
    EXPECT_EQ(result["passed"], true);
    EXPECT_EQ(result["output"], Output());
    EXPECT_TRUE(result["flags"].empty());
    EXPECT_NE(run.err.find("Resistance and inductance (run 2)"), std::string::npos);
    EXPECT_NE(run.err.find("Saved " + Output()), std::string::npos);

    const std::string page = ReadFile(fs::path(report) / "index.html");
    for (const char* id :
         {"hall-signals", "hall-angle-error", "current-response", "speed-response", "position-response"}) {
        EXPECT_TRUE(fs::exists(fs::path(report) / (std::string(id) + ".svg"))) << id;
        EXPECT_NE(page.find(std::string(id) + ".csv"), std::string::npos) << id;
    }
    EXPECT_EQ(nlohmann::json::parse(ReadFile(fs::path(report) / "result.json")), result);

    // The saved setup reads back, and differs from the input in what
    // commissioning changed, as the report lists it.
    EXPECT_EQ(Velmaro({"validate", "--setup", Output()}).code, 0);
    const CliRun diff = Velmaro({"diff", copy, Output()});
    EXPECT_EQ(diff.code, 1);
    ASSERT_FALSE(result["changes"].empty());
    for (const auto& change : result["changes"])
        EXPECT_NE(diff.out.find(change["name"].get<std::string>()), std::string::npos) << change["name"];
}

TEST_F(CommissionCommand, AnInjectedFaultStopsAtTheFirstTestThatFindsItAndWritesNoSetup)
{
    struct Case {
        const char* fault;
        const char* test;    // the title of the dialog that finds it
        const char* message; // part of its message
    };
    const Case cases[] = {
        {"no-answer", "VDC Detection Test", "The drive does not answer."},
        {"open-phase", "Motor Phase Connection Test", "check the motor phase connections"},
        {"short-circuit", "Motor Phase Connection Test", "shortcircuit protection triggered"},
        {"enable-inactive", "Motor Phase Connection Test", "ENABLE input is in DISABLED state"},
        {"missing-hall", "Hall Signals Connection Test", "Hall sensor is missing."},
        // crossed motor leads look balanced to the phase test, as on a bench
        {"swapped-phases", "Offset Detection Test",
         "Switch any two motor phases or two Linear Hall signals."},
        {"swapped-hall", "Offset Detection Test", "Switch any two motor phases or two Linear Hall signals."},
        {"limit-switch", "Total inertia test", "positive limit switch input triggered"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const CliRun run = Velmaro({"commission", "--setup", copy, "-o", Output(), "--fault", c.fault});
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find(std::string("commissioning failed in ") + c.test + ": "), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("FAILED: " + std::string(c.test)), std::string::npos);
        EXPECT_FALSE(fs::exists(Output()));
    }
}

// A motor file of the user's own, outside the motor database, whose
// datasheet gives a resistance far from the motor's: the datasheet is typed
// in, the value found is flagged; with --strict the flag fails the run there.
TEST_F(CommissionCommand, AValueFarFromTheDatasheetIsFlaggedAndFailsAStrictRun)
{
    nlohmann::json motor =
        nlohmann::json::parse(ReadFile(fs::path(DataDirectory()) / "motors/reference-servo-200W.json"));
    motor["parameters"]["R"] = 1.2;
    const std::string file = (dir / "my-motor.json").string();
    std::ofstream(file) << motor.dump();

    const CliRun flagged = Velmaro({"commission", "--setup", copy, "--motor", file, "-o", Output()});
    EXPECT_EQ(flagged.code, 0) << flagged.err;
    EXPECT_NE(flagged.out.find("typed in from its datasheet"), std::string::npos);
    EXPECT_NE(flagged.out.find("FLAG R: differs from the datasheet by 33"), std::string::npos) << flagged.out;
    EXPECT_NE(flagged.out.find("Flagged:\n  R: differs"), std::string::npos);
    fs::remove(Output());

    const CliRun strict =
        Velmaro({"commission", "--setup", copy, "--motor", file, "-o", Output(), "--strict"});
    EXPECT_EQ(strict.code, 1);
    EXPECT_NE(strict.err.find("R: differs from the datasheet by 33"), std::string::npos) << strict.err;
    EXPECT_EQ(strict.out.find("Current loop"), std::string::npos) << "the run went on after the flag";
    EXPECT_FALSE(fs::exists(Output()));
}

// On a 46 V supply the high-inductance motor's current rises on nearly all
// the voltage the tuned current loop has: the inertia test must not take that
// for the back-EMF of a motor at speed.
TEST_F(CommissionCommand, CommissionsTheHighInductanceMotorOnALowerSupply)
{
    const std::string lower = (dir / "46V.json").string();
    ASSERT_EQ(Velmaro({"set", "Vdc", "46", "--setup", copy, "-o", lower}).code, 0);
    const CliRun run = Velmaro({"commission", "--setup", lower, "--motor",
                                (fs::path(DataDirectory()) / "motors/high-inductance-48V.json").string(),
                                "-o", Output(), "--json"});
    ASSERT_EQ(run.code, 0) << run.err;
    const nlohmann::json result = nlohmann::json::parse(run.out);
    const auto inertia = std::find_if(result["identified"].begin(), result["identified"].end(),
                                      [](const nlohmann::json& value) { return value["name"] == "Jt"; });
    ASSERT_NE(inertia, result["identified"].end());
    EXPECT_NEAR((*inertia)["runs"][0].get<double>(), 1.8e-4, 0.02 * 1.8e-4);
}

// A motor whose PWM ripple outweighs the test current is refused before any
// test turns it, with the reason; no setup is written.
TEST_F(CommissionCommand, RefusesAMotorTheDriveCannotTestSayingWhy)
{
    const CliRun run = Velmaro({"commission", "--setup", copy, "--motor",
                                (fs::path(DataDirectory()) / "motors/low-inductance-24V-400W.json").string(),
                                "-o", Output()});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find("failed in Motor Setup: the drive cannot test this motor: the PWM ripple"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(Output()));
}

// The supply and the board are the drive's, from its drive file: the supply
// detection finds the drive's 40 V whatever the setup says, and a setup that
// believes in another bus divider reads the bus as wrongly as a real drive.
TEST_F(CommissionCommand, TheSupplyAndTheBoardAreTheDrivesNotTheSetups)
{
    const std::string driveFile = (dir / "40V-drive.json").string();
    nlohmann::json drive =
        nlohmann::json::parse(ReadFile(fs::path(DataDirectory()) / "drives/reference-drive.json"));
    drive["supplyVoltage"] = 40.0;
    std::ofstream(driveFile) << drive.dump();
    auto supplyFound = [&](const std::string& setup) {
        const CliRun run =
            Velmaro({"commission", "--setup", setup, "--drive", driveFile, "-o", Output(), "--json"});
        fs::remove(Output());
        const nlohmann::json result = nlohmann::json::parse(run.out, nullptr, false);
        if (!result.is_object())
            return 0.0;
        for (const auto& value : result["identified"])
            if (value["name"] == "Vdc")
                return value["runs"][0].get<double>();
        return 0.0;
    };
    EXPECT_NEAR(supplyFound(copy), 40.0, 0.2);
    const std::string otherDivider = (dir / "divider.json").string();
    ASSERT_EQ(Velmaro({"set", "VdcMaxMeasurable", "160", "--setup", copy, "-o", otherDivider}).code, 0);
    EXPECT_NEAR(supplyFound(otherDivider), 80.0, 0.4);

    std::ofstream(driveFile) << "{\"format\": \"velmaro-drive\", \"adcBits\": 7}";
    const CliRun damaged = Velmaro({"commission", "--setup", copy, "--drive", driveFile, "-o", Output()});
    EXPECT_EQ(damaged.code, 1);
    EXPECT_NE(damaged.err.find(driveFile + ":1: \"adcBits\" must be from 8 to 16, not 7"), std::string::npos)
        << damaged.err;
}

TEST_F(CommissionCommand, NeverWritesOverItsInputNorTakesAnUnknownFault)
{
    const std::string before = ReadFile(copy);
    const CliRun same = Velmaro({"commission", "--setup", copy, "-o", copy});
    EXPECT_EQ(same.code, 1);
    EXPECT_NE(same.err.find("is not overwritten"), std::string::npos) << same.err;
    const CliRun unknown = Velmaro({"commission", "--setup", copy, "-o", Output(), "--fault", "melted"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.err.find("unknown fault \"melted\""), std::string::npos) << unknown.err;
    EXPECT_EQ(ReadFile(copy), before);
    EXPECT_FALSE(fs::exists(Output()));
}

} // namespace
