#include "CommandLineSupport.h"
#include "SetupDescription.h"

namespace {

class CommandLine : public ReferenceSetupCopy {
protected:
    CommandLine() : ReferenceSetupCopy("cli") {}
};

TEST_F(CommandLine, InfoSummarisesTheReferenceSetup)
{
    CliRun run = Velmaro({"info"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("Drive ratings:"), std::string::npos);
    EXPECT_NE(run.out.find("ImaxPS = 10 A"), std::string::npos) << run.out;
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(CommandLine, GetReadsInEveryUnit)
{
    EXPECT_EQ(Velmaro({"get", "imaxps"}).out, "10 A\n");
    EXPECT_EQ(Velmaro({"get", "ImaxPS", "--unit", "mA"}).out, "10000 mA\n");
    EXPECT_EQ(Velmaro({"get", "ImaxPS", "--internal"}).out, "10\n");
    CliRun wrongUnit = Velmaro({"get", "ImaxPS", "--unit", "rpm"});
    EXPECT_NE(wrongUnit.code, 0);
    EXPECT_NE(wrongUnit.err.find("\"rpm\" is not a unit of \"ImaxPS\""), std::string::npos);
    CliRun missing = Velmaro({"get", "NoSuchParameter"});
    EXPECT_NE(missing.code, 0);
    EXPECT_NE(missing.err.find("no parameter \"NoSuchParameter\""), std::string::npos);
}

TEST_F(CommandLine, SetSavesOnlyAValidValue)
{
    CliRun set = Velmaro({"set", "L", "1.5", "--unit", "mH", "--setup", copy});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(Velmaro({"get", "L", "--unit", "mH", "--setup", copy}).out, "1.5 mH\n");

    const std::string before = ReadFile(copy);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"set", "L", "nan", "--setup", copy},
             {"set", "L", "1e999", "--setup", copy},
             {"set", "L", "12abc", "--setup", copy},
             {"set", "L", "-1", "--setup", copy},
             {"set", "Nope", "1", "--setup", copy},
         }) {
        CliRun run = Velmaro(bad);
        EXPECT_NE(run.code, 0) << bad[2];
        EXPECT_FALSE(run.err.empty()) << bad[2];
    }
    EXPECT_EQ(ReadFile(copy), before);

    CliRun reference = Velmaro({"set", "L", "0.001"});
    EXPECT_NE(reference.code, 0);
    EXPECT_NE(reference.err.find("reference setup is not changed"), std::string::npos);
}

// Values a hostile or careless user types: each refused with its own reason,
// and the file stays as it was.
TEST_F(CommandLine, SetRefusesWhatItCannotStoreExactly)
{
    const std::string before = ReadFile(copy);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"set", "pp", "2.5"}, "\"pp\" takes whole numbers only"},
        {{"set", "KPI", "100.5"}, "\"KPI\" takes whole numbers only"},
        {{"set", "Ts_C", "1e-4"}, "\"Ts_C\" is computed from other parameters and cannot be set"},
        {{"set", "Ts_S", "1e-3"}, "\"Ts_S\" is computed from other parameters and cannot be set"},
        {{"set", "L", "0x3"}, "\"0x3\" is not a number"},
        {{"set", "L", " 3"}, "\" 3\" is not a number"},
        {{"set", "L", "3 "}, "\"3 \" is not a number"},
        {{"set", "L", "-inf"}, "\"-inf\" is not a number"},
        {{"set", "L", "inf"}, "\"inf\" is not a number"},
        {{"set", "L", "1e999"}, "\"1e999\" is not a finite number"},
        {{"set", "pp", "1e-310"}, "1e-310  is outside the range of \"pp\""},
        {{"set", "L"}, "set needs a VALUE"},
        {{"set", "L", "1", "2"}, "unexpected argument \"2\""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--setup", copy});
        const CliRun run = Velmaro(args);
        EXPECT_EQ(run.code, 1) << args[1] << ' ' << args[2];
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(copy), before);
    EXPECT_EQ(Velmaro({"set", "L", "-1e-3", "--setup", copy}).code, 1)
        << "below the range, yet read as a number";
    EXPECT_EQ(Velmaro({"set", "pp", "5", "--setup", copy}).code, 0);
}

