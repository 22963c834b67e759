// The current controller tuning dialog against the scripted drive: its
// stages and failures, the upload onto the graph (and a Stop in the middle
// of it), the live gain writes, "Tune", the page switch and OK.
#include "TuningDialogTest.h"

#include "DriveSetupDlg.h"
#include "EngineCore.h"
#include "RegisterTuningTests.h"
#include "TestCurrent.h"
#include "TestSequence.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

constexpr const char* kProgram = "Current_Controller_Tuning_Test";
constexpr const char* kProtection = "Test failed!\nCurrent protection triggered during test!";

// A logged step: current reference, motor current, voltage reference.
std::vector<std::vector<double>> StepLog(int rows)
{
    std::vector<std::vector<double>> log;
    for (int i = 0; i < rows; ++i)
        log.push_back(
            {i < 5 ? 0.0 : 100.0, i < 5 ? 0.0 : 100.0 - 100.0 * std::exp(-(i - 5) / 3.0), 10.0 * i});
    return log;
}

class CTestCurrentTest : public TuningDialogTest {
protected:
    ScriptedDrive::RunScript& ScriptMain(double flag = 1.0, int rows = 40)
    {
        return drive->Program(kProgram).Result("test_flag", flag).Log(StepLog(rows));
    }
};

TEST_F(CTestCurrentTest, AStepIsLoggedAtTheCurrentLoopRateAndUploadedOntoTheGraph)
{
    ScriptMain();
    setup->SetParameterValueInBaseUnit("Imax_Prot", 9.0);
    CTestCurrent dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        ASSERT_TRUE(StartAndWait(d, dialog));
        EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
        EXPECT_EQ(StatusText(d), QStringLiteral("Uploading results"));
        const CGraphDocument& document = dialog.Logger()->GetGraphDocument();
        ASSERT_EQ(document.PointCount(), 40u);
        EXPECT_DOUBLE_EQ(document.Point(1)[0], setup->GetParameterValueInBaseUnit("Ts_C"));
        EXPECT_EQ(dialog.Graph().DrawnPoints(0), 40);
        ExpectQuietAfterEnd(d, dialog, CTestCurrent::kHelpTopic);
    });
    ExpectNothingRunning(dialog);
    // The program's inputs: the test current and the drive's protection, as 16-bit integers.
    EXPECT_EQ(Requested(Kind::WriteUser, "In1").back(),
              std::trunc(setup->GetParameterValueInInternalUnit("TestCurrent")));
    EXPECT_EQ(Requested(Kind::WriteUser, "Imax_Prot_Test").back(),
              std::trunc(setup->GetParameterValueInInternalUnit("Imax_Prot")));
    EXPECT_EQ(Requested(Kind::WriteUser, "RefTest").back(), kRefTest);
}

TEST_F(CTestCurrentTest, EachFailureEndsTheRunWithItsText)
{
    const std::vector<FailureCase> cases = {
        {"protection triggered", [&] { ScriptMain(0.0); }, kProtection},
        {"no result", [&] { ScriptMain(kNoResult); }, kInternal},
        {"short circuit while running", [&] { ScriptMain().EndVariable("MER", 0x0002); },
         "Drive / Motor shortcircuit protection triggered."},
        {"main program does not start",
         [&] {
             ScriptMain();
             drive->Fail(Kind::StartProgram, kProgram);
         },
         kInternal},
        {"log cannot be read",
         [&] {
             ScriptMain();
             drive->Fail(Kind::UploadLog);
         },
         kInternal},
        {"test flag cannot be read",
         [&] {
             ScriptMain();
             drive->Fail(Kind::ReadUser, "test_flag");
         },
         ""},
    };
    ExpectFailuresOnTestPage<CTestCurrent>(cases);
}

TEST_F(CTestCurrentTest, StopDuringTheUploadKeepsThePointsReadSoFar)
{
    ScriptMain(1.0, 400);
    CTestCurrent dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        const auto& document = dialog.Logger()->GetGraphDocument();
        PressWhen stop(d, 10000, [&] { return document.PointCount() >= 25; });
        d.Click(10000);
        ASSERT_TRUE(WaitForEnd(d, dialog));
        EXPECT_EQ(dialog.m_nResult, -1);
        EXPECT_GE(document.PointCount(), 25u);
        EXPECT_LT(document.PointCount(), 400u);
        EXPECT_EQ(dialog.Graph().DrawnPoints(0), static_cast<int>(document.PointCount()));
    });
    ExpectNothingRunning(dialog);
}

