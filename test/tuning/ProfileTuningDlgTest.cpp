// The speed and position tuning dialogs against the scripted drive: the
// program inputs and the segment table a run writes, its failures, the
// start without the preliminary test, the page check, the upload (and a
// Stop in the middle of it), the plain on-line plot with live gain writes,
// the scope settings each test keeps, and OK.
#include "TuningDialogTest.h"

#include "Dialog.h"
#include "EngineCore.h"
#include "ProfileTable.h"
#include "TestCurrent.h"
#include "TestPositionTuning.h"
#include "TestSequence.h"
#include "TestSpeedTuning.h"
#include "TuningSupport.h"

#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>

namespace {

constexpr const char* kSlopeOverflow =
    "Reference variation between two consecutive points is too big (slope overflow).";
constexpr const char* kBadDistance =
    "Distances between consecutive points on X axis must be greater than 0 and below 32768.";

// A logged speed or position response: reference, load value, two currents.
std::vector<std::vector<double>> ProfileLog(int rows)
{
    std::vector<std::vector<double>> log;
    for (int i = 0; i < rows; ++i)
        log.push_back({i < 10 ? 10.0 * i : 100.0, i < 12 ? 8.0 * i : 100.0, 50.0, 48.0});
    return log;
}

class ProfileTuningDlgTest : public TuningDialogTest {
protected:
    ScriptedDrive::RunScript& ScriptMain(const char* program, double flag = 1.0, int rows = 60)
    {
        return drive->Program(program).Result("test_flag", flag).Log(ProfileLog(rows));
    }

    // The segment table the drive was given: counts and increments.
    ProfileSegments WrittenTable(const std::string& program) const
    {
        ProfileSegments table{};
        for (int i = 0; i < 6; ++i) {
            table[static_cast<std::size_t>(i)].count =
                static_cast<std::int64_t>(drive->Written(program, "a" + std::to_string(i)));
            table[static_cast<std::size_t>(i)].increment =
                drive->Written(program, "b" + std::to_string(i)) * 65536.0;
        }
        return table;
    }
};

TEST_F(ProfileTuningDlgTest, ASpeedRunWritesItsProfileAndUploadsTheLogOntoTheGraph)
{
    const char* program = CTestSpeedTuning::kMainProgram;
    ScriptMain(program);
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        EXPECT_TRUE(d.IsVisible(CProfileTuningDlg::kGraph));
        EXPECT_FALSE(d.IsVisible(CProfileTuningDlg::kScopeGraph));
        ASSERT_TRUE(StartAndWait(d, dialog));
        EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
        EXPECT_EQ(StatusText(d), QStringLiteral("Uploading results"));
        ASSERT_EQ(dialog.Logger()->GetGraphDocument().PointCount(), 60u);
        EXPECT_EQ(dialog.Graph().DrawnPoints(0), 60);
        ExpectQuietAfterEnd(d, dialog, CTestSpeedTuning::kHelpTopic);
    });
    ExpectNothingRunning(dialog);

    // the inputs: the restart point, the limits, the table, one cycle
    EXPECT_EQ(drive->Written(program, "RefTest"), kRefTest);
    EXPECT_EQ(drive->Written(program, "RIncTest"), kRIncTest);
    EXPECT_EQ(drive->Written(program, "IlimPS_Test"),
              std::trunc(setup->GetParameterValueInInternalUnit("TestLimitCurrent")));
    EXPECT_EQ(drive->Written(program, "Imax_Prot_Test"),
              std::trunc(setup->GetParameterValueInInternalUnit("TestProtectionCurrent")));
    EXPECT_EQ(drive->Written(program, "MultiC"), 0.0);
    const auto finalValue =
        static_cast<std::int64_t>(std::llround(Value("TestSpeed") * LoadSpeedScale(setup.get())));
    const ProfileTable expected =
        ComputeProfileTable(finalValue, {Value("TPS"), Value("TNS"), Value("TaPS"), Value("TaNS")},
                            SpeedLoopPeriod(setup.get()), ReferenceType::Positive, RampCut::Speed);
    const ProfileSegments written = WrittenTable(program);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(written[i].count, expected.segments[i].count) << i;
        EXPECT_EQ(written[i].increment, expected.segments[i].increment) << i;
    }
    // the preliminary test ran at the start current, a share of the nominal current
    const double nominal = std::min(Value("In"), Value("InPS"));
    EXPECT_EQ(Requested(Kind::WriteUser, "In1").front(),
              std::trunc(Value("TestStartCurrent") / 100.0 * nominal * CurrentScale(setup.get())));
}

