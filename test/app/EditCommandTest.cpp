// The editor through the command line: velmaro edit runs the module's
// EditSetup and saves only after OK.
#include "Automation.h"
#include "Commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class EditCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        dir = fs::temp_directory_path() / ("velmaro-edit-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        file = dir / "setup.json";
        fs::copy_file(ReferenceSetupPath(), file, fs::copy_options::overwrite_existing);
    }
    void TearDown() override { fs::remove_all(dir); }

    int Edit(std::ostringstream& out, std::ostringstream& err)
    {
        return RunCommandLine({"edit", file.string()}, out, err);
    }

    fs::path dir;
    fs::path file;
};

TEST_F(EditCommand, SavesAfterOkOnly)
{
    const std::string before = ReadFile(file);
    {
        ScriptedUser user;
        user.OnDialog(108, [](DialogDriver& d) { d.Cancel(); });
        user.OnDialog(106, [](DialogDriver& d) {
            d.SetEditText(3163, "36"); // power supply
            d.Cancel();
        });
        std::ostringstream out, err;
        EXPECT_EQ(Edit(out, err), 0) << err.str();
        EXPECT_NE(out.str().find("was not changed"), std::string::npos) << out.str();
        EXPECT_EQ(ReadFile(file), before);
        // The motor setup opened first, on its own.
        ASSERT_GE(user.OpenedDialogs().size(), 2u);
        EXPECT_EQ(user.OpenedDialogs()[1], 108);
    }
    {
        ScriptedUser user;
        user.OnDialog(108, [](DialogDriver& d) { d.Ok(); });
        user.OnDialog(106, [](DialogDriver& d) {
            d.SetEditText(3163, "36");
            d.Ok();
        });
        std::ostringstream out, err;
        EXPECT_EQ(Edit(out, err), 0) << err.str();
        EXPECT_NE(out.str().find("Saved"), std::string::npos) << out.str();
    }
    std::ostringstream out, err;
    RunCommandLine({"get", "Vdc", "--setup", file.string()}, out, err);
    EXPECT_EQ(out.str(), "36 V\n");
}

TEST_F(EditCommand, RefusesToChangeTheReferenceSetup)
{
    std::ostringstream out, err;
    EXPECT_NE(RunCommandLine({"edit"}, out, err), 0);
    EXPECT_NE(err.str().find("reference setup is not changed"), std::string::npos);
}

} // namespace
