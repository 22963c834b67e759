// The commands of the speed and position tuning dialogs against the scripted
// drive: "Tune" and its live writes, "Filters" locked during a run,
// "Identify", the motor inertia question, the multi-cycle watch, the scope
// fed by the drive's frames, the scope's defaults, and the Drive Setup
// buttons that open the dialogs.
#include "TuningDialogTest.h"

#include "DriveSetupDlg.h"
#include "EngineCore.h"
#include "RegisterTuningTests.h"
#include "ScopeFrames.h"
#include "TestPositionTuning.h"
#include "TestSequence.h"
#include "TestSpeedTuning.h"
#include "TuningSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace {

class ProfileTuningCommandsTest : public TuningDialogTest {};

TEST_F(ProfileTuningCommandsTest, TuneShowsTheQuantisedGainsAndSendsThemWhileATestRuns)
{
    Set("PB_S", 200.0);
    Set("MultiCycleS", 1.0);
    drive->Program(CTestSpeedTuning::kMainProgram).User("test_flag", {1.0}).NeverEnds();
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        d.Click(CProfileTuningDlg::kTune);
        // the gain shown is the one the registers hold
        const double held =
            setup->GetParameterValueInInternalUnit("KPS") *
            std::ldexp(1.0, static_cast<int>(setup->GetParameterValueInInternalUnit("SFTKPS"))) / 32767.0;
        EXPECT_NEAR(held / Value("Kp_S_scl"), 1.0, 1e-9);
        EXPECT_EQ(drive->Count(Kind::WriteParameter, "KPS"), 0) << "nothing is sent while idle";
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return dialog.m_nStage >= 4; }));
        d.SetEditText(1379, QStringLiteral("300"));
        d.Click(CProfileTuningDlg::kTune);
        d.Click(10000);
        ASSERT_TRUE(WaitForEnd(d, dialog));
    });
    std::vector<std::string> written = WrittenRegisters();
    const auto first = std::find(written.begin(), written.end(), "SFTKPS");
    ASSERT_TRUE(written.end() - first >= 4);
    EXPECT_EQ(std::vector<std::string>(first, first + 4),
              (std::vector<std::string>{"SFTKPS", "KPS", "SFTKIS", "KIS"}));
}

TEST_F(ProfileTuningCommandsTest, FiltersAreLockedDuringARunAndGoToTheDriveAtOnce)
{
    ASSERT_TRUE(HasBiquadFilters(setup.get()));
    Set("MultiCycleS", 1.0);
    drive->Program(CTestSpeedTuning::kMainProgram).User("test_flag", {1.0}).NeverEnds();
    std::vector<bool> locked;
    user.OnDialog(295, [&](DialogDriver& d) {
        locked.push_back(!d.IsEnabled(3485)); // the first filter's on/off check
        d.Ok();
    });
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(CProfileTuningDlg::kFilters));
        d.Click(CProfileTuningDlg::kFilters);
        EXPECT_EQ(drive->Count(Kind::WriteParameter), 0);
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return dialog.m_nStage >= 4; }));
        d.Click(CProfileTuningDlg::kFilters);
        d.Click(10000);
        ASSERT_TRUE(WaitForEnd(d, dialog));
    });
    EXPECT_EQ(locked, (std::vector<bool>{false, true}));
    EXPECT_GT(drive->Count(Kind::WriteParameter, "IQREF_BQ_INI"), 0)
        << "the filters were sent during the run";
}

TEST_F(ProfileTuningCommandsTest, IdentifyAndTheInertiaRatioKeepTheTotalInertiaConsistent)
{
    Set("isMotorInertiaUnknown", 0.0);
    Set("Jt", 0.5 * Value("Jm"));
    int questions = 0;
    user.OnDialog(3056, [&](DialogDriver& d) {
        ++questions;
        d.Ok(); // raise the total inertia to the motor's
    });
    user.OnDialog(3041, [](DialogDriver& d) { d.Cancel(); });
    CTestPositionTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        EXPECT_EQ(questions, 1);
        EXPECT_GE(Value("Jt"), Value("Jm"));
        EXPECT_NEAR(Value("Jload_over_J"), (Value("Jt") - Value("Jm")) / Value("Jm"), 1e-9);
        d.SetEditText(1385, QStringLiteral("3"));
        EXPECT_NEAR(Value("Jt"), 4.0 * Value("Jm"), 1e-12);
        d.Click(CTestPositionTuning::kIdentify);
        d.Cancel();
    });
    const auto& opened = user.OpenedDialogs();
    EXPECT_NE(std::find(opened.begin(), opened.end(), 3041), opened.end());
}