TEST_F(ProfileTuningDlgTest, EachFailureEndsTheRunWithItsTextAndTheDataAreStillShown)
{
    const char* program = CTestSpeedTuning::kMainProgram;
    const std::vector<FailureCase> cases = {
        {"protection triggered", [&] { ScriptMain(program, 0.0); }, kProtectionTriggered,
         [](DialogDriver&) {}},
        {"no result", [&] { ScriptMain(program, kNoResult); }, kInternal},
        {"short circuit while running", [&] { ScriptMain(program).EndVariable("MER", 0x0002); },
         "Drive / Motor shortcircuit protection triggered."},
        {"main program does not start",
         [&] {
             ScriptMain(program);
             drive->Fail(Kind::StartProgram, program);
         },
         kInternal},
        {"log cannot be read",
         [&] {
             ScriptMain(program);
             drive->Fail(Kind::UploadLog);
         },
         kInternal},
        {"segment input refused",
         [&] {
             ScriptMain(program);
             drive->Fail(Kind::WriteUser, "b3");
         },
         ""},
    };
    ExpectFailuresOnTestPage<CTestSpeedTuning>(cases);
    // a bad result found before the upload still shows the data
    ResetDrive();
    ScriptMain(program, 0.0, 25);
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) { ASSERT_TRUE(StartAndWait(d, dialog)); });
    EXPECT_EQ(dialog.m_strError, kProtectionTriggered);
    EXPECT_EQ(dialog.Logger()->GetGraphDocument().PointCount(), 25u);
}

TEST_F(ProfileTuningDlgTest, ProfilesTheDriveCannotFollowAreRefusedBeforeTheStart)
{
    struct Case {
        const char* name;
        bool position;
        const char* time;
        double seconds;
        const char* error;
    };
    const double period = SpeedLoopPeriod(setup.get());
    const std::vector<Case> cases = {
        {"speed ramp of no period", false, "TaPS", 0.2 * period, kSlopeOverflow},
        {"position ramp of no period", true, "TaPP", 0.2 * period, kBadDistance},
        {"speed hold of 32768 periods", false, "TPS", 32768 * period, kBadDistance},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDrive();
        const double kept = Value(c.time);
        Set(c.time, c.seconds);
        std::unique_ptr<CProfileTuningDlg> dialog;
        if (c.position)
            dialog = std::make_unique<CTestPositionTuning>(setup.get(), 1, nullptr);
        else
            dialog = std::make_unique<CTestSpeedTuning>(setup.get(), 1, nullptr);
        OpenOnTestPage(*dialog, [&](DialogDriver& d) { ASSERT_TRUE(StartAndWait(d, *dialog)); });
        Set(c.time, kept);
        EXPECT_EQ(dialog->m_strError, c.error);
        ExpectNothingRunning(*dialog);
        const std::string program =
            c.position ? CTestPositionTuning::kProgramWithSpeedLoop : CTestSpeedTuning::kMainProgram;
        EXPECT_EQ(drive->Starts(program), 0);
    }
    // a one-period speed ramp is a step, then a sample of nothing
    ResetDrive();
    ScriptMain(CTestSpeedTuning::kMainProgram);
    const double kept = Value("TaPS");
    Set("TaPS", period);
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) { ASSERT_TRUE(StartAndWait(d, dialog)); });
    Set("TaPS", kept);
    const ProfileSegments written = WrittenTable(CTestSpeedTuning::kMainProgram);
    EXPECT_EQ(written[0].count, 1);
    EXPECT_EQ(written[1].count, 1);
    EXPECT_EQ(written[1].increment, 0.0);
}

