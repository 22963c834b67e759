#include "IdentificationDialogTest.h"

#include "TotalInertiaTest.h"

#include <cmath>
#include <numbers>

namespace {

constexpr const char* kProgram = "Total_Inertia_Identification_Test";
constexpr const char* kPreliminary = "Initial_Positioning_Test";
using Kind = ScriptedDrive::Kind;

// The reference drive: 3273.6 current units per ampere, a 0.5 ms speed loop,
// 4096 increments per revolution, K = 0.13 Nm/A; "TestCurrent" holds 5401.44.
constexpr int kTestCurrent = 5401;
constexpr double kSpeedLoop = 0.0005; // [s]

// A speed gain [rad/s] in the drive's units (increments per speed-loop period).
double DriveSpeed(double radPerSecond)
{
    return radPerSecond * kSpeedLoop * 4096.0 / (2.0 * std::numbers::pi);
}
// Torque times time over speed gain, for a gain of 100 rad/s in `periods` speed-loop periods.
double Inertia(double periods)
{
    return 0.13 * kTestCurrent / 3273.6 * periods * kSpeedLoop / 100.0;
}

const std::string kNegative =
    "When a POSITIVE torque level is applied to the motor, the measured speed is NEGATIVE.\n"
    "Possible causes of failure:\n\t\tThe current controller is not tuned;\n\t\tThe encoder signals are "
    "reversed;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the test <<Detect number of lines>> to verify the encoder counting direction;\n"
    "\t\tCheck if the motor nominal current was correctly set";
const std::string kZero =
    "When trying to apply POSITIVE torque to the motor, the measured speed is ZERO, or the reference torque "
    "cannot "
    "be reached!\nPossible causes of failure:\n\t\tThe current controller is not tuned;\n"
    "\t\tThe encoder signals are missing;\n\t\tThe DC voltage level is not high enough;\n"
    "\t\tCheck the current controller tuning;\n"
    "\t\tUse the encoder <<Test connections>> to verify presence of the encoder signals\n"
    "\t\tCheck if the motor nominal current was correctly set.\n\t\tTry to decrease the test current.";
const std::string kNotReached = "The motor does not reach the programmed speed level!\nYou may have a "
                                "problem with the encoder or the initial "
                                "positioning is not performed correctly. Check the encoder and motor "
                                "connections. If these are OK, try to "
                                "increase the test current.";

// The test with its own OK in reach (its template has no OK button).
class InertiaProbe : public CTotalInertiaTest {
public:
    using CTotalInertiaTest::CTotalInertiaTest;
    using CTotalInertiaTest::OnOK;
};

class CTotalInertiaTestTest : public IdentificationDialogTest {
protected:
    ScriptedDrive::RunScript& ScriptRun(double flag, double periods, double deltaSpeed = DriveSpeed(100.0),
                                        int run = 0)
    {
        return drive->Program(kProgram, run)
            .Result("test_flag", flag)
            .Result("delta_time", periods)
            .Result("delta_speed", deltaSpeed);
    }
};

TEST_F(CTotalInertiaTestTest, TorqueTimesTimeOverSpeedGainGoesIntoJt)
{
    struct Case {
        double periods;
        double mer; // drive errors outside the listed ones pass
    };
    for (const Case& c : {Case{100, 0}, Case{0, 0x7001}}) {
        ResetDrive();
        ScriptPreliminary().EndVariable("MER", 0x0020); // not looked at while positioning
        ScriptRun(1, c.periods).StartsAfter(3).EndsAfter(5).EndVariable("MER", c.mer);
        CTotalInertiaTest dialog(setup.get(), 1, nullptr);
        user.AnswerMessages([](const MessageBoxRequest&) { return IDYES; });
        RunOnce(dialog, [&](DialogDriver& d) {
            EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
            EXPECT_NEAR(Value("Jt"), Inertia(c.periods), 1e-12);
            EXPECT_EQ(StatusText(d), QStringLiteral("Waiting J test to be finished"));
            ExpectQuietAfterEnd(d, dialog, CTotalInertiaTest::kHelpTopic);
        });
    }
    // The inputs, in internal units, whole numbers where the drive counts.
    EXPECT_EQ(drive->Written(kPreliminary, "In1"), kTestCurrent);
    EXPECT_EQ(drive->Written(kProgram, "RefTest"), kRefTest);
    EXPECT_EQ(drive->Written(kProgram, "RIncTest"), kRIncTest);
    EXPECT_EQ(drive->Written(kProgram, "In1"), kTestCurrent);
    EXPECT_EQ(drive->Written(kProgram, "LimitSpeedMax"), 40);
    EXPECT_EQ(drive->Written(kProgram, "Imax_Prot_Test"), 31100);
}

TEST_F(CTotalInertiaTestTest, FailuresLeaveJtUnchanged)
{
    const std::string shortCircuit = "Drive / Motor shortcircuit protection triggered.";
    const std::string enable = "Drive / Motor ENABLE input is in DISABLED state.";
    const std::string hall = "Hall sensor is missing.";
    const std::string negativeLimit = "Drive / Motor stopped due to negative limit switch input triggered.";
    const std::string internal = CMC_TestDlg::msc_pszErrInternal;
    auto run = [this](double flag, double periods, double speed = 30) {
        return [=, this] { ScriptRun(flag, periods, speed); };
    };
    auto mer = [this](double bits) { return [=, this] { ScriptRun(1, 100).EndVariable("MER", bits); }; };
    auto positioning = [this](double in1, double bits = 0) {
        return [=, this] { ScriptPreliminary(in1).EndVariable("MER", bits); };
    };
    auto fail = [this](Kind kind, const char* name, int occurrence = 1) {
        return [=, this] {
            ScriptRun(1, 100);
            drive->Fail(kind, name, occurrence);
        };
    };
    ExpectFailures<CTotalInertiaTest>({
        {"speed negative", run(0, 100), kNegative},
        {"speed negative, code -1", run(1, -1), kNegative + "."},
        {"speed zero", run(1, -2), kZero},
        {"speed not reached", run(1, -3), kNotReached},
        {"test flag before the codes", run(-1, -2), kNegative},
        {"no speed gain", run(1, 100, 0), internal},
        {"no speed gain, no time", run(1, 0, 0), internal},
        {"short circuit", mer(0x0002), shortCircuit},
        {"control error", mer(0x0008), "Drive / Motor control error protection triggered."},
        {"Hall sensor", mer(0x0020), hall},
        {"positive limit switch", mer(0x0040),
         "Drive / Motor stopped due to positive limit switch input triggered."},
        {"negative limit switch", mer(0x0080), negativeLimit},
        {"ENABLE", mer(0x8000), enable},
        {"short circuit first", mer(0x80AA), shortCircuit},
        {"Hall before the limit switches", mer(0x80E0), hall},
        {"limit switch before ENABLE", mer(0x8080), negativeLimit},
        {"ENABLE while positioning", positioning(1, 0x8000), enable},
        {"no result of the positioning", positioning(ScriptedDrive::kNoResult), internal},
        {"positioning gives zero", positioning(0), CMC_TestDlg::msc_pszErrInZero},
        {"positioning does not start", fail(Kind::StartProgram, kPreliminary), internal},
        {"speed limit not written", fail(Kind::WriteUser, "LimitSpeedMax"), ""},
        {"protection not written", fail(Kind::WriteUser, "Imax_Prot_Test"), ""},
        {"test does not start", fail(Kind::StartProgram, kProgram), internal},
        {"test state unreadable", fail(Kind::ReadUser, "STARTED", 3), ""},
        {"axis state unreadable", fail(Kind::GetAxisOn, "", 2), ""},
        {"speed gain unreadable", fail(Kind::ReadUser, "delta_speed"), ""},
    });
    EXPECT_EQ(Value("Jt"), 8e-5);
}

TEST_F(CTotalInertiaTestTest, StartIsRefusedWhileTheProtectionIsBelowTheTestCurrent)
{
    ScriptRun(1, 100);
    setup->SetParameterValueInBaseUnit("TestProtectionCurrent", Value("TestCurrent"));
    CTotalInertiaTest dialog(setup.get(), 1, nullptr);
    user.AnswerMessages([](const MessageBoxRequest&) { return IDYES; });
    Open(dialog, [&](DialogDriver& d) {
        ASSERT_TRUE(StartAndWait(d, dialog));
        EXPECT_EQ(dialog.m_nResult, 1);
        EXPECT_FALSE(d.Text(3263).isEmpty());
        d.SetEditText(3265, QStringLiteral("1"));
        d.Click(10000);
        EXPECT_EQ(dialog.m_bRunning, 0);
    });
    EXPECT_EQ(drive->Starts(kPreliminary), 1);
    ASSERT_EQ(user.Messages().size(), 2u); // the refusal, then the close question
    EXPECT_EQ(user.Messages()[0].text,
              QStringLiteral("I protection must be greater or equal to Test current."));
    EXPECT_EQ(user.Messages()[0].type & 0x0F, unsigned{MB_OK});
}

TEST_F(CTotalInertiaTestTest, OkTakesTheProtectionLevelOverButYesToTheCloseQuestionOnlyEndsWithOk)
{
    setup->SetParameterValueInBaseUnit("Imax_Prot", 2.0);
    setup->SetParameterValueInBaseUnit("TestProtectionCurrent", 4.0);
    InertiaProbe ok(setup.get(), 1, nullptr);
    EXPECT_EQ(Open(ok, [&](DialogDriver&) { ok.OnOK(); }), IDOK);
    EXPECT_DOUBLE_EQ(Value("Imax_Prot"), 4.0);

    setup->SetParameterValueInBaseUnit("Imax_Prot", 2.0);
    ScriptRun(1, 100);
    CTotalInertiaTest dialog(setup.get(), 1, nullptr);
    user.AnswerMessages([](const MessageBoxRequest&) { return IDYES; });
    EXPECT_EQ(RunOnce(dialog), IDOK);
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_NEAR(Value("Jt"), Inertia(100), 1e-12);
    EXPECT_DOUBLE_EQ(Value("Imax_Prot"), 2.0);
}

TEST_F(CTotalInertiaTestTest, CloseComparesTheLastRunWithTheOneBefore)
{
    const QString question =
        Question(QStringLiteral("Total inertia:\tOld = %1\tNew = %2\r\n")
                     .arg(QString::asprintf("%g", Inertia(100)), QString::asprintf("%g", Inertia(150))));
    struct Case {
        AnswerCase answer;
        double jt; // after closing
        double imaxProt;
    };
    // No puts the first run's result back; no answer touches the protection level.
    for (const Case& c :
         {Case{{IDYES, IDOK, 1}, Inertia(150), 2.0}, Case{{IDNO, IDCANCEL, 1}, Inertia(100), 2.0},
          Case{{IDCANCEL, IDCANCEL, 1}, Inertia(150), 2.0}}) {
        SCOPED_TRACE(c.answer.answer);
        ResetDrive();
        ScriptRun(1, 100, DriveSpeed(100.0), 0);
        ScriptRun(1, 150, DriveSpeed(100.0), 1);
        setup->SetParameterValueInBaseUnit("Imax_Prot", 2.0);
        setup->SetParameterValueInBaseUnit("TestProtectionCurrent", 4.0);
        CTotalInertiaTest dialog(setup.get(), 1, nullptr);
        RunAndClose(dialog, c.answer, question, 2);
        EXPECT_NEAR(Value("Jt"), c.jt, 1e-15);
        EXPECT_DOUBLE_EQ(Value("Imax_Prot"), c.imaxProt);
    }
}

TEST_F(CTotalInertiaTestTest, ClosingMidRunStopsTheProgram)
{
    ScriptRun(1, 100).NeverEnds();
    CTotalInertiaTest dialog(setup.get(), 1, nullptr);
    const int result = Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return drive->IsAxisOn() && drive->CurrentProgram() == kProgram; }));
        d.Cancel();
    });
    EXPECT_EQ(result, IDCANCEL);
    ExpectNothingRunning(dialog);
    EXPECT_EQ(Value("Jt"), 8e-5);
}

} // namespace