// The shipped reference setup is never a save's target, by any path to it.
TEST_F(CommandLine, NoCommandOverwritesTheReferenceSetup)
{
    const std::string reference = ReferenceSetupPath();
    const std::string before = ReadFile(reference);
    const fs::path link = dir / "link.json";
    fs::create_symlink(reference, link);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"set", "L", "0.002", "-o", reference},
             {"set", "L", "0.002", "--setup", reference},
             {"set", "L", "0.002", "--setup", copy, "-o", link.string()},
             {"compute", "--setup", copy, "-o", reference},
             {"edit", reference},
         }) {
        const CliRun run = Velmaro(args);
        EXPECT_EQ(run.code, 1) << args[0] << ' ' << args.back();
        EXPECT_NE(run.err.find("reference setup is not changed"), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(reference), before);
}

TEST_F(CommandLine, AmbiguousOrWrongTargetsAreRefused)
{
    const std::string other = (dir / "other.json").string();
    fs::copy_file(copy, other);
    const CliRun twoSetups = Velmaro({"compute", "--setup", copy, other});
    EXPECT_EQ(twoSetups.code, 1);
    EXPECT_NE(twoSetups.err.find("two setups given"), std::string::npos) << twoSetups.err;

    const std::string before = ReadFile(other);
    const CliRun listing = Velmaro({"compute", "--json", "--setup", copy, "-o", other});
    EXPECT_EQ(listing.code, 1);
    EXPECT_NE(listing.err.find("is a setup; --json writes a listing"), std::string::npos) << listing.err;
    EXPECT_EQ(ReadFile(other), before);
    EXPECT_EQ(Velmaro({"compute", "--json", "--setup", copy, "-o", (dir / "listing.json").string()}).code, 0);

    const CliRun unknownUnit = Velmaro({"scale", "furlong"});
    EXPECT_EQ(unknownUnit.code, 1);
    EXPECT_NE(unknownUnit.err.find("\"furlong\" is not a unit"), std::string::npos) << unknownUnit.err;
    EXPECT_EQ(Velmaro({"scale", "A", "NoSuchVariable"}).code, 1);
    EXPECT_EQ(Velmaro({"scale", "A", "Motor_Current"}).code, 0);
}

TEST_F(CommandLine, ListMatchesPatternsIgnoringCase)
{
    CliRun run = Velmaro({"list", "kp_*_scl"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("Kp_C_scl"), std::string::npos);
    EXPECT_NE(run.out.find("Kp_S_scl"), std::string::npos);
    EXPECT_EQ(run.out.find("KPI "), std::string::npos);
    EXPECT_NE(Velmaro({"list", "zzz*"}).code, 0);
}

TEST_F(CommandLine, ValidateRefusesADamagedFile)
{
    EXPECT_EQ(Velmaro({"validate", "--setup", copy}).code, 0);
    std::string text = ReadFile(copy);
    std::ofstream(copy, std::ios::binary) << text.substr(0, text.size() / 3);
    CliRun run = Velmaro({"validate", "--setup", copy});
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find(copy + ":"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("ends too early"), std::string::npos) << run.err;
}

TEST_F(CommandLine, UsageErrorsExitNonZero)
{
    EXPECT_NE(Velmaro({}).code, 0);
    EXPECT_NE(Velmaro({"frobnicate"}).code, 0);
    EXPECT_NE(Velmaro({"get"}).code, 0);
}

} // namespace

namespace {

class DiffCommand : public ReferenceSetupCopy {
protected:
    DiffCommand() : ReferenceSetupCopy("diff") {}
};

// Two setups: what differs is listed in each side's display unit, what is
// the same is not, and the exit code tells which.
TEST_F(DiffCommand, ListsWhatDiffersInEngineeringUnits)
{
    const std::string changed = (dir / "changed.json").string();
    ASSERT_EQ(Velmaro({"set", "R", "1.25", "--setup", copy, "-o", changed}).code, 0);
    ASSERT_EQ(Velmaro({"set", "PB_S", "157", "--unit", "rad/s", "--setup", changed, "-o", changed}).code, 0);

    const CliRun same = Velmaro({"diff", copy, copy});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.out, "");

    const CliRun run = Velmaro({"diff", copy, changed});
    EXPECT_EQ(run.code, 1) << run.err;
    std::istringstream lines(run.out);
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);)
        names.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(names, (std::vector<std::string>{"R", "PB_S"}));
    EXPECT_NE(run.out.find("1.25 Ohm"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("157 rad/s"), std::string::npos) << run.out;

    const CliRun missing = Velmaro({"diff", copy, (dir / "none.json").string()});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("none.json"), std::string::npos) << missing.err;
}

} // namespace
