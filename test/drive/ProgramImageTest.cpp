#include "CoffFormat.h"
#include "DriveTestSetup.h"

#include <cstdlib>
#include <map>

namespace {

class ProgramImageTest : public DriveTest {
protected:
    // Writes an image file into the scratch folder and loads it.
    CMC_CoffFormat Load(const std::string& fileName, const std::string& text)
    {
        const auto path = Scratch() / fileName;
        WriteFile(path, text);
        CMC_CoffFormat image;
        image.m_strFileName = path.string();
        image.ReadCoff();
        return image;
    }
};

// The user variables each program exchanges with the tests.
const std::map<std::string, std::vector<std::string>> kPrograms = {
    {"Initial_Positioning_Test", {"In1"}},
    {"Motor_Phase_Connection_Test", {"RefTest", "RIncTest"}},
    {"Hall_Signals_Connection_Test", {"RefTest", "RIncTest", "run_test"}},
    {"Motor_Pole_Pairs_Detection_Test", {"RefTest", "RIncTest", "poles_pairs"}},
    {"Detect_Hall_Gain_Offset_Test", {"RefTest", "RIncTest"}},
    {"Ident_R_or_Rs", {"In1", "RefTest", "RIncTest"}},
    {"Ident_L_or_Tau_el", {"In1"}},
    {"VDC_Detection_Test", {}},
    {"Total_Inertia_Identification_Test",
     {"RefTest", "RIncTest", "In1", "LimitSpeedMax", "Imax_Prot_Test", "test_flag", "delta_time",
      "delta_speed"}},
    {"Analogue_Reference_Test", {}},
    {"Current_Controller_Tuning_Test", {"RefTest", "RIncTest", "In1", "Imax_Prot_Test", "test_flag"}},
    {"Speed_Controller_Tuning_Test",
     {"RefTest", "RIncTest", "IlimPS_Test", "Imax_Prot_Test", "a0", "b5", "MultiC", "test_flag"}},
    {"Position_Controller_Tuning_Test_with_SpdCtrl",
     {"RefTest", "RIncTest", "LimitSpeed_Test", "a0", "b5", "MultiC", "Imax_Prot_Test", "test_flag"}},
    {"Position_Controller_Tuning_Test_without_SpdCtrl",
     {"RefTest", "RIncTest", "IlimPS_Test", "a0", "b5", "MultiC", "Imax_Prot_Test", "test_flag"}},
};

TEST_F(ProgramImageTest, EveryShippedProgramLoadsWithItsUserVariables)
{
    for (const auto& [program, variables] : kPrograms) {
        CMC_CoffFormat image;
        image.m_strFileName = GetOutPathName(program);
        ASSERT_TRUE(image.ReadCoff()) << image.LastError();
        EXPECT_EQ(image.ProgramName(), program);
        EXPECT_TRUE(image.HasUserVariable("STARTED")) << program;
        for (const auto& name : variables)
            EXPECT_TRUE(image.HasUserVariable(name)) << program << " " << name;
    }
    CMC_CoffFormat rl;
    rl.m_strFileName = GetOutPathName("Ident_R_or_Rs");
    rl.ReadCoff();
    EXPECT_EQ(rl.UserVariables().size(), 4u) << "nothing beyond what the tests exchange";
}

TEST_F(ProgramImageTest, DamagedOrForeignImagesAreRefusedNamingFileAndLine)
{
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"{\"format\": \"velmaro-program\",\n \"version\": 1,\n \"program\": ", ":3:"},
        {"{\"format\": \"velmaro-setup\", \"version\": 1, \"program\": \"P\", \"userVariables\": []}",
         "not a program image"},
        {"{\"format\": \"velmaro-program\",\n \"version\": 2, \"program\": \"P\", \"userVariables\": []}",
         ":2: unsupported"},
        {"{\"format\": \"velmaro-program\", \"version\": 1, \"program\": \"Other\", \"userVariables\": []}",
         "not \"P\""},
        {"{\"format\": \"velmaro-program\", \"version\": 1, \"program\": \"P\",\n \"userVariables\": "
         "[\"a\",\n \"a\"]}",
         ":3: the user variable \"a\" is listed twice"},
        {"{\"format\": \"velmaro-program\", \"version\": 1, \"program\": \"P\", \"userVariables\": [1]}",
         "non-empty text"},
        {"{\"format\": \"velmaro-program\", \"version\": 1, \"program\": \"P\"}", "missing"},
        {"[]", "JSON object"},
    };
    for (const auto& c : cases) {
        const CMC_CoffFormat image = Load("P.json", c.text);
        EXPECT_FALSE(image.IsLoaded()) << c.text;
        EXPECT_NE(image.LastError().find("P.json"), std::string::npos) << image.LastError();
        EXPECT_NE(image.LastError().find(c.problem), std::string::npos) << image.LastError();
        EXPECT_TRUE(image.UserVariables().empty());
    }
}

TEST_F(ProgramImageTest, AFailedLoadEmptiesAnImageLoadedBefore)
{
    CMC_CoffFormat image;
    image.m_strFileName = GetOutPathName("Ident_R_or_Rs");
    ASSERT_TRUE(image.ReadCoff());
    image.m_strFileName = (Scratch() / "Missing.json").string();
    EXPECT_FALSE(image.ReadCoff());
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_FALSE(image.HasUserVariable("In1"));
    EXPECT_NE(image.LastError().find("Missing.json"), std::string::npos);
}

TEST_F(ProgramImageTest, ProgramFolderCanBeMovedByTheEnvironment)
{
    const std::string shipped = GetOutPathName("VDC_Detection_Test");
    ::setenv("VELMARO_PROGRAM_DIR", Scratch().c_str(), 1);
    const std::string moved = GetOutPathName("VDC_Detection_Test");
    ::unsetenv("VELMARO_PROGRAM_DIR");
    EXPECT_EQ(moved, (Scratch() / "VDC_Detection_Test.json").string());
    EXPECT_EQ(shipped, DataDirectory() + "/programs/VDC_Detection_Test.json");
}

} // namespace
