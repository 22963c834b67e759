#include "TestSetup.h"

#include "SetupFile.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SetupFiles : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        dir = fs::temp_directory_path() / ("velmaro-files-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        ModelTest::TearDown();
    }

    SetupLoadResult Parse(const std::string& text)
    {
        return ParseSetup(text, "bad.json", setup->DescriptionPtr());
    }

    fs::path dir;
};

bool BitEqual(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(SetupFiles, RoundTripIsBitExact)
{
    const double values[] = {
        0.1,   1.0 / 3.0, 1e-300, -0.0, 9007199254740993.0, 65472.0, 2.2250738585072014e-308, -123456.789e200,
        5e-324};
    std::size_t i = 0;
    for (const auto& p : setup->GetParameters())
        p->SetValueInInternalUnit(values[i++ % std::size(values)]);
    Param("L").ChangeUnit("µH");
    Param("TestSpeed").ChangeUnitType("rad/s");
    Param("Imax_Prot").SetMinInBaseUnit(1.0 / 7.0);
    setup->SetOption("zeta", "1");
    setup->SetOption("alpha", "text with \"quotes\" and \\ and °");
    setup->SetDescription("Drive \"A\"\n");
    setup->SetE2ROMSize(32768);

    const std::string first = SerializeSetup(*setup);
    SetupLoadResult loaded = Parse(first);
    ASSERT_TRUE(loaded.setup) << loaded.error;
    EXPECT_EQ(SerializeSetup(*loaded.setup), first);
    for (std::size_t k = 0; k < setup->GetParameters().size(); ++k) {
        const auto& a = *setup->GetParameters()[k];
        const auto& b = *loaded.setup->GetParameters()[k];
        EXPECT_EQ(a.Name(), b.Name());
        EXPECT_TRUE(BitEqual(a.GetValueInInternalUnit(), b.GetValueInInternalUnit())) << a.Name();
        EXPECT_TRUE(BitEqual(a.GetMinInBaseUnit(), b.GetMinInBaseUnit())) << a.Name();
    }
    EXPECT_STREQ(loaded.setup->FindParameter("L")->GetUnitName(), "µH");
    EXPECT_STREQ(loaded.setup->FindParameter("TestSpeed")->GetUnitType(), "rad/s");
    EXPECT_EQ(loaded.setup->GetOptions()[0].first, "zeta");
    EXPECT_EQ(loaded.setup->GetDescription(), "Drive \"A\"\n");
}

TEST_F(SetupFiles, CompactEntriesTakeTheDescriptionsDefaults)
{
    SetupLoadResult loaded = Parse(R"({"format": "velmaro-setup", "version": 1, "identity": {}, "options": {},
      "parameters": {"L": 0.002, "KPI": {"value": 5}}, "variables": {"ASPD": {}}})");
    ASSERT_TRUE(loaded.setup) << loaded.error;
    EXPECT_EQ(loaded.setup->GetParameters().size(), 2u);
    EXPECT_EQ(loaded.setup->FindParameter("L")->GetValueInBaseUnit(), 0.002);
    EXPECT_EQ(loaded.setup->FindParameter("KPI")->GetMaxInBaseUnit(), 32767.0);
    EXPECT_STREQ(loaded.setup->FindVariable("ASPD", 1)->GetUnitType(), "rad/s");
}

struct DamagedFile {
    const char* what;
    std::string text;
    int line;
    const char* problem;
};

std::string Wrap(const std::string& parameters)
{
    return "{\"format\": \"velmaro-setup\", \"version\": 1, \"identity\": {}, \"options\": "
           "{},\n\"parameters\": {\n" +
           parameters + "\n},\n\"variables\": {}}\n";
}

