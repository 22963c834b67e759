// The test dialog framework on a small test of its own (template 9101): the
// preliminary test and a main program polled by timer 1, the drive error
// check, Start/Stop, and the drive left safe however a run ends.
#include "TestDialogTest.h"

#include "BarGraph.h"
#include "CoffFormat.h"
#include "MyTestDlg.h"
#include "Oscilloscope.h"
#include "ScopeLogger.h"

#include <QLabel>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using Kind = ScriptedDrive::Kind;

constexpr const char* kPreliminary = "Initial_Positioning_Test";
constexpr const char* kMain = "Motor_Phase_Connection_Test";
constexpr const char* kLive = "Analogue_Reference_Test";

const char* const kStageTexts[] = {"Launching the application for preliminary test",
                                   "Waiting preliminary test to be finished",
                                   "Launching the application for test", "Running test"};

// A test as every identification test runs: the preliminary test, then a
// main program that gets its results. With live, the main program is
// started by name alone and runs until the user presses Stop.
class FrameDialog : public CMyTestDlg {
public:
    static constexpr int kTemplateId = 9101;

    explicit FrameDialog(CMC_Setup* setup, bool live = false)
        : CMyTestDlg(setup, kTemplateId, 1, nullptr), m_live(live)
    {
        m_nStageCount = 5;
        m_bStoppable = live ? 1 : 0;
        AddParameterControls("TestCurrent", 1005, 1017);
        SetHelpTopic(262411);
    }

    std::uint16_t mainMask = 0x8002;
    double reftst = 0.0;
    double rinctst = 0.0;
    int ticks = 0;

    void Tick(int id) { OnTimer(id); }

protected:
    int OnInitDialog() override
    {
        CMC_TestDlg::OnInitDialog();
        for (auto [image, name] : {std::pair{&m_main, kMain}, std::pair{&m_preliminary, kPreliminary}}) {
            image->m_strFileName = GetOutPathName(name);
            image->ReadCoff();
        }
        return 1;
    }

    void BeginTest() override
    {
        const int testCurrent = static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent"));
        m_bRunning = 1;
        m_nResult = -1;
        m_nStage = 0;
        SetInfoText(kStageTexts[0]);
        if (!SetUserVariableValue(&m_preliminary, "In1", testCurrent, m_strError))
            return TestFailed(1);
        if (!ExecuteCode(kPreliminary, &m_preliminary, nullptr, nullptr, nullptr))
            return Fail(msc_pszErrInternal);
        SetInfoText(kStageTexts[m_nStage]);
        SetTimer(1, 20);
    }

    void OnTimer(int id) override
    {
        KillTimer(1);
        if (m_bRunning == 0 || id != 1)
            return;
        ++ticks;
        switch (m_nStage) {
        case 2:
            if (!WaitForEnd(&m_preliminary, 0x8002) || !TakeOverPreliminary())
                return;
            SetInfoText(kStageTexts[m_nStage]);
            [[fallthrough]];
        case 3:
            return LaunchMain();
        case 4:
            if (m_live)
                return Live();
            if (WaitForEnd(&m_main, mainMask))
                TestSucceeded(1);
            return;
        default:
            TestFailed(1);
        }
    }

private:
    void Fail(const char* text)
    {
        m_strError = text;
        TestFailed(1);
    }

    // True once the program has ended without a drive error; otherwise the
    // poll was re-armed or the test has failed.
    bool WaitForEnd(CMC_CoffFormat* image, std::uint16_t mask)
    {
        double started = 0.0;
        if (!GetUserVariableValue(image, "STARTED", started, m_strError)) {
            TestFailed(1);
            return false;
        }
        if (started == 0.0) {
            if (CheckDriveErrors(1, mask))
                SetTimer(1, 20);
            return false;
        }
        int on = 0;
        if (!GetAxisOn(on)) {
            TestFailed(1);
            return false;
        }
        if (on != 0) {
            SetTimer(1, 20);
            return false;
        }
        return CheckDriveErrors(1, mask) != 0;
    }

