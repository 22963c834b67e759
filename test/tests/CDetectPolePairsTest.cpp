#include "IdentificationTestSupport.h"

#include "DetectPolePairs.h"
#include "MotorSetupDialog.h"

#include <QApplication>

#include <limits>

namespace {

constexpr const char* kProgram = CDetectPolePairs::kProgram;
constexpr int kMove = CDetectPolePairs::kMoveButton;

class CDetectPolePairsTest : public PositioningTest {
protected:
    // The program reports `result` pole pairs; each move has finished at once.
    ScriptedDrive::RunScript& ScriptResult(double result, int run = 0)
    {
        return drive->Program(kProgram, run)
            .EndVariable("var_i2", result)
            .User("poles_pairs", {1, 2, 3, 4, 5, 6})
            .Variable("THTST", -16382.5);
    }
    // Start, wait for Move, `moves` presses of Move, then Stop; each step
    // only while the run goes on.
    static void MoveAndStop(DialogDriver& d, const CMC_TestDlg& dialog, int moves)
    {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return dialog.m_bRunning == 0 || d.IsVisible(kMove); }));
        for (int i = 0; i < moves && dialog.m_bRunning; ++i)
            d.Click(kMove);
        if (dialog.m_bRunning) {
            d.Click(10000);
            ASSERT_TRUE(WaitForEnd(d, dialog));
        }
    }
};

TEST_F(CDetectPolePairsTest, MovesAreCountedAndStopWritesTheReportedPolePairs)
{
    // The first move ends at the lower edge of the window, the second at its
    // upper edge (a later read would end it too, one read late).
    ScriptResult(5).Variable("THTST", {-16000.0, -16381.9, -16383.5, -16383.0, -16382.0, -16382.5});
    CDetectPolePairs dialog(setup.get(), 1, nullptr);
    EXPECT_EQ(Open(dialog,
                   [&](DialogDriver& d) {
                       EXPECT_FALSE(d.IsVisible(kMove));
                       d.Click(10000);
                       ASSERT_TRUE(d.WaitUntil([&] { return d.IsVisible(kMove); }));
                       EXPECT_EQ(StatusText(d), QStringLiteral("Waiting for user input"));
                       EXPECT_FALSE(dialog.HasActiveTimers()); // the program waits for the user
                       d.Click(kMove);
                       EXPECT_EQ(drive->Count(Kind::ReadVariable, "THTST"), 4);
                       EXPECT_EQ(d.Text(3126), QStringLiteral("1"));
                       EXPECT_EQ(QApplication::overrideCursor(), nullptr);
                       d.Click(kMove);
                       EXPECT_EQ(drive->Count(Kind::ReadVariable, "THTST"), 5);
                       EXPECT_EQ(d.Text(3126), QStringLiteral("2"));
                       d.Click(10000); // Stop
                       ASSERT_TRUE(WaitForEnd(d, dialog));
                       ExpectOutcome(dialog, kPasses);
                       EXPECT_EQ(d.Text(3126), QStringLiteral("5"));
                       EXPECT_FALSE(d.IsVisible(kMove));
                       EXPECT_EQ(StatusText(d), QStringLiteral("Running test"));
                       EXPECT_EQ(dialog.m_bStoppable, 0);
                       ExpectQuietAfterEnd(d, dialog, CDetectPolePairs::kHelpTopic);
                       d.Cancel(); // the default answer, Yes, keeps the new count
                   }),
              IDOK);
    EXPECT_EQ(Value("pp"), 5.0);
    EXPECT_EQ(Requested(Kind::WriteVariable, "var_i2"), (std::vector<double>{0.0, 0.0, 1.0}));
}

TEST_F(CDetectPolePairsTest, StopBeforeAnyMoveEndsTheRunAsTheHostDoes)
{
    ScriptResult(5);
    CDetectPolePairs dialog(setup.get(), 1, nullptr);
    EXPECT_EQ(Open(dialog,
                   [&](DialogDriver& d) {
                       MoveAndStop(d, dialog, 0);
                       EXPECT_EQ(ResultText(d), QStringLiteral("The test was stopped."));
                       EXPECT_FALSE(d.IsVisible(kMove));
                       ExpectNothingRunning(dialog);
                   }),
              IDCANCEL);
    EXPECT_TRUE(Requested(Kind::WriteVariable, "var_i2").empty());
    EXPECT_EQ(Value("pp"), 4.0);
    EXPECT_TRUE(user.Messages().empty());
}