TEST_F(CTestCurrentTest, ClosingMidRunOrMidUploadLeavesNothingRunning)
{
    for (int rows : {0, 400}) {
        SCOPED_TRACE(rows);
        ResetDrive();
        if (rows == 0)
            drive->Program(kProgram).NeverEnds();
        else
            ScriptMain(1.0, rows);
        CTestCurrent dialog(setup.get(), 1, nullptr);
        OpenOnTestPage(dialog, [&](DialogDriver& d) {
            d.Click(10000);
            const auto& document = dialog.Logger()->GetGraphDocument();
            ASSERT_TRUE(
                d.WaitUntil([&] { return rows == 0 ? dialog.m_nStage == 4 : document.PointCount() > 10; }));
            d.Cancel();
        });
        ExpectNothingRunning(dialog);
        EXPECT_EQ(drive->Count(Kind::StopProgram), 1);
    }
}

TEST_F(CTestCurrentTest, GainsEditedWhileATestRunsGoToTheDriveInOrderUpToAFailedWrite)
{
    struct Case {
        const char* name;
        std::function<void(DialogDriver&)> edit;
        const char* failing; // register whose write fails, or null
        std::vector<std::string> written;
    };
    const std::vector<Case> cases = {
        {"Kp typed",
         [](DialogDriver& d) { d.SetEditText(1335, QStringLiteral("4")); },
         nullptr,
         {"SFTKPI", "KPI"}},
        {"Ki typed",
         [](DialogDriver& d) { d.SetEditText(1340, QStringLiteral("0.5")); },
         nullptr,
         {"SFTKII", "KII"}},
        {"Kp shift refused",
         [](DialogDriver& d) { d.SetEditText(1335, QStringLiteral("4.5")); },
         "SFTKPI",
         {"SFTKPI"}},
        {"Tune",
         [](DialogDriver& d) { d.Click(CTestCurrent::kTune); },
         nullptr,
         {"SFTKPI", "KPI", "SFTKII", "KII"}},
        {"Tune, KPI refused",
         [](DialogDriver& d) { d.Click(CTestCurrent::kTune); },
         "KPI",
         {"SFTKPI", "KPI"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDrive();
        drive->Program(kProgram).NeverEnds();
        if (c.failing)
            drive->Fail(Kind::WriteParameter, c.failing);
        CTestCurrent dialog(setup.get(), 1, nullptr);
        OpenOnTestPage(dialog, [&](DialogDriver& d) {
            d.Click(10000);
            ASSERT_TRUE(d.WaitUntil([&] { return dialog.m_nStage == 4; }));
            EXPECT_FALSE(d.IsEnabled(1)) << "OK while a test runs";
            c.edit(d);
            EXPECT_EQ(WrittenRegisters(), c.written);
            d.Click(10000); // Stop
        });
        ExpectNothingRunning(dialog);
    }
}

TEST_F(CTestCurrentTest, TuneShowsTheGainsTheRegistersHoldAndWritesNothingWhileIdle)
{
    CTestCurrent dialog(setup.get(), 1, nullptr);
    setup->SetParameterValueInBaseUnit("PB_C", 4000.0);
    OpenOnTestPage(dialog, [&](DialogDriver& d) { d.Click(CTestCurrent::kTune); });
    for (const auto& [gain, mantissa, shift] :
         {std::tuple{"Kp_C_scl", "KPI", "SFTKPI"}, std::tuple{"Ki_C_scl", "KII", "SFTKII"}}) {
        const double held = setup->GetParameterValueInInternalUnit(mantissa) *
                            std::ldexp(1.0, static_cast<int>(setup->GetParameterValueInInternalUnit(shift))) /
                            32767.0;
        EXPECT_NEAR(setup->GetParameterValueInBaseUnit(gain), held, 1e-12 * held) << gain;
    }
    EXPECT_TRUE(WrittenRegisters().empty());
}

TEST_F(CTestCurrentTest, ADesignBeyondTheRegistersHoldsTheirLimitAndSaysSo)
{
    for (const double damping : {0.707, 0.01}) { // the low damping makes the proportional gain negative
        setup->SetParameterValueInBaseUnit("Dump_C", damping);
        CTestCurrent dialog(setup.get(), 1, nullptr);
        const auto messages = user.Messages().size();
        OpenOnTestPage(dialog, [&](DialogDriver& d) { d.Click(CTestCurrent::kTune); });
        if (damping > 0.1) {
            EXPECT_EQ(user.Messages().size(), messages);
            continue;
        }
        ASSERT_EQ(user.Messages().size(), messages + 1);
        EXPECT_TRUE(
            user.Messages().back().text.startsWith(QStringLiteral("At the limit of its register: KPI")))
            << user.Messages().back().text.toStdString();
        EXPECT_EQ(setup->GetParameterValueInInternalUnit("KPI"), 0.0);
    }
}

TEST_F(CTestCurrentTest, TheTestPageNeedsAProtectionAtLeastTheTestCurrent)
{
    const double test = setup->GetParameterValueInBaseUnit("TestCurrent");
    for (double protection : {test, test * 0.99}) {
        setup->SetParameterValueInBaseUnit("TestProtectionCurrent", protection);
        CTestCurrent dialog(setup.get(), 1, nullptr);
        const auto messages = user.Messages().size();
        Open(dialog, [&](DialogDriver& d) {
            d.SelectTab(CTestCurrent::kTab, kTestPage);
            const bool passes = protection >= test;
            EXPECT_EQ(d.CurrentTab(CTestCurrent::kTab), passes ? 1 : 0);
            EXPECT_EQ(d.IsVisible(CTestCurrent::kGraph), passes);
            EXPECT_EQ(d.IsVisible(1120), !passes);
        });
        ASSERT_EQ(user.Messages().size(), messages + (protection >= test ? 0 : 1));
        if (protection < test) {
            EXPECT_EQ(user.Messages().back().text,
                      QStringLiteral("Over current protection must be greater or equal to Test current."));
        }
    }
}

TEST_F(CTestCurrentTest, TheFirstPageSnapsBackWhileATestRuns)
{
    drive->Program(kProgram).NeverEnds();
    CTestCurrent dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        d.SelectTab(CTestCurrent::kTab, 0);
        EXPECT_EQ(d.CurrentTab(CTestCurrent::kTab), kTestPage);
        d.Click(10000);
    });
    ExpectNothingRunning(dialog);
}

