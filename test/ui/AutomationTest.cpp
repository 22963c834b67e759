#include "UiTestDialog.h"

#include "Automation.h"
#include "TestSetup.h"

namespace {

class ScriptedUserTest : public ModelTest {};

struct Outer : UiTestDialog {
    using UiTestDialog::UiTestDialog;
};

TEST_F(ScriptedUserTest, AnswersMessageBoxesAndRecordsThem)
{
    ScriptedUser user;
    EXPECT_EQ(ShowMessageBox("Proceed?", MB_YESNO), IDYES);
    EXPECT_EQ(ShowMessageBox("Done.", MB_OK), IDOK);
    user.AnswerMessages([](const MessageBoxRequest& r) { return r.text.contains("Save") ? IDNO : IDCANCEL; });
    EXPECT_EQ(ShowMessageBox("Save the values?", MB_YESNOCANCEL), IDNO);
    ASSERT_EQ(user.Messages().size(), 3u);
    EXPECT_EQ(user.Messages()[2].type, static_cast<unsigned>(MB_YESNOCANCEL));
}

TEST_F(ScriptedUserTest, RecordsHelpTopicsInsteadOfOpeningAWindow)
{
    ScriptedUser user;
    OpenHelpTopic(setup.get(), 262407);
    ASSERT_EQ(user.HelpTopics().size(), 1u);
    EXPECT_EQ(user.HelpTopics()[0], 262407u);
}

TEST_F(ScriptedUserTest, ScriptsFindDialogsByClassAndNestedDialogsRunInside)
{
    ScriptedUser user;
    int nestedRuns = 0;
    user.OnDialog("(anonymous namespace)::Outer", [&](DialogDriver& d) {
        // A second dialog opened from this one runs its own script first.
        UiTestDialog inner(setup.get());
        EXPECT_EQ(inner.DoModal(), IDOK);
        EXPECT_EQ(nestedRuns, 1);
        d.Ok();
    });
    user.OnDialog(9001, [&](DialogDriver& d) {
        ++nestedRuns;
        d.Ok();
    });
    Outer outer(setup.get());
    EXPECT_EQ(outer.DoModal(), IDOK);
    EXPECT_EQ(user.OpenedDialogs(), (std::vector<int>{9001, 9001}));
}

TEST_F(ScriptedUserTest, AnUnscriptedDialogIsCancelledNotLeftWaiting)
{
    ScriptedUser user;
    UiTestDialog dialog(setup.get());
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST_F(ScriptedUserTest, EnableAndShowListsEndWithZero)
{
    ScriptedUser user;
    user.OnDialog(9001, [](DialogDriver& d) {
        const int ids[] = {1159, 1160, 0, 1183};
        d.Dialog()->EnableChildren(ids, false);
        EXPECT_FALSE(d.IsEnabled(1159));
        EXPECT_FALSE(d.IsEnabled(1160));
        EXPECT_TRUE(d.IsEnabled(1183));
        d.Dialog()->ShowChildren(ids, false);
        EXPECT_FALSE(d.IsVisible(1160));
        d.Dialog()->SetChildText(3386, "Motor brake");
        EXPECT_EQ(d.Text(3386), "Motor brake");
        d.Ok();
    });
    UiTestDialog dialog(setup.get());
    dialog.DoModal();
}

} // namespace