TEST_F(CDetectPolePairsTest, CloseAsksToKeepANewCountAndFollowsTheAnswer)
{
    struct Case {
        std::vector<double> results; // of the runs before Close
        AnswerCase answer;
        double pp; // afterwards
    };
    const std::vector<Case> cases = {
        {{5}, {IDYES, IDOK, 1}, 5},        {{5}, {IDNO, IDCANCEL, 1}, 4},
        {{5}, {IDCANCEL, IDCANCEL, 2}, 4}, // stays open; the second Close is answered No
        {{5, 6}, {IDNO, IDCANCEL, 1}, 5},  // back to the count before the last run
        {{4}, {IDYES, IDCANCEL, 0}, 4},    // the same count: nothing to ask
        {{5, 0}, {IDYES, IDCANCEL, 0}, 5}, // the last run failed: nothing to ask
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.results.size() << " runs, answer " << c.answer.answer);
        setup->SetParameterValueInBaseUnit("pp", 4);
        ResetDrive();
        for (std::size_t i = 0; i < c.results.size(); ++i)
            ScriptResult(c.results[i], static_cast<int>(i));
        const double old = c.results.size() > 1 ? c.results[0] : 4;
        const QString question =
            Question(QStringLiteral("Pole Pairs:\tOld = %1\tNew = %2\r\n").arg(old).arg(c.results.back()));
        int asked = 0;
        user.AnswerMessages([&](const MessageBoxRequest& request) {
            EXPECT_EQ(request.text, question);
            EXPECT_EQ(request.type, unsigned{MB_YESNOCANCEL | MB_ICONQUESTION});
            return ++asked == 1 ? c.answer.answer : IDNO;
        });
        CDetectPolePairs dialog(setup.get(), 1, nullptr);
        EXPECT_EQ(Open(dialog,
                       [&](DialogDriver& d) {
                           for (std::size_t i = 0; i < c.results.size(); ++i)
                               MoveAndStop(d, dialog, 1);
                           d.Cancel();
                           if (dialog.isVisible())
                               d.Cancel();
                       }),
                  c.answer.result);
        EXPECT_EQ(asked, c.answer.questions);
        EXPECT_EQ(Value("pp"), c.pp);
    }
}

TEST_F(CDetectPolePairsTest, FailuresLeavePolePairsAsTheyWere)
{
    const auto reports = [](double v) {
        return [v](ScriptedDrive& s) { s.Program(kProgram).EndVariable("var_i2", v); };
    };
    const auto fail = [](Kind kind, const char* name, int occurrence) {
        return [=](ScriptedDrive& s) { s.Fail(kind, name, occurrence); };
    };
    const std::vector<Case> cases = {
        {"a result of 0", reports(0.0), kInternal},
        {"a negative result", reports(-3.0), kInternal},
        {"a result below one", reports(0.9), kInternal},
        {"a result that is no number", reports(std::numeric_limits<double>::quiet_NaN()), kInternal},
        {"an infinite result", reports(std::numeric_limits<double>::infinity()), kInternal},
        {"Move not sent", fail(Kind::WriteVariable, "var_i2", 1), kDriveText},
        {"Stop not sent", fail(Kind::WriteVariable, "var_i2", 2), kDriveText},
        {"the move not followed", fail(Kind::ReadVariable, "THTST", 1), kDriveText},
        {"THTST missing", [](ScriptedDrive&) {}, kInternal, "THTST"},
        {"var_i2 missing", [](ScriptedDrive&) {}, kInternal, "var_i2"},
        {"count unreadable", fail(Kind::ReadUser, "poles_pairs", 1), kDriveText},
        // The preliminary test reads STARTED three times and the axis state twice.
        {"STARTED unreadable while the program gets ready", fail(Kind::ReadUser, "STARTED", 4), kDriveText},
        {"axis state unreadable while the program gets ready", fail(Kind::GetAxisOn, "", 3), kDriveText},
        {"ENABLE off before the program is ready",
         [](ScriptedDrive& s) { s.Program(kProgram).NeverStarts().Variable("MER", 0x8000); }, kDisabled},
        {"short circuit at the end", [](ScriptedDrive& s) { s.Program(kProgram).EndVariable("MER", 0x0002); },
         kShortCircuit},
        {"result unreadable", fail(Kind::ReadVariable, "var_i2", 1), kDriveText},
    };
    RunCases(
        Make<CDetectPolePairs>(), cases, [&] { ScriptResult(5); },
        [](DialogDriver& d, CMC_TestDlg& dialog) {
            MoveAndStop(d, dialog, 1);
            EXPECT_FALSE(d.IsVisible(kMove));
        },
        [&](const Case& c, const CMC_Setup& used) {
            EXPECT_EQ(used.GetParameterValueInBaseUnit("pp"), 4.0);
            // A failed STARTED read while the program gets ready also resets the drive.
            EXPECT_EQ(drive->Count(Kind::Reset), std::string(c.name).starts_with("STARTED") ? 1 : 0);
        });
    EXPECT_TRUE(user.Messages().empty());
}

TEST_F(CDetectPolePairsTest, ClosingWhileTheMotorMovesStopsEverything)
{
    ScriptResult(5).Variable("THTST", 0.0); // the move never finishes
    CDetectPolePairs dialog(setup.get(), 1, nullptr);
    Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return d.IsVisible(kMove); }));
        PressWhen close(d, 2, [&] { return drive->Count(Kind::ReadVariable, "THTST") >= 3; });
        d.Click(kMove);
    });
    ExpectNothingRunning(dialog);
    EXPECT_EQ(drive->Count(Kind::ReadVariable, "THTST"), 3);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Value("pp"), 4.0);
}

TEST_F(CDetectPolePairsTest, MotorSetupOpensTheTestAndShowsTheKeptCount)
{
    RegisterModuleTests();
    ScriptResult(7);
    user.OnDialog(CDetectPolePairs::kTemplateId, [](DialogDriver& d) {
        MoveAndStop(d, *static_cast<CMC_TestDlg*>(d.Dialog()), 2);
        d.Cancel(); // Yes: keep 7
    });
    user.OnDialog(CMotorSetupDialog::kTemplateId, [](DialogDriver& d) {
        EXPECT_EQ(d.Text(1165), QStringLiteral("4"));
        d.Click(1176);
        EXPECT_EQ(d.Text(1165), QStringLiteral("7"));
        d.Ok();
    });
    CMotorSetupDialog motor(setup.get(), nullptr);
    EXPECT_EQ(motor.DoModal(), IDOK);
    EXPECT_EQ(Value("pp"), 7.0);
}

} // namespace