TEST_F(ProfileTuningCommandsTest, ALowerTotalInertiaMakesTheMotorInertiaUnknown)
{
    Set("isMotorInertiaUnknown", 0.0);
    Set("Jt", 2.0 * Value("Jm"));
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    const double kffa = setup->GetParameterValueInInternalUnit("KFFA");
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        d.SetEditText(3270, QString::number(0.5 * Value("Jm")));
        EXPECT_EQ(Value("isMotorInertiaUnknown"), 1.0);
        EXPECT_FALSE(d.IsEnabled(1385)) << "the ratio means nothing now";
        // the acceleration feed-forward then keeps its registers
        d.SetEditText(1357, QString::number(Value("KFFA_scl") + 0.5));
        d.Cancel();
    });
    ASSERT_FALSE(user.Messages().empty());
    EXPECT_TRUE(
        user.Messages().front().text.startsWith(QStringLiteral("You have chosen a value for the total")));
    EXPECT_EQ(setup->GetParameterValueInInternalUnit("KFFA"), kffa);
}

// Multi-cycle with the data logger: a bad "test_flag" stops the watch, the
// log is still uploaded and the run fails with the test's text.
TEST_F(ProfileTuningCommandsTest, AProtectionInAMultiCycleRunStopsItAfterTheUpload)
{
    Set("MultiCycleS", 1.0);
    Set("OnlinePlotS", 0.0);
    drive->Program(CTestSpeedTuning::kMainProgram)
        .User("test_flag", {1.0, 1.0, 1.0, 0.0})
        .EndsAfter(3)
        .Log(std::vector<std::vector<double>>(30, {1.0, 2.0, 3.0, 4.0}));
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return dialog.m_nStage >= 4; }));
        EXPECT_FALSE(d.IsEnabled(1335)) << "with the data logger the gains wait for the end";
        ASSERT_TRUE(WaitForEnd(d, dialog));
    });
    ExpectNothingRunning(dialog);
    EXPECT_EQ(dialog.m_strError, kProtectionTriggered);
    EXPECT_EQ(dialog.Logger()->GetGraphDocument().PointCount(), 30u);
}

// On-line with the scope: the drive's frames fill the screen; a single
// sweep ends the run as a success.
TEST_F(ProfileTuningCommandsTest, TheScopeTakesTheDrivesFramesUntilItsSweepIsComplete)
{
    using namespace scopetest;
    Set("OnlinePlotS", 1.0);
    Set("MultiCycleS", 0.0);
    drive->Program(CTestSpeedTuning::kMainProgram).User("test_flag", {1.0}).NeverEnds();
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    const double level = Value("TestSpeed") * LoadSpeedScale(setup.get());
    // the reference rises through the trigger level, then holds
    std::vector<std::vector<std::int32_t>> samples;
    for (int i = 0; i < 1200; ++i) {
        const auto speed = static_cast<std::int32_t>(std::min(1.0, i / 100.0) * 1.5 * level);
        samples.push_back({speed, speed, 10, 10});
    }
    for (std::size_t k = 0; k < samples.size(); k += 10)
        drive->QueueFrame(
            Frame(static_cast<std::uint16_t>(k / 10),
                  std::vector<std::vector<std::int32_t>>(samples.begin() + k, samples.begin() + k + 10)));
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(CProfileTuningDlg::kScopeGraph));
        EXPECT_FALSE(d.IsVisible(CProfileTuningDlg::kPause)) << "the scope has no pause";
        ASSERT_TRUE(StartAndWait(d, dialog));
    });
    ExpectNothingRunning(dialog);
    EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
    EXPECT_EQ(dialog.Scope()->GetGraphDocument().PointCount(),
              static_cast<std::size_t>(CMC_ScopeLogger::kScreenPoints));
    EXPECT_FALSE(dialog.Scope()->UploadInProgress());
}

// A sweep that never triggers does not keep the dialog waiting once the
// drive program has ended.
TEST_F(ProfileTuningCommandsTest, AScopeThatNeverTriggersFailsWhenTheProgramEnds)
{
    Set("OnlinePlotS", 1.0);
    Set("MultiCycleS", 0.0);
    drive->Program(CTestSpeedTuning::kMainProgram).User("test_flag", {1.0}).EndsAfter(5);
    drive->QueueFrame(scopetest::Frame(0, std::vector<std::vector<std::int32_t>>(10, {0, 0, 0, 0})));
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) { ASSERT_TRUE(StartAndWait(d, dialog)); });
    ExpectNothingRunning(dialog);
    EXPECT_EQ(dialog.m_nResult, 0);
    EXPECT_TRUE(dialog.m_strError.starts_with("The test ended before the oscilloscope was triggered"))
        << dialog.m_strError;
    EXPECT_FALSE(dialog.Scope()->UploadInProgress());
}