TEST_F(ProfileTuningDlgTest, StartModeSkipsThePreliminaryTestAndStartsFromTheSetupsRestartPoint)
{
    Set("StartMode", 1.0);
    const char* program = CTestSpeedTuning::kMainProgram;
    ScriptMain(program);
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) { ASSERT_TRUE(StartAndWait(d, dialog)); });
    EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
    EXPECT_EQ(drive->Starts("Initial_Positioning_Test"), 0);
    EXPECT_EQ(drive->Written(program, "RefTest"),
              RoundedProgramInput(setup->GetParameterValueInInternalUnit("REFTST")));
    EXPECT_EQ(drive->Written(program, "RIncTest"),
              RoundedProgramInput(setup->GetParameterValueInInternalUnit("RINCTST")));
}

TEST_F(ProfileTuningDlgTest, TheTestPageOpensOnlyWithTheLimitBelowTheProtection)
{
    Set("TestLimitCurrent", 9.0);
    Set("TestProtectionCurrent", 8.0);
    CTestPositionTuning dialog(setup.get(), 1, nullptr);
    Open(dialog, [&](DialogDriver& d) {
        d.SelectTab(CProfileTuningDlg::kTab, kTestPage);
        EXPECT_EQ(d.CurrentTab(CProfileTuningDlg::kTab), 0);
        EXPECT_EQ(dialog.Page(), 0);
        EXPECT_TRUE(d.IsVisible(1501));
        d.Cancel();
    });
    ASSERT_FALSE(user.Messages().empty());
    EXPECT_EQ(user.Messages().back().text.toStdString(),
              "Over current protection must be greater than Drive current limit. Recommended value for Drive "
              "current limit is maximum 90% of Over current protection.");
}

TEST_F(ProfileTuningDlgTest, AStopDuringTheUploadKeepsThePointsReadSoFar)
{
    ScriptMain(CTestSpeedTuning::kMainProgram, 1.0, 2000);
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        PressWhen stop(d, 10000, [&] { return dialog.Logger()->GetGraphDocument().PointCount() >= 100; });
        ASSERT_TRUE(StartAndWait(d, dialog));
    });
    ExpectNothingRunning(dialog);
    const std::size_t read = dialog.Logger()->GetGraphDocument().PointCount();
    EXPECT_GE(read, 100u);
    EXPECT_LT(read, 2000u);
}