    bool ReadVariable(const char* name, double& value)
    {
        CMC_Variable* variable = GetSetup()->FindVariable(name, 1);
        if (variable == nullptr) {
            Fail(msc_pszErrInternal);
            return false;
        }
        if (!variable->ReadFromChip()) {
            Fail(CMC_Comm::GetLastErrorText());
            return false;
        }
        value = variable->GetValueInInternalUnit();
        return true;
    }

    bool TakeOverPreliminary()
    {
        double in1 = 0.0;
        if (!GetUserVariableValue(&m_preliminary, "In1", in1, m_strError)) {
            TestFailed(1);
            return false;
        }
        if (in1 == ScriptedDrive::kNoResult) {
            Fail(msc_pszErrInternal);
            return false;
        }
        if (in1 <= 0.0) {
            Fail(msc_pszErrInZero);
            return false;
        }
        return ReadVariable("REFTST_V", reftst) && ReadVariable("RINCTST_V", rinctst);
    }

    void LaunchMain()
    {
        if (!m_live && (!SetUserVariableValue(&m_main, "RefTest", reftst, m_strError) ||
                        !SetUserVariableValue(&m_main, "RIncTest", rinctst, m_strError)))
            return TestFailed(1);
        const bool started = m_live ? ExecuteCode(kLive, nullptr, nullptr, nullptr, nullptr)
                                    : ExecuteCode(kMain, &m_main, nullptr, nullptr, nullptr);
        if (!started)
            return Fail(msc_pszErrInternal);
        SetInfoText(kStageTexts[m_nStage]);
        SetTimer(1, 20);
    }

    void Live()
    {
        if (m_bStopRequest != 0) {
            TestSucceeded(1);
            m_bStopRequest = 0;
            return;
        }
        if (CheckDriveErrors(1, 0x0002))
            SetTimer(1, 20);
    }

    bool m_live;
    CMC_CoffFormat m_main;
    CMC_CoffFormat m_preliminary;
};

const char* const kShortCircuit = "Drive / Motor shortcircuit protection triggered.";
const char* const kControlError = "Drive / Motor control error protection triggered.";
const char* const kHallMissing = "Hall sensor is missing.";
const char* const kPositiveLimit = "Drive / Motor stopped due to positive limit switch input triggered.";
const char* const kNegativeLimit = "Drive / Motor stopped due to negative limit switch input triggered.";
const char* const kDisabled = "Drive / Motor ENABLE input is in DISABLED state.";

// The six drive errors in the order that decides between them.
const std::vector<std::pair<std::uint16_t, const char*>> kErrorBits = {
    {0x0002, kShortCircuit},  {0x0008, kControlError},  {0x0020, kHallMissing},
    {0x0040, kPositiveLimit}, {0x0080, kNegativeLimit}, {0x8000, kDisabled},
};
constexpr std::uint16_t kMasks[] = {0x0002, 0x0022, 0x8002, 0xFFDF, 0xFFFF};
// The supply, i2t and temperature trips, after the six and in their order:
// they switch the stage off, so they count whatever the mask.
const std::vector<std::pair<std::uint16_t, const char*>> kTripBits = {
    {0x0010, "Drive over voltage protection triggered."},
    {0x0004, "Drive under voltage protection triggered."},
    {0x0200, "Drive I2t protection triggered."},
    {0x0100, "Motor I2t protection triggered."},
    {0x0800, "Drive over temperature protection triggered."},
    {0x0400, "Motor over temperature protection triggered."},
};

class TestFrameworkTest : public TestDialogTest {
protected:
    // Requests made after the given index of the record.
    std::vector<ScriptedDrive::Request> RequestsSince(std::size_t index) const
    {
        const auto& all = drive->Requests();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(index, all.size())), all.end()};
    }
    // The last request is the stop of the program, after its last start.
    void ExpectStoppedLast() const
    {
        ASSERT_FALSE(drive->Requests().empty());
        EXPECT_EQ(drive->Requests().back().kind, Kind::StopProgram);
    }
    std::string CheckErrors(FrameDialog& dialog, double mer, std::uint16_t mask)
    {
        drive->Variable("MER", mer);
        dialog.m_strError.clear();
        const int passed = dialog.CheckDriveErrors(0, mask);
        EXPECT_EQ(passed != 0, dialog.m_strError.empty()) << mer << " " << mask;
        return dialog.m_strError;
    }
};