TEST_F(ProfileTuningCommandsTest, TheScopeDefaultsFollowTheProfile)
{
    Set("TestSpeed", -1000.0 / 60.0 * 2.0 * M_PI); // -1000 rpm
    Set("MultiCycleS", 1.0);
    setup->ClearOption("SpeedTuningOscSettings");
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    Open(dialog, [](DialogDriver& d) { d.Cancel(); });
    const CMC_ScopeLogger::Settings settings = dialog.Scope()->GetSettings();
    EXPECT_EQ(settings.triggerVariable, "Speed_Reference");
    EXPECT_EQ(settings.triggerSlope, CMC_ScopeLogger::SlopeFalling);
    EXPECT_EQ(settings.triggerMode, CMC_ScopeLogger::TriggerNormal);
    EXPECT_NEAR(settings.triggerLevel, Value("TestSpeed"), 1e-9);
    const double tap = Value("TaPS");
    const double span = tap + Value("TPS") + Value("TaNS") + std::min(tap, Value("TaNS"));
    EXPECT_NEAR(settings.timeSpan, span, 1e-12);
    ASSERT_GE(settings.channels.size(), 4u);
    // -1000 rpm: a quarter is 250, so 500 a division, the trace four divisions down
    EXPECT_EQ(settings.channels[0].unit, "rpm");
    EXPECT_NEAR(settings.channels[0].division, 500.0, 1e-9);
    EXPECT_NEAR(settings.channels[0].offset, -2000.0, 1e-9);
    EXPECT_NEAR(settings.channels[2].offset, 2.0 * settings.channels[2].division, 1e-12);

    // a position profile backwards: falling through 95 % of the target
    Set("TestPosition", -2.0 * M_PI);
    Set("PositionTestReferenceType", 0.0);
    setup->ClearOption("PositionTuningOscSettings");
    CTestPositionTuning position(setup.get(), 1, nullptr);
    Open(position, [](DialogDriver& d) { d.Cancel(); });
    const CMC_ScopeLogger::Settings p = position.Scope()->GetSettings();
    EXPECT_EQ(p.triggerVariable, "Target_Position");
    EXPECT_EQ(p.triggerSlope, CMC_ScopeLogger::SlopeFalling);
    EXPECT_NEAR(p.triggerLevel, 0.95 * Value("TestPosition"), 1e-9);
}

// The Drive Setup dialog's speed and position "Tune && Test" open the tests
// on a recomputed setup; OK comes back with the test's limits.
TEST_F(ProfileTuningCommandsTest, TheDriveSetupButtonsOpenTheTuningTests)
{
    RegisterTuningTests();
    const double kp = 2.5;
    user.OnDialog(108, [](DialogDriver& d) { d.Cancel(); });
    for (int button : {3178, 3198}) {
        SCOPED_TRACE(button);
        const int templateId =
            button == 3178 ? CTestSpeedTuning::kTemplateId : CTestPositionTuning::kTemplateId;
        const char* gain = button == 3178 ? "Kp_S_scl" : "Kp_P_scl";
        const char* mantissa = button == 3178 ? "KPS" : "KPP";
        const char* shift = button == 3178 ? "SFTKPS" : "SFTKPP";
        user.OnDialog(templateId, [&](DialogDriver& d) {
            const double held =
                setup->GetParameterValueInInternalUnit(mantissa) *
                std::ldexp(1.0, static_cast<int>(setup->GetParameterValueInInternalUnit(shift))) / 32767.0;
            EXPECT_NEAR(held, kp, 1e-3) << "a gain stored behind the editor's back reached its registers";
            d.SetEditText(3281, QStringLiteral("9.7"));
            d.Ok();
        });
        user.OnDialog(106, [&](DialogDriver& d) {
            setup->SetParameterValueInBaseUnit(gain, kp);
            d.Click(button);
            d.Cancel();
        });
        CDriveSetupDlg editor(setup.get(), nullptr);
        editor.DoModal();
        EXPECT_NE(std::find(user.OpenedDialogs().begin(), user.OpenedDialogs().end(), templateId),
                  user.OpenedDialogs().end());
        EXPECT_NEAR(Value("Imax_Prot"), 9.7, 1e-2);
    }
}

} // namespace