// Without a scope the two variables are read in a loop; gains typed while
// it runs go to the drive at once, Pause holds the plot, and Stop ends the
// run as a success.
TEST_F(ProfileTuningDlgTest, ThePlainOnlinePlotRunsUntilStopAndTakesGainsLive)
{
    setup->SetOption("hasOscilloscope", "0");
    Set("MultiCycleS", 1.0);
    Set("OnlinePlotS", 1.0);
    drive->Program(CTestSpeedTuning::kMainProgram).User("test_flag", {1.0}).NeverEnds();
    drive->Variable("Speed_Reference", std::vector<double>{10.0, 20.0, 30.0});
    drive->Variable("Load_Speed", std::vector<double>{8.0, 18.0, 28.0});
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    OpenOnTestPage(dialog, [&](DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(CProfileTuningDlg::kPause));
        // The plot reads the drive in its own loop until Stop: the user acts
        // from the event loop, once five points are drawn.
        std::size_t paused = 0;
        EveryTurn watcher([&] {
            if (dialog.PlainPlot().Points(0).size() < 5)
                return false;
            EXPECT_TRUE(d.IsVisible(CProfileTuningDlg::kScopeGraph));
            EXPECT_TRUE(d.IsVisible(1363));
            EXPECT_TRUE(d.IsEnabled(CProfileTuningDlg::kPause));
            EXPECT_TRUE(d.Text(1363).endsWith(QStringLiteral(" rpm"))) << d.Text(1363).toStdString();
            EXPECT_TRUE(d.IsEnabled(1335)) << "the gains stay open in on-line mode";
            d.SetEditText(1335, QString::number(Value("Kp_S_scl") * 1.2));
            EXPECT_GT(drive->Count(Kind::WriteParameter, "KPS"), 0);
            d.Click(CProfileTuningDlg::kPause);
            paused = dialog.PlainPlot().Points(0).size();
            EXPECT_TRUE(d.IsEnabled(CProfileTuningDlg::kContinue));
            d.Click(10000);
            return true;
        });
        d.Click(10000);
        ASSERT_TRUE(WaitForEnd(d, dialog));
        EXPECT_GE(paused, 5u);
        EXPECT_EQ(dialog.PlainPlot().Points(0).size(), paused);
        EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
    });
    ExpectNothingRunning(dialog);
    const std::vector<std::string> written = WrittenRegisters();
    const auto shift = std::find(written.begin(), written.end(), "SFTKPS");
    ASSERT_NE(shift, written.end());
    ASSERT_NE(shift + 1, written.end());
    EXPECT_EQ(*(shift + 1), "KPS");
    EXPECT_EQ(drive->Written(CTestSpeedTuning::kMainProgram, "MultiC"), 1.0);
}

// Each gain of a loop, edited while the plain on-line plot runs, goes to the
// drive at once as its own registers, and only those.
TEST_F(ProfileTuningDlgTest, EveryGainEditedLiveReachesTheDriveAsItsRegisters)
{
    struct Gain {
        int edit;
        std::vector<std::string> registers;
    };
    struct Loop {
        const char* name;
        std::function<std::unique_ptr<CProfileTuningDlg>()> make;
        const char* program;
        const char* multiCycle;
        const char* online;
        std::array<const char*, 2> plotted;
        std::vector<Gain> gains;
    };
    const std::vector<Loop> loops = {
        {"speed",
         [&] { return std::make_unique<CTestSpeedTuning>(setup.get(), 1, nullptr); },
         CTestSpeedTuning::kMainProgram,
         "MultiCycleS",
         "OnlinePlotS",
         {"Speed_Reference", "Load_Speed"},
         {{1335, {"SFTKPS", "KPS"}}, {1340, {"SFTKIS", "KIS"}}, {1345, {"IMAXS"}}}},
        {"position",
         [&] { return std::make_unique<CTestPositionTuning>(setup.get(), 1, nullptr); },
         CTestPositionTuning::kProgramWithSpeedLoop,
         "MultiCycleP",
         "OnlinePlotP",
         {"Target_Position", "Load_Position"},
         {{1335, {"SFTKPP", "KPP"}},
          {1340, {"SFTKIP", "KIP"}},
          {1508, {"SFTKDP", "KDP"}},
          {1513, {"KDFP"}},
          {1345, {"IMAXP"}}}},
    };
    setup->SetOption("hasOscilloscope", "0");
    for (const Loop& loop : loops) {
        SCOPED_TRACE(loop.name);
        ResetDrive();
        Set(loop.multiCycle, 1.0);
        Set(loop.online, 1.0);
        drive->Program(loop.program).User("test_flag", {1.0}).NeverEnds();
        for (const char* name : loop.plotted)
            drive->Variable(name, std::vector<double>{10.0, 20.0, 30.0});
        const auto dialog = loop.make();
        OpenOnTestPage(*dialog, [&](DialogDriver& d) {
            EveryTurn user([&] {
                if (dialog->PlainPlot().Points(0).size() < 3)
                    return false;
                for (const Gain& gain : loop.gains) {
                    SCOPED_TRACE(gain.edit);
                    const std::size_t before = drive->Requests().size();
                    const double shown = d.Text(gain.edit).toDouble();
                    d.SetEditText(gain.edit, QString::number(shown != 0.0 ? shown * 0.9 : 0.01));
                    std::vector<std::string> written;
                    for (std::size_t i = before; i < drive->Requests().size(); ++i)
                        if (drive->Requests()[i].kind == Kind::WriteParameter)
                            written.push_back(drive->Requests()[i].name);
                    EXPECT_EQ(written, gain.registers);
                }
                d.Click(10000);
                return true;
            });
            d.Click(10000);
            ASSERT_TRUE(WaitForEnd(d, *dialog));
        });
        ExpectNothingRunning(*dialog);
    }
}