TEST_F(TestFrameworkTest, PassingRunGoesThroughTheStagesAndHandsThePreliminaryResultsOn)
{
    FrameDialog dialog(setup.get());
    QString runningCaption;
    std::vector<int> stagesPolled;
    RunOnce(dialog, [&](DialogDriver& d) {
        EXPECT_EQ(dialog.m_nResult, 1);
        EXPECT_EQ(dialog.m_nStage, 4);
        EXPECT_EQ(StatusText(d), QString::fromUtf8(kStageTexts[3]));
        EXPECT_EQ(ResultText(d), QStringLiteral("Test passed."));
        EXPECT_FALSE(d.IsVisible(10003));
        EXPECT_EQ(d.Text(10000), QStringLiteral("&Start"));
        auto* icon = d.Dialog()->Item<QLabel>(10004);
        ASSERT_NE(icon, nullptr);
        EXPECT_FALSE(icon->pixmap().isNull());
    });
    ExpectNothingRunning(dialog);

    const int testCurrent = static_cast<int>(setup->GetParameterValueInInternalUnit("TestCurrent"));
    EXPECT_EQ(drive->Written(kPreliminary, "In1"), testCurrent);
    EXPECT_EQ(drive->Written(kMain, "RefTest"), kRefTest);
    EXPECT_EQ(drive->Written(kMain, "RIncTest"), kRIncTest);
    EXPECT_EQ(drive->Starts(kPreliminary), 1);
    EXPECT_EQ(drive->Starts(kMain), 1);
    // Each program: STARTED 0, then on, then off (the default script).
    EXPECT_EQ(drive->Count(Kind::ReadUser, "STARTED"), 6);
    EXPECT_EQ(drive->Count(Kind::GetAxisOn), 4);
    // The drive is checked before the start (mask 0x8002) and after the end, per program.
    EXPECT_EQ(drive->Count(Kind::ReadVariable, "MER"), 4);
    EXPECT_EQ(dialog.ticks, 6);
    ExpectStoppedLast();
}

// A gain tuned after the link opened reaches the drive before the next
// program runs; a drive that does not take the registers runs nothing.
TEST_F(TestFrameworkTest, EveryProgramStartIsPrecededByTheSetupsRegisters)
{
    FrameDialog dialog(setup.get());
    const std::size_t first = drive->Requests().size();
    ASSERT_EQ(setup->FindParameter("KPI")->SetValueInInternalUnit(1234.0), 1);
    RunOnce(dialog, [&](DialogDriver&) { EXPECT_EQ(dialog.m_nResult, 1); });
    const auto requests = RequestsSince(first);
    int starts = 0;
    for (std::size_t k = 0; k < requests.size(); ++k) {
        if (requests[k].kind != Kind::StartProgram)
            continue;
        ++starts;
        ASSERT_GT(k, 0u);
        EXPECT_EQ(requests[k - 1].kind, Kind::DownloadSetup) << requests[k].program;
    }
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(drive->Written("KPI"), 1234.0);

    for (const int failing : {1, 2}) {
        SCOPED_TRACE(failing == 1 ? "before the preliminary test" : "before the main program");
        const int preliminaryStarts = drive->Starts(kPreliminary);
        const int mainStarts = drive->Starts(kMain);
        drive->Fail(Kind::DownloadSetup, {}, failing);
        FrameDialog failed(setup.get());
        RunOnce(failed, [&](DialogDriver&) { EXPECT_EQ(failed.m_nResult, 0); });
        EXPECT_EQ(drive->Starts(kPreliminary), preliminaryStarts + (failing == 1 ? 0 : 1));
        EXPECT_EQ(drive->Starts(kMain), mainStarts);
        ExpectNothingRunning(failed);
    }
}