TEST_F(CTestCurrentTest, OkKeepsTheTestProtectionAsTheDrivesAndCloseDoesNot)
{
    for (int button : {1, 2}) {
        setup->SetParameterValueInBaseUnit("Imax_Prot", 5.0);
        setup->SetParameterValueInBaseUnit("TestProtectionCurrent", 7.0);
        CTestCurrent dialog(setup.get(), 1, nullptr);
        const int result = Open(dialog, [&](DialogDriver& d) { d.Click(button); });
        EXPECT_EQ(result, button == 1 ? IDOK : IDCANCEL);
        EXPECT_NEAR(setup->GetParameterValueInBaseUnit("Imax_Prot"), button == 1 ? 7.0 : 5.0, 1e-3);
    }
}

TEST_F(CTestCurrentTest, FilterAndGravityControlsFollowTheirSwitches)
{
    CTestCurrent dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        const bool gravity = d.IsEnabled(CTestCurrent::kCompensateGravity);
        EXPECT_EQ(gravity, HasGravityCompensation(setup.get()));
        const bool filtered = d.IsChecked(CTestCurrent::kUseFilter);
        EXPECT_EQ(d.IsVisible(3140), filtered);
        d.Click(CTestCurrent::kUseFilter);
        EXPECT_EQ(d.IsVisible(3140), !filtered);
        d.SelectTab(CTestCurrent::kTab, 0);
        EXPECT_FALSE(d.IsVisible(3140)) << "the filter belongs to the Test page";
    });
}

} // namespace

namespace {

// The Drive Setup dialog's current "Tune && Test" opens the tuning test on a
// recomputed setup, and an OK there comes back recomputed.
TEST_F(CTestCurrentTest, TheDriveSetupsCurrentButtonOpensTheTestOnARecomputedSetup)
{
    RegisterTuningTests();
    const double kp = 3.0;
    user.OnDialog(108, [](DialogDriver& d) { d.Cancel(); });
    user.OnDialog(CTestCurrent::kTemplateId, [&](DialogDriver& d) {
        // A gain stored behind the editor's back reached its registers first.
        const double held =
            setup->GetParameterValueInInternalUnit("KPI") *
            std::ldexp(1.0, static_cast<int>(setup->GetParameterValueInInternalUnit("SFTKPI"))) / 32767.0;
        EXPECT_NEAR(held, kp, 1e-3);
        d.SetEditText(1303, QStringLiteral("7"));
        d.Ok();
    });
    user.OnDialog(106, [&](DialogDriver& d) {
        setup->SetParameterValueInBaseUnit("Kp_C_scl", kp);
        d.Click(3137);
        d.Cancel();
    });
    CDriveSetupDlg editor(setup.get(), nullptr);
    editor.DoModal();
    ASSERT_NE(std::find(user.OpenedDialogs().begin(), user.OpenedDialogs().end(), CTestCurrent::kTemplateId),
              user.OpenedDialogs().end());
    EXPECT_NEAR(setup->GetParameterValueInBaseUnit("Imax_Prot"), 7.0, 1e-3);
}

} // namespace