TEST_F(ProfileTuningDlgTest, APollThatCannotBeArmedFailsTheRunWithTheSystemsReason)
{
    const char* const reason = "No timer is left for the application.";
    const std::vector<std::pair<const char*, Maker>> dialogs = {
        {"current", Make<CTestCurrent>()},
        {"speed", Make<CTestSpeedTuning>()},
        {"position", Make<CTestPositionTuning>()},
    };
    for (const auto& [name, make] : dialogs) {
        SCOPED_TRACE(name);
        ResetDrive();
        const auto dialog = make(setup.get());
        TimerRefusal refusal(reason);
        OpenOnTestPage(*dialog, [&](DialogDriver& d) {
            d.Click(10000);
            ExpectOutcome(*dialog, reason);
        });
    }
}

// Closing the dialog in the middle of any kind of run, its own loops
// included, stops the program and leaves no timer.
TEST_F(ProfileTuningDlgTest, ClosingMidRunLeavesNothingRunning)
{
    struct Case {
        const char* name;
        const char* scope;
        double online;
        double multi;
        int logRows;
    };
    const Case cases[] = {
        {"plain on-line plot", "0", 1.0, 1.0, 60},
        {"multi-cycle with the data logger", "0", 0.0, 1.0, 60},
        {"scope waiting for frames", "1", 1.0, 1.0, 60},
        {"upload", "1", 0.0, 0.0, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDrive();
        setup->SetOption("hasOscilloscope", c.scope);
        Set("OnlinePlotS", c.online);
        Set("MultiCycleS", c.multi);
        auto& run = drive->Program(CTestSpeedTuning::kMainProgram)
                        .User("test_flag", {1.0})
                        .Log(ProfileLog(c.logRows));
        if (c.multi != 0.0)
            run.NeverEnds();
        CTestSpeedTuning dialog(setup.get(), 1, nullptr);
        OpenOnTestPage(dialog, [&](DialogDriver& d) {
            const std::size_t requests = drive->Requests().size();
            bool closed = false;
            EveryTurn close([&] {
                const bool now = c.logRows == 2000
                                     ? dialog.Logger()->GetGraphDocument().PointCount() > 100
                                     : dialog.m_nStage >= 4 && drive->Requests().size() > requests + 60;
                if (now) {
                    closed = true;
                    d.Cancel();
                }
                return now;
            });
            d.Click(10000);
            d.WaitUntil([&] { return !dialog.isVisible(); });
            EXPECT_TRUE(closed);
        });
        ExpectNothingRunning(dialog);
        EXPECT_FALSE(drive->IsProgramRunning());
        EXPECT_FALSE(drive->IsAxisOn());
        EXPECT_LT(dialog.Logger()->GetGraphDocument().PointCount(), 2000u);
    }
    setup->SetOption("hasOscilloscope", "1");
}

TEST_F(ProfileTuningDlgTest, EachTestKeepsItsOwnScopeSettings)
{
    ASSERT_NE(setup->GetIntOption("hasOscilloscope"), 0);
    setup->ClearOption("SpeedTuningOscSettings");
    setup->SetOption("PositionTuningOscSettings", "kept");
    CTestSpeedTuning speed(setup.get(), 1, nullptr);
    OpenOnTestPage(speed, [&](DialogDriver& d) {
        ASSERT_TRUE(d.StepScopeChannel(CProfileTuningDlg::kScopeGraph, 1, 1));
        d.Ok();
    });
    EXPECT_TRUE(speed.SettingsChanged());
    const std::string saved = setup->GetOptionNoError("SpeedTuningOscSettings");
    EXPECT_FALSE(saved.empty());
    EXPECT_EQ(setup->GetOptionNoError("PositionTuningOscSettings"), "kept");

    // opened again, the test starts from what it kept; OK without a change
    // of the other test clears its own option only
    CTestSpeedTuning again(setup.get(), 1, nullptr);
    EXPECT_EQ(Open(again, [](DialogDriver& d) { d.Cancel(); }), IDCANCEL);
    EXPECT_TRUE(again.SettingsChanged());
    setup->ClearOption("PositionTuningOscSettings");
    CTestPositionTuning position(setup.get(), 1, nullptr);
    Open(position, [](DialogDriver& d) { d.Ok(); });
    EXPECT_TRUE(setup->GetOptionNoError("PositionTuningOscSettings").empty());
    EXPECT_EQ(setup->GetOptionNoError("SpeedTuningOscSettings"), saved);
}

TEST_F(ProfileTuningDlgTest, OkKeepsTheTestLimitsAsTheDrives)
{
    Set("TestLimitCurrent", 6.0);
    Set("TestProtectionCurrent", 7.0);
    Set("TestStartCurrent", 80.0);
    CTestSpeedTuning dialog(setup.get(), 1, nullptr);
    EXPECT_EQ(Open(dialog, [](DialogDriver& d) { d.Ok(); }), IDOK);
    EXPECT_NEAR(Value("IlimPS"), 6.0, 1e-3);
    EXPECT_NEAR(Value("Imax_Prot"), 7.0, 1e-2);
    EXPECT_NEAR(Value("StartCurrent"), 80.0, 0.5);
}

TEST_F(ProfileTuningDlgTest, BothPositionStructuresWriteTheirOwnLimit)
{
    for (double type : {1.0, 0.0}) {
        SCOPED_TRACE(type);
        ResetDrive();
        Set("PositionControlType", type);
        const char* program = type == 1.0 ? CTestPositionTuning::kProgramWithSpeedLoop
                                          : CTestPositionTuning::kProgramWithoutSpeedLoop;
        ScriptMain(program);
        CTestPositionTuning dialog(setup.get(), 1, nullptr);
        OpenOnTestPage(dialog, [&](DialogDriver& d) { ASSERT_TRUE(StartAndWait(d, dialog)); });
        EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
        const auto& variables = dialog.Logger()->Variables();
        ASSERT_EQ(variables.size(), 4u);
        EXPECT_EQ(variables[2], type == 1.0 ? "Speed_Reference" : "Current_Reference");
        if (type == 1.0) {
            EXPECT_EQ(drive->Written(program, "LimitSpeed_Test"),
                      std::trunc(setup->GetParameterValueInInternalUnit("Limit_Speed")));
        } else {
            EXPECT_EQ(drive->Written(program, "IlimPS_Test"),
                      std::trunc(setup->GetParameterValueInInternalUnit("TestLimitCurrent")));
        }
        EXPECT_NEAR(Value("IlimPS"), Value("TestLimitCurrent"), 1e-3) << "the test's limit is the setup's";
        EXPECT_EQ(drive->Written(program, "Imax_Prot_Test"),
                  std::trunc(setup->GetParameterValueInInternalUnit("TestProtectionCurrent")));
    }
    Set("PositionControlType", 1.0);
}

} // namespace