TEST_F(TestFrameworkTest, StartShowsStopWhileRunningAndStopEndsANonStoppableRunAtOnce)
{
    drive->Program(kMain).NeverEnds();
    FrameDialog dialog(setup.get());
    Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return drive->IsAxisOn() && drive->CurrentProgram() == kMain; }));
        EXPECT_EQ(d.Text(10000), QStringLiteral("&Stop"));
        d.Click(10000);
        EXPECT_EQ(dialog.m_bRunning, 0);
        EXPECT_EQ(dialog.m_nResult, -1) << "no outcome";
        EXPECT_EQ(d.Text(10000), QStringLiteral("&Start"));
        EXPECT_EQ(ResultText(d), QStringLiteral("The test was stopped."));
        EXPECT_FALSE(dialog.HasActiveTimers());
        EXPECT_FALSE(drive->IsProgramRunning());
        EXPECT_FALSE(drive->IsAxisOn());

        // A new start begins afresh: no stale error, stage 0.
        drive->Program(kMain, 1).EndsAfter(1);
        EXPECT_TRUE(StartAndWait(d, dialog));
        EXPECT_EQ(dialog.m_nResult, 1);
        EXPECT_TRUE(dialog.m_strError.empty());
    });
    ExpectNothingRunning(dialog);
}

TEST_F(TestFrameworkTest, StopOnAStoppableTestRequestsTheEndWhichTheNextTickMakes)
{
    drive->Program(kLive).NeverEnds();
    FrameDialog dialog(setup.get(), true);
    Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return dialog.m_nStage == 4 && dialog.ticks > 10; }));
        EXPECT_EQ(d.Text(10000), QStringLiteral("&Stop"));
        EXPECT_TRUE(drive->IsProgramRunning());
        EXPECT_EQ(drive->Last(Kind::StartProgram)->program, kLive) << "started by name alone";
        d.Click(10000);
        EXPECT_EQ(dialog.m_bStopRequest, 1);
        EXPECT_EQ(dialog.m_bRunning, 1) << "the test ends the run itself";
        ASSERT_TRUE(WaitForEnd(d, dialog));
        EXPECT_EQ(dialog.m_nResult, 1);
        EXPECT_EQ(dialog.m_bStopRequest, 0);
    });
    ExpectNothingRunning(dialog);
    ExpectStoppedLast();
}

TEST_F(TestFrameworkTest, ClosingMidRunStopsTheProgramAndLeavesNoTimerBehind)
{
    for (const bool inPreliminary : {true, false}) {
        SCOPED_TRACE(inPreliminary ? "while the preliminary test runs" : "while the main program runs");
        drive = std::make_shared<ScriptedDrive>();
        CMC_Comm::SetActiveLink(drive, clock);
        ScriptPreliminary();
        drive->Program(inPreliminary ? kPreliminary : kMain).NeverEnds();
        FrameDialog dialog(setup.get());
        const int result = Open(dialog, [&](DialogDriver& d) {
            d.Click(10000);
            ASSERT_TRUE(d.WaitUntil([&] {
                return drive->IsAxisOn() && drive->CurrentProgram() == (inPreliminary ? kPreliminary : kMain);
            }));
            d.Cancel();
        });
        EXPECT_EQ(result, IDCANCEL);
        ExpectNothingRunning(dialog);
        EXPECT_EQ(dialog.m_bStopRequest, 1) << "a loop waiting for Stop ends too";
        ExpectStoppedLast();

        // A tick that is still on its way does nothing, and no program
        // starts on a closed dialog.
        const std::size_t before = drive->Requests().size();
        dialog.Tick(1);
        EXPECT_EQ(dialog.ExecuteCode(kLive, nullptr, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(drive->Requests().size(), before);
    }
}

TEST_F(TestFrameworkTest, AStartedProgramArmsItsLoggerAndAFailedStartDoesNot)
{
    FrameDialog dialog(setup.get());
    dialog.show(); // loads the images; the scripted user gets no turn
    CMC_ScopeLogger scope(setup.get(), nullptr);
    ASSERT_TRUE(scope.AddVariable("Motor_Current"));
    drive->Fail(Kind::StartProgram);
    EXPECT_EQ(dialog.ExecuteCode(kLive, nullptr, &scope, nullptr, nullptr), 0);
    EXPECT_EQ(scope.UploadInProgress(), 0);
    EXPECT_EQ(dialog.ExecuteCode(kLive, nullptr, &scope, nullptr, nullptr), 1);
    EXPECT_EQ(scope.UploadInProgress(), 1);
    EXPECT_EQ(drive->Count(Kind::StartProgram), 2);
}

TEST_F(TestFrameworkTest, DestroyingARunningDialogStillStopsTheDrive)
{
    drive->Program(kPreliminary).StartsAfter(0).NeverEnds();
    {
        FrameDialog dialog(setup.get());
        dialog.show(); // loads the images; the scripted user gets no turn
        dialog.OnBtnStartStop();
        ASSERT_TRUE(drive->IsProgramRunning());
    }
    EXPECT_FALSE(drive->IsProgramRunning());
    EXPECT_FALSE(drive->IsAxisOn());
    ExpectStoppedLast();
}

TEST_F(TestFrameworkTest, ProgramThatNeverStartsKeepsBeingPolledUntilClosed)
{
    drive->Program(kPreliminary).NeverStarts();
    FrameDialog dialog(setup.get());
    Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return dialog.ticks >= 30; }));
        EXPECT_EQ(dialog.m_nStage, 2);
        EXPECT_EQ(dialog.m_bRunning, 1);
        EXPECT_TRUE(dialog.IsTimerActive(1));
        EXPECT_EQ(drive->Count(Kind::ReadVariable, "MER"), drive->Count(Kind::ReadUser, "STARTED"))
            << "the drive is checked at every poll before the start";
    });
    ExpectNothingRunning(dialog);
}

