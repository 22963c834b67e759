// The editor through the command line: velmaro edit runs the module's
// EditSetup and saves only after OK.
#include "Automation.h"
#include "CommandLineSupport.h"

namespace {

class EditCommand : public ReferenceSetupCopy {
protected:
    EditCommand() : ReferenceSetupCopy("edit") {}

    int Edit(std::ostringstream& out, std::ostringstream& err)
    {
        return RunCommandLine({"edit", copy}, out, err);
    }
};

TEST_F(EditCommand, SavesAfterOkOnly)
{
    const std::string before = ReadFile(copy);
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
        EXPECT_EQ(ReadFile(copy), before);
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
    RunCommandLine({"get", "Vdc", "--setup", copy}, out, err);
    EXPECT_EQ(out.str(), "36 V\n");
}

TEST_F(EditCommand, RefusesToChangeTheReferenceSetup)
{
    std::ostringstream out, err;
    EXPECT_NE(RunCommandLine({"edit"}, out, err), 0);
    EXPECT_NE(err.str().find("reference setup is not changed"), std::string::npos);
}

} // namespace