namespace {

// The scope's menu over its graph: settings kept, defaults back, and the
// settings saved to a file and loaded again.
TEST_F(ProfileTuningCommandsTest, TheScopeMenuChangesLoadsAndSavesTheSettings)
{
    Set("OnlinePlotP", 1.0);
    setup->ClearOption("PositionTuningOscSettings");
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("position.osc"));
    user.AnswerFilePrompts([&](const FilePromptRequest&) { return file; });
    CTestPositionTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        const CMC_ScopeLogger::Settings defaults = dialog.Scope()->GetSettings();
        ASSERT_TRUE(d.IsVisible(CProfileTuningDlg::kScopeGraph));
        ASSERT_TRUE(d.ChooseMenuCommand(CProfileTuningDlg::kScopeGraph, CProfileTuningDlg::kScopeSave));
        ASSERT_TRUE(QFile::exists(file));
        ASSERT_TRUE(d.StepScopeChannel(CProfileTuningDlg::kScopeGraph, 2, 1));
        EXPECT_TRUE(dialog.SettingsChanged());
        EXPECT_NE(dialog.Scope()->GetSettings(), defaults);
        ASSERT_TRUE(d.ChooseMenuCommand(CProfileTuningDlg::kScopeGraph, CProfileTuningDlg::kScopeDefaults));
        EXPECT_FALSE(dialog.SettingsChanged());
        EXPECT_EQ(dialog.Scope()->GetSettings(), defaults);
        ASSERT_TRUE(d.StepScopeChannel(CProfileTuningDlg::kScopeGraph, 2, 1));
        ASSERT_TRUE(d.ChooseMenuCommand(CProfileTuningDlg::kScopeGraph, CProfileTuningDlg::kScopeLoad));
        EXPECT_EQ(dialog.Scope()->GetSettings(), defaults) << "the file held the defaults";
        EXPECT_TRUE(dialog.SettingsChanged()) << "loaded settings are kept with the setup";
        d.Ok();
    });
    EXPECT_EQ(user.FilePrompts().size(), 2u);
    EXPECT_FALSE(setup->GetOptionNoError("PositionTuningOscSettings").empty());
}

} // namespace

namespace {

// Without a scope the on-line plot needs the drive to repeat the profile:
// one cycle turns it off.
TEST_F(ProfileTuningCommandsTest, WithoutAScopeTheOnlinePlotNeedsMultipleCycles)
{
    setup->SetOption("hasOscilloscope", "0");
    Set("MultiCycleP", 1.0);
    Set("OnlinePlotP", 1.0);
    CTestPositionTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(CProfileTuningDlg::kOnlinePlot));
        EXPECT_EQ(d.Text(CProfileTuningDlg::kOnlinePlot), QStringLiteral("&On-line plot"));
        d.SelectTab(CProfileTuningDlg::kTab, 0);
        d.Click(1332);
        EXPECT_EQ(Value("MultiCycleP"), 0.0);
        EXPECT_EQ(Value("OnlinePlotP"), 0.0);
        d.SelectTab(CProfileTuningDlg::kTab, kTestPage);
        EXPECT_FALSE(d.IsEnabled(CProfileTuningDlg::kOnlinePlot));
        EXPECT_TRUE(d.IsChecked(CProfileTuningDlg::kDataLogger));
        d.Cancel();
    });
}

// The feed-forward gains open only where the drive's loop structure uses them.
TEST_F(ProfileTuningCommandsTest, FeedForwardControlsFollowTheLoopStructure)
{
    ASSERT_TRUE(HasSpeedForward(setup.get()));
    struct Case {
        bool position;
        double controlMode;
        double positionControlType;
        double fastLoop;
        bool open;
    };
    const Case cases[] = {
        {false, 1.0, 1.0, 0.0, true}, {false, 0.0, 1.0, 0.0, false}, {false, 1.0, 1.0, 1.0, false},
        {true, 0.0, 1.0, 0.0, true},  {true, 0.0, 0.0, 0.0, true},   {true, 1.0, 1.0, 0.0, false},
        {true, 0.0, 1.0, 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << " mode " << c.controlMode << " type "
                                        << c.positionControlType << " fast " << c.fastLoop);
        Set("ControlMode", c.controlMode);
        Set("PositionControlType", c.positionControlType);
        Set("PosSpd_in_FastLoop", c.fastLoop);
        std::unique_ptr<CProfileTuningDlg> dialog;
        if (c.position)
            dialog = std::make_unique<CTestPositionTuning>(setup.get(), 1, nullptr);
        else
            dialog = std::make_unique<CTestSpeedTuning>(setup.get(), 1, nullptr);
        OpenOnTestPage(*dialog, [&](DialogDriver& d) {
            EXPECT_EQ(d.IsEnabled(1352), c.open);
            EXPECT_EQ(d.IsEnabled(1357), c.open);
            if (c.position) {
                EXPECT_EQ(d.IsEnabled(1043), c.controlMode == 0.0 && c.positionControlType == 1.0);
            }
            d.Cancel();
        });
    }
}

} // namespace