TEST_F(TestFrameworkTest, PreliminaryResultSentinelAndSign)
{
    const struct {
        double in1;
        const char* error; // null: passes
    } cases[] = {
        {ScriptedDrive::kNoResult, CMC_TestDlg::msc_pszErrInternal},
        {0.0, CMC_TestDlg::msc_pszErrInZero},
        {-5.0, CMC_TestDlg::msc_pszErrInZero},
        {1e-9, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in1);
        drive = std::make_shared<ScriptedDrive>();
        CMC_Comm::SetActiveLink(drive, clock);
        ScriptPreliminary(c.in1);
        FrameDialog dialog(setup.get());
        RunOnce(dialog);
        if (c.error != nullptr) {
            EXPECT_EQ(dialog.m_strError, std::string(c.error));
            EXPECT_EQ(dialog.m_nResult, 0);
            EXPECT_EQ(drive->Count(Kind::ReadVariable, "REFTST_V"), 0) << "results are not read";
            EXPECT_EQ(drive->Starts(kMain), 0);
        } else {
            EXPECT_EQ(dialog.m_nResult, 1);
        }
        ExpectNothingRunning(dialog);
    }
}

TEST_F(TestFrameworkTest, FailedRequestAtEachStageEndsTheRunWithItsText)
{
    const std::string internal = CMC_TestDlg::msc_pszErrInternal;
    const std::string noAnswer = LinkResultText(LinkResult::NoAnswer);
    const struct {
        const char* what;
        Kind kind;
        const char* name;
        int occurrence;
        std::string error; // "=" prefix: exactly; else the text contains it
        bool programStarted;
    } cases[] = {
        {"In1 of the preliminary test", Kind::WriteUser, "In1", 1, noAnswer, false},
        {"start of the preliminary test", Kind::StartProgram, kPreliminary, 1, "=" + internal, false},
        {"first poll of STARTED", Kind::ReadUser, "STARTED", 1, noAnswer, true},
        {"drive check before the start", Kind::ReadVariable, "MER", 1, "=" + internal, true},
        {"power stage state", Kind::GetAxisOn, kPreliminary, 1, "=", true},
        {"drive check after the end", Kind::ReadVariable, "MER", 2, "=" + internal, true},
        {"preliminary result", Kind::ReadUser, "In1", 1, noAnswer, true},
        {"REFTST_V", Kind::ReadVariable, "REFTST_V", 1, "REFTST_V", true},
        {"RINCTST_V", Kind::ReadVariable, "RINCTST_V", 1, "RINCTST_V", true},
        {"RefTest of the main program", Kind::WriteUser, "RefTest", 1, noAnswer, true},
        {"RIncTest of the main program", Kind::WriteUser, "RIncTest", 1, noAnswer, true},
        {"start of the main program", Kind::StartProgram, kMain, 1, "=" + internal, true},
        {"STARTED of the main program", Kind::ReadUser, "STARTED", 4, noAnswer, true},
        {"power stage of the main program", Kind::GetAxisOn, kMain, 2, "=", true},
        {"drive check after the main program", Kind::ReadVariable, "MER", 4, "=" + internal, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        drive = std::make_shared<ScriptedDrive>();
        CMC_Comm::SetActiveLink(drive, clock);
        ScriptPreliminary();
        drive->Fail(c.kind, c.name, c.occurrence);
        FrameDialog dialog(setup.get());
        RunOnce(dialog, [&](DialogDriver& d) {
            EXPECT_EQ(dialog.m_nResult, 0);
            if (!dialog.m_strError.empty()) {
                EXPECT_EQ(ResultText(d).toStdString(), dialog.m_strError);
            }
        });
        if (c.error.starts_with("=")) {
            EXPECT_EQ(dialog.m_strError, c.error.substr(1));
        } else {
            EXPECT_NE(dialog.m_strError.find(c.error), std::string::npos) << dialog.m_strError;
        }
        ExpectNothingRunning(dialog);
        if (c.programStarted) {
            ExpectStoppedLast();
        } else {
            EXPECT_EQ(drive->Count(Kind::StopProgram), 0);
        }

        // A tick after the end does nothing.
        const std::size_t before = drive->Requests().size();
        const std::uint16_t stage = dialog.m_nStage;
        dialog.Tick(1);
        EXPECT_TRUE(RequestsSince(before).empty());
        EXPECT_EQ(dialog.m_nStage, stage);
    }
}

TEST_F(TestFrameworkTest, DriveVariableMissingFromTheSetupIsAnInternalError)
{
    auto bare = With({{"TestCurrent", 100.0}});
    bare->AddVariable("MER");
    bare->AddVariable("REFTST_V");
    ASSERT_TRUE(CMC_Comm::ConnectSetup(*bare));
    FrameDialog dialog(bare.get());
    RunOnce(dialog);
    EXPECT_EQ(dialog.m_strError, CMC_TestDlg::msc_pszErrInternal);
    EXPECT_EQ(drive->Count(Kind::ReadVariable, "REFTST_V"), 1);
    EXPECT_EQ(drive->Count(Kind::ReadVariable, "RINCTST_V"), 0);
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(), [](const std::string& e) {
        return e.find("RINCTST_V") != std::string::npos;
    })) << "the host reports the missing variable";
    errors.clear();
    ExpectNothingRunning(dialog);
}