TEST_F(SetupFiles, DamagedFilesAreRefusedWithFileLineAndProblem)
{
    const std::string good = SerializeSetup(*setup);
    const DamagedFile cases[] = {
        {"truncated", good.substr(0, good.size() / 2), -1, "ends too early"},
        {"not JSON", "this is not a setup\n", 1, "syntax error"},
        {"foreign format", "{\n\"format\": \"spreadsheet\", \"version\": 1}", 2, "not a velmaro-setup file"},
        {"newer version", "{\"format\": \"velmaro-setup\",\n\"version\": 2}", 2,
         "version 2 is not supported"},
        {"duplicate name", Wrap("\"L\": 1,\n\"L\": 2"), 4, "duplicate name \"L\""},
        {"duplicate ignoring case", Wrap("\"KPI\": 1,\n\"kpi\": 2"), 4, "duplicate parameter \"kpi\""},
        {"wrong type", Wrap("\"L\": 1,\n\"KPI\": {\"value\": \"12\"}"), 4, "\"value\" must be a number"},
        {"non-finite number", Wrap("\n\"L\": 1e999"), 4, "not finite"},
        {"unknown name", Wrap("\"Flux\": 1"), 3, "unknown parameter \"Flux\""},
        {"unknown unit", Wrap("\"L\": {\"value\": 1,\n \"unit\": \"furlong\"}"), 4, "furlong"},
        {"misspelt field", Wrap("\"L\": {\"valeu\": 1}"), 3, "unknown field \"valeu\""},
        {"missing section", "{\"format\": \"velmaro-setup\", \"version\": 1, \"identity\": {}}", 1,
         "\"options\" is missing"},
    };
    for (const auto& c : cases) {
        SetupLoadResult loaded = Parse(c.text);
        EXPECT_FALSE(loaded.setup) << c.what;
        EXPECT_EQ(loaded.error.rfind("bad.json:", 0), 0u) << c.what << ": " << loaded.error;
        if (c.line > 0) {
            EXPECT_NE(loaded.error.find(":" + std::to_string(c.line) + ":"), std::string::npos)
                << c.what << ": " << loaded.error;
        }
        EXPECT_NE(loaded.error.find(c.problem), std::string::npos) << c.what << ": " << loaded.error;
    }
}

TEST_F(SetupFiles, SaveReplacesTheFileWhole)
{
    const fs::path path = dir / "setup.json";
    std::string error;
    ASSERT_TRUE(SaveSetupFile(*setup, path.string(), error)) << error;
    Param("L").SetValueInBaseUnit(0.004);
    ASSERT_TRUE(SaveSetupFile(*setup, path.string(), error)) << error;
    SetupLoadResult loaded = LoadSetupFile(path.string(), setup->DescriptionPtr());
    ASSERT_TRUE(loaded.setup) << loaded.error;
    EXPECT_EQ(loaded.setup->FindParameter("L")->GetValueInBaseUnit(), 0.004);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(SetupFiles, SaveInterruptedHalfWayLeavesTheOldFileWhole)
{
    const fs::path path = dir / "setup.json";
    std::string error;
    ASSERT_TRUE(SaveSetupFile(*setup, path.string(), error)) << error;
    const std::string before = ReadFile(path);

    // The file system refuses to grow a file past 64 bytes: the write stops half way.
    for (const auto& p : setup->GetParameters())
        p->SetValueInInternalUnit(1.0 / 3.0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool saved_ok = SaveSetupFile(*setup, path.string(), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved_ok);
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "temporary file left";
}

TEST_F(SetupFiles, SavingIntoAMissingFolderFails)
{
    std::string error;
    EXPECT_FALSE(SaveSetupFile(*setup, (dir / "no" / "such" / "setup.json").string(), error));
    EXPECT_NE(error.find("cannot be saved"), std::string::npos);
}

TEST_F(SetupFiles, AMissingFileIsReported)
{
    SetupLoadResult loaded = LoadSetupFile((dir / "absent.json").string(), setup->DescriptionPtr());
    EXPECT_FALSE(loaded.setup);
    EXPECT_NE(loaded.error.find("absent.json: cannot be opened"), std::string::npos);
}

} // namespace