TEST_F(TestFrameworkTest, MissingProgramImageFailsTheStartWithTheImagesReason)
{
    const std::string folder = ::testing::TempDir() + "velmaro-no-programs";
    ::setenv("VELMARO_PROGRAM_DIR", folder.c_str(), 1);
    FrameDialog dialog(setup.get(), true);
    RunOnce(dialog);
    ::unsetenv("VELMARO_PROGRAM_DIR");
    EXPECT_NE(dialog.m_strError.find("Initial_Positioning_Test.json"), std::string::npos)
        << dialog.m_strError;
    EXPECT_EQ(drive->Count(Kind::StartProgram), 0);
    EXPECT_EQ(drive->Count(Kind::WriteUser), 0);
}

TEST_F(TestFrameworkTest, UserVariablesTheImageDoesNotListOrValuesThatAreNotFiniteNeverReachTheDrive)
{
    FrameDialog dialog(setup.get());
    CMC_CoffFormat image;
    image.m_strFileName = GetOutPathName(kMain);
    ASSERT_TRUE(image.ReadCoff());
    std::string error;
    double value = 0.0;
    EXPECT_EQ(dialog.SetUserVariableValue(&image, "In1", 1.0, error), 0);
    EXPECT_NE(error.find("In1"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(dialog.GetUserVariableValue(&image, "poles_pairs", value, error), 0);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(dialog.SetUserVariableValue(&image, "RefTest", std::nan(""), error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(drive->Count(Kind::WriteUser) + drive->Count(Kind::ReadUser), 0);

    EXPECT_EQ(dialog.SetUserVariableValue(&image, "RefTest", 12.0, error), 1);
    EXPECT_EQ(dialog.GetUserVariableValue(&image, "RefTest", value, error), 1);
    EXPECT_EQ(value, 12.0);
}

TEST_F(TestFrameworkTest, EachDriveErrorIsReportedWhenItsMaskSelectsItAndTheFirstSetBitWins)
{
    FrameDialog dialog(setup.get());
    for (std::uint16_t mask : kMasks) {
        SCOPED_TRACE(mask);
        for (std::size_t i = 0; i < kErrorBits.size(); ++i) {
            const auto [bit, text] = kErrorBits[i];
            EXPECT_EQ(CheckErrors(dialog, bit, mask), (bit & mask) ? text : "") << bit;
            // With every later error set too, this one (when selected) still wins.
            std::uint16_t all = 0;
            for (std::size_t j = i; j < kErrorBits.size(); ++j)
                all |= kErrorBits[j].first;
            std::string expected;
            for (std::size_t j = i; j < kErrorBits.size() && expected.empty(); ++j)
                if (kErrorBits[j].first & mask)
                    expected = kErrorBits[j].second;
            EXPECT_EQ(CheckErrors(dialog, all, mask), expected) << all;
        }
        for (std::size_t i = 0; i < kTripBits.size(); ++i) {
            const auto [bit, text] = kTripBits[i];
            EXPECT_EQ(CheckErrors(dialog, bit, mask), text) << bit;
            std::uint16_t later = 0;
            for (std::size_t j = i; j < kTripBits.size(); ++j)
                later |= kTripBits[j].first;
            EXPECT_EQ(CheckErrors(dialog, later, mask), text) << later;
            EXPECT_EQ(CheckErrors(dialog, later | 0x0002, mask), (mask & 0x0002) ? kShortCircuit : text)
                << "the six come first";
        }
        // The other bits never count, whatever the mask.
        EXPECT_EQ(CheckErrors(dialog, 0x7001, mask), "");
    }
    EXPECT_EQ(CheckErrors(dialog, 0x8002, 0x8002), kShortCircuit);
    EXPECT_EQ(CheckErrors(dialog, 0x0020, 0xFFDF), "") << "0xFFDF leaves out the Hall sensor";
    EXPECT_EQ(CheckErrors(dialog, 2.9, 0xFFFF), kShortCircuit) << "the value is truncated";
    EXPECT_EQ(dialog.m_nResult, 0) << "fail flag 0 does not end anything";
}

TEST_F(TestFrameworkTest, DriveErrorWithTheFailFlagEndsTheRunAndAnUnreadableRegisterIsInternal)
{
    drive->Program(kMain).EndVariable("MER", 0x8000);
    FrameDialog dialog(setup.get());
    RunOnce(dialog, [&](DialogDriver& d) { EXPECT_EQ(ResultText(d), QString::fromUtf8(kDisabled)); });
    EXPECT_EQ(dialog.m_strError, kDisabled);
    EXPECT_EQ(dialog.m_nResult, 0);
    ExpectNothingRunning(dialog);

    // The same error outside the mask passes.
    drive = std::make_shared<ScriptedDrive>();
    CMC_Comm::SetActiveLink(drive, clock);
    ScriptPreliminary();
    drive->Program(kMain).EndVariable("MER", 0x8000);
    FrameDialog masked(setup.get());
    masked.mainMask = 0x0002;
    RunOnce(masked);
    EXPECT_EQ(masked.m_nResult, 1);

    drive->Fail(Kind::ReadVariable, "MER");
    EXPECT_EQ(masked.CheckDriveErrors(0, 0xFFFF), 0);
    EXPECT_EQ(masked.m_strError, CMC_TestDlg::msc_pszErrInternal);
}

TEST_F(TestFrameworkTest, MinimumMoveIsClearedExceptForTheControllerTuningTests)
{
    const double before = setup->GetParameterValueInBaseUnit("ABSTART_MINMOVE");
    ASSERT_NE(before, 0.0);
    for (int tuning : {102, 103}) {
        CMyTestDlg dialog(setup.get(), tuning, 1, nullptr);
        EXPECT_EQ(setup->GetParameterValueInBaseUnit("ABSTART_MINMOVE"), before) << tuning;
    }
    errors.clear(); // the tuning templates may not be there
    FrameDialog dialog(setup.get());
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("ABSTART_MINMOVE"), 0.0);

    auto without = With({{"TestCurrent", 100.0}});
    FrameDialog quiet(without.get());
    EXPECT_TRUE(errors.empty()) << "an absent minimum move is no error";
}

TEST_F(TestFrameworkTest, HelpOpensTheTestsTopic)
{
    FrameDialog dialog(setup.get());
    Open(dialog, [](DialogDriver& d) { d.Click(10024); });
    EXPECT_EQ(user.HelpTopics(), (std::vector<unsigned>{262411}));
}

TEST_F(TestFrameworkTest, BarGraphDrawsFromItsReferenceToItsValueWithinTheSpan)
{
    FrameDialog dialog(setup.get());
    CBarGraph bar;
    EXPECT_FALSE(bar.Attach(&dialog, 4711));
    ASSERT_TRUE(bar.Attach(&dialog, 1021));
    bar.SetRangeWithReference(-3.0, 3.0);
    bar.SetValue(1.5);
    EXPECT_EQ(bar.Reference(), 0.0);
    EXPECT_DOUBLE_EQ(bar.FromFraction(), 0.5);
    EXPECT_DOUBLE_EQ(bar.ToFraction(), 0.75);
    bar.SetRangeWithReference(3000.0, 100.0);
    EXPECT_EQ(bar.Low(), 100.0) << "a reversed span is taken the other way round";
    EXPECT_EQ(bar.Reference(), 100.0) << "a span off 0 draws from its low end";
    bar.SetValue(5000.0);
    EXPECT_EQ(bar.ToFraction(), 1.0) << "clipped to the span";
    bar.SetValue(std::nan(""));
    EXPECT_EQ(bar.ToFraction(), 0.0);
    bar.SetFormat("%.2f");
    bar.SetValue(1.005);
    EXPECT_EQ(bar.ValueText(), QStringLiteral("1.00"));
    bar.Invalidate();
}

TEST_F(TestFrameworkTest, OscilloscopeKeepsTheNewestPointsOfEachChannel)
{
    FrameDialog dialog(setup.get());
    CMC_Oscilloscope scope;
    ASSERT_TRUE(scope.Attach(&dialog, 3352));
    scope.Initialize(QString(), 2, 0);
    ASSERT_EQ(scope.ChannelCount(), 2);
    scope.Channel(0).lowerLimit = -1.0;
    scope.Channel(0).upperLimit = 6.0;
    for (int i = 0; i < CMC_Oscilloscope::kPoints + 10; ++i) {
        scope.Channel(0).value = i;
        scope.Channel(1).value = -i;
        scope.UpdateLastPoint();
    }
    ASSERT_EQ(scope.Points(0).size(), static_cast<std::size_t>(CMC_Oscilloscope::kPoints));
    EXPECT_EQ(scope.Points(0).front(), 10.0);
    EXPECT_EQ(scope.Points(1).back(), -(CMC_Oscilloscope::kPoints + 9.0));
    scope.Initialize(QStringLiteral("again"), 0, 0);
    EXPECT_EQ(scope.ChannelCount(), 1) << "at least one channel";
    EXPECT_TRUE(scope.Points(0).empty());
}

} // namespace
