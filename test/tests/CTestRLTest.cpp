#include "IdentificationDialogTest.h"

#include "TestRL.h"

#include <complex>
#include <numbers>

namespace {

constexpr const char* kR = "Ident_R_or_Rs";
constexpr const char* kL = "Ident_L_or_Tau_el";
constexpr const char* kPreliminary = "Initial_Positioning_Test";
using Kind = ScriptedDrive::Kind;

// The reference drive: 3273.6 current units per ampere, a converter reading
// 65472 counts at 80 V, a 50 us current loop; "TestCurrent" holds 5401.44.
// The drive of these tests measures a 40 V bus, so its voltage commands count
// 65534 / (1.1 x 40) units per volt. The inductance run applies 2 V at 200 Hz:
// an angle step of 655.35 of 65535 per current-loop period.
constexpr double kCurrentScale = 3273.6;
constexpr double kBus = 40.0;
constexpr double kVoltageScale = 65534.0 / (1.1 * kBus);
constexpr double kOmega = 2.0 * std::numbers::pi * 200.0;
constexpr double kAmplitude = 2.0;

constexpr const char* kTooLow =
    "The computed inductivity is less than the possible minimum value of 50 \u00b5H.";
constexpr const char* kTooHigh =
    "The computed inductivity is greater than the possible maximum value of 1 H.";

class CTestRLWithoutLogger : public CTestRL {
public:
    CTestRLWithoutLogger(CMC_Setup* setup, int flag, QWidget* parent) : CTestRL(setup, flag, parent)
    {
        m_logger.reset();
    }
};

class CTestRLTest : public IdentificationDialogTest {
protected:
    void SetUp() override
    {
        IdentificationDialogTest::SetUp();
        ScriptMotor(0.9, 1.3e-3);
    }

    // A motor of r [ohm] and l [H] behind a power stage that drops 0.3 V. The
    // resistance runs hold 1 A and 0.5 A (logged currents scatter around
    // these); the inductance run logs the current in the turning frame at
    // four frame angles a quarter turn apart. `shaft` [ohm] adds to the q
    // axis's resistance: the losses of a shaft moving with the q current.
    void ScriptMotor(double r, double l, double shaft = 0.0)
    {
        ScriptPreliminary(1.0, 1300.7, 40.9, 1);
        for (int run : {0, 1}) {
            const double amperes = run == 0 ? 1.0 : 0.5;
            const double current = amperes * kCurrentScale;
            drive->Program(kR, run)
                .EndVariable("var_i1", (r * amperes + 0.3) * kVoltageScale)
                .EndVariable("var_u2", kBus * 65472.0 / 80.0)
                .Log({{current - 40.0}, {current + 10.0}, {current + 30.0}});
        }
        drive->Program(kL)
            .EndVariable("TINCTST", 655.35)
            .EndVariable("var_i1", kAmplitude * kVoltageScale)
            .Log(InductanceLog(1.0 / std::complex<double>(r, kOmega * l),
                               1.0 / std::complex<double>(r + shaft, kOmega * l)));
    }

    // The turning frame's currents ("IQ", "ID", "THTST") for the axes'
    // admittances: the voltage lies on the rotor's d axis at the rest angle.
    static std::vector<std::vector<double>> InductanceLog(std::complex<double> yd, std::complex<double> yq)
    {
        std::vector<std::vector<double>> rows;
        for (int quarter = 0; quarter < 4; ++quarter) {
            const std::complex<double> turn = std::polar(1.0, quarter * std::numbers::pi / 2.0);
            const std::complex<double> u = kAmplitude * kCurrentScale * turn;
            // The d axis answers U cos, the q axis U sin; back into the frame.
            const std::complex<double> rotor(std::real(yd * u),
                                             std::real(yq * u * std::complex<double>(0, -1)));
            const std::complex<double> frame = rotor * std::conj(turn);
            rows.push_back({frame.real(), -frame.imag(), -16383.0 + quarter * 16384.0});
        }
        return rows;
    }

    std::vector<double> WritesOf(const char* program, const char* name) const
    {
        std::vector<double> values;
        for (const auto& request : drive->Requests())
            if (request.kind == Kind::WriteUser && request.program == program && request.name == name)
                values.push_back(request.value);
        return values;
    }
};

TEST_F(CTestRLTest, TwoResistanceRunsAndTheInductanceRunIdentifyRAndL)
{
    struct Case {
        int connection; // 0 star, 1 delta: the equivalent star's phase has three times the values
        double factor;
    };
    for (const Case& c : {Case{0, 1.0}, Case{1, 3.0}}) {
        ResetDrive();
        ScriptMotor(0.9, 1.3e-3);
        setup->SetParameterValueInBaseUnit("MotorPhaseConnectionType", c.connection);
        CTestRL dialog(setup.get(), 0, nullptr);
        user.AnswerMessages([](const MessageBoxRequest&) { return IDYES; });
        EXPECT_EQ(RunOnce(dialog,
                          [&](DialogDriver& d) {
                              EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
                              EXPECT_NEAR(Value("R"), 0.9 * c.factor, 1e-9);
                              EXPECT_NEAR(Value("L"), 1.3e-3 * c.factor, 1e-12);
                              // The measured bus holds until the dialog closes.
                              EXPECT_NEAR(Value("Vdc"), kBus, 1e-9);
                              EXPECT_EQ(StatusText(d), QStringLiteral("Waiting L test to be finished"));
                              EXPECT_EQ(d.Text(3129), QStringLiteral("mH"));
                              ExpectQuietAfterEnd(d, dialog, CTestRL::kHelpTopic);
                          }),
                  IDOK);
        EXPECT_EQ(Value("Vdc"), 48.0);
    }
    // The odd test current halves to 2700 for the second runs; the second
    // resistance run gets the positioning results as whole numbers.
    EXPECT_EQ(WritesOf(kPreliminary, "In1"), (std::vector<double>{5401, 2700}));
    EXPECT_EQ(WritesOf(kR, "In1"), (std::vector<double>{5401, 2700}));
    EXPECT_EQ(WritesOf(kR, "RefTest"), (std::vector<double>{kRefTest, 1300}));
    EXPECT_EQ(WritesOf(kR, "RIncTest"), (std::vector<double>{kRIncTest, 40}));
    EXPECT_EQ(WritesOf(kL, "In1"), std::vector<double>{5401});
}

TEST_F(CTestRLTest, InductanceLimitsAgreeWithTheirMessages)
{
    // (Just above the lower limit the PWM ripple of this drive refuses the
    // motor: see the next test.)
    for (double l : {0.5e-3, 0.99}) {
        SCOPED_TRACE(l);
        ResetDrive();
        ScriptMotor(0.9, l);
        CTestRL dialog(setup.get(), 0, nullptr);
        user.AnswerMessages([](const MessageBoxRequest&) { return IDYES; });
        RunOnce(dialog, [&](DialogDriver&) { EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError; });
        EXPECT_NEAR(Value("L"), l, l * 1e-9);
    }
    setup->SetParameterValueInBaseUnit("L", 1.2e-3);
    auto motor = [this](double l) { return [=, this] { ScriptMotor(0.9, l); }; };
    ExpectFailures<CTestRL>({
        {"30 uH", motor(30e-6), kTooLow},
        {"49 uH", motor(49e-6), kTooLow},
        {"1.01 H", motor(1.01), kTooHigh},
    });
    EXPECT_EQ(Value("L"), 1.2e-3);
}

TEST_F(CTestRLTest, LowInductanceWhoseRippleSpoilsTheResistanceRunsIsRefusedWithTheReason)
{
    // 40 V, 20 kHz: 51 uH ripples 4.90 A, 70 uH 3.57 A, against half the test
    // current, 0.82 A. The inductance itself is within its limits.
    setup->SetParameterValueInBaseUnit("L", 1.2e-3);
    const double rBefore = Value("R");
    auto motor = [this](double l) { return [=, this] { ScriptMotor(0.05, l); }; };
    ExpectFailures<CTestRL>({
        {"51 uH", motor(51e-6),
         "The resistance cannot be identified: the PWM ripple of this low inductance (51.00 \u00b5H) is 4.90 "
         "A, "
         "more than half the test current (0.82 A), so the voltage lost to the inverter's dead time grows "
         "with "
         "the current and adds to the resistance. A test current of at least 9.80 A is needed."},
        {"70 uH", motor(70e-6),
         "The resistance cannot be identified: the PWM ripple of this low inductance (70.00 \u00b5H) is 3.57 "
         "A, "
         "more than half the test current (0.82 A), so the voltage lost to the inverter's dead time grows "
         "with "
         "the current and adds to the resistance. A test current of at least 7.14 A is needed."},
    });
    EXPECT_EQ(Value("L"), 1.2e-3);
    EXPECT_EQ(Value("R"), rBefore);
}

TEST_F(CTestRLTest, ShaftMovingWithTheInductanceRunsCurrentIsRefused)
{
    // The q axis's extra losses are what a load resonating near the test
    // frequency shows; a tenth of the reactance still passes.
    const double reactance = kOmega * 1.3e-3;
    ScriptMotor(0.9, 1.3e-3, 0.1 * reactance);
    {
        CTestRL dialog(setup.get(), 0, nullptr);
        user.AnswerMessages([](const MessageBoxRequest&) { return IDYES; });
        RunOnce(dialog, [&](DialogDriver&) { EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError; });
        EXPECT_NEAR(Value("L"), 1.3e-3, 1e-12);
    }
    setup->SetParameterValueInBaseUnit("L", 1.2e-3);
    const double rBefore = Value("R");
    ExpectFailures<CTestRL>({
        {"losses half the reactance", [=, this] { ScriptMotor(0.9, 1.3e-3, 0.5 * reactance); },
         "The shaft moves with the L test's current: a load resonating near the test frequency disturbs the "
         "inductivity. Uncouple the load or block the shaft, then repeat the test."},
    });
    EXPECT_EQ(Value("L"), 1.2e-3);
    EXPECT_EQ(Value("R"), rBefore);
}

TEST_F(CTestRLTest, FailuresAtEachStageLeaveRAndLUnchanged)
{
    const std::string internal = CMC_TestDlg::msc_pszErrInternal;
    const std::string zero = CMC_TestDlg::msc_pszErrInZero;
    const std::string enable = "Drive / Motor ENABLE input is in DISABLED state.";
    const std::string shortCircuit = "Drive / Motor shortcircuit protection triggered.";
    // The stage text shown when the run failed, and "Vdc" then.
    auto at = [this](const char* status, double vdc = 48.0) {
        return [=, this](DialogDriver& d) {
            EXPECT_EQ(StatusText(d), QString::fromUtf8(status));
            EXPECT_NEAR(Value("Vdc"), vdc, 1e-9);
        };
    };
    auto fail = [this](Kind kind, const char* name, int occurrence = 1) {
        return [=, this] { drive->Fail(kind, name, occurrence); };
    };
    auto ends = [this](const char* program, int run, const char* name, double value) {
        return [=, this] { drive->Program(program, run).EndVariable(name, value); };
    };
    auto positioning = [this](double in1, int run) {
        return [=, this] { ScriptPreliminary(in1, 1, 1, run); };
    };
    const auto launch1 = at("Launching code for preliminary test (1)");
    const auto prelim1 = at("Waiting preliminary test to be finished (1)");
    const auto launchR1 = at("Launching code for R test (1)");
    const auto r1 = at("Waiting R test to be finished (1)");
    const auto launch2 = at("Launching code for preliminary test (2)");
    const auto launchR2 = at("Launching code for R test (2)");
    const auto r2 = at("Waiting R test to be finished (2)");
    const auto launchL = at("Launching code for L test", kBus);
    const auto l = at("Waiting L test to be finished", kBus);
    ExpectFailures<CTestRL>(
        {
            {"positioning current not written", fail(Kind::WriteUser, "In1"), "", launch1},
            {"positioning does not start", fail(Kind::StartProgram, kPreliminary), internal, launch1},
            {"no positioning result", positioning(ScriptedDrive::kNoResult, 0), internal, prelim1},
            {"positioning gives zero", positioning(0, 0), zero, prelim1},
            {"ENABLE off while positioning", ends(kPreliminary, 0, "MER", 0x8000), enable, prelim1},
            {"RINCTST_V unreadable", fail(Kind::ReadVariable, "RINCTST_V"), "", prelim1},
            {"R inputs not written", fail(Kind::WriteUser, "RefTest"), "", launchR1},
            {"R test does not start", fail(Kind::StartProgram, kR), internal, launchR1},
            {"short circuit in the R test", ends(kR, 0, "MER", 0x0002), shortCircuit, r1},
            {"short circuit before ENABLE", ends(kR, 0, "MER", 0x8002), shortCircuit, r1},
            {"R voltage unreadable", fail(Kind::ReadVariable, "var_i1"), "", r1},
            {"R log not uploaded", fail(Kind::UploadLog, ""), internal, r1},
            {"second positioning current not written", fail(Kind::WriteUser, "In1", 3),
             "Error while setting the test parameters.", launch2},
            {"second positioning does not start", fail(Kind::StartProgram, kPreliminary, 2), internal,
             launch2},
            {"second positioning gives zero", positioning(0, 1), zero,
             at("Waiting preliminary test to be finished (2)")},
            {"second R inputs not written", fail(Kind::WriteUser, "RIncTest", 2), "", launchR2},
            {"second R test does not start", fail(Kind::StartProgram, kR, 2), internal, launchR2},
            {"no voltage of the second R test", ends(kR, 1, "var_i1", ScriptedDrive::kNoResult), internal,
             r2},
            {"no bus voltage", ends(kR, 1, "var_u2", ScriptedDrive::kNoResult), internal, r2},
            {"bus voltage unreadable", fail(Kind::ReadVariable, "var_u2"), "", r2},
            {"second R log not uploaded", fail(Kind::UploadLog, "", 2), internal, r2},
            {"both R runs at the same current",
             [this] {
                 drive->Program(kR, 0).Log({{1000}});
                 drive->Program(kR, 1).Log({{1000}});
             },
             internal, r2},
            {"L current not written", fail(Kind::WriteUser, "In1", 5), "", launchL},
            {"L test does not start", fail(Kind::StartProgram, kL), internal, launchL},
            {"ENABLE off in the L test", ends(kL, 0, "MER", 0x8000), enable, l},
            {"L frequency unreadable", fail(Kind::ReadVariable, "TINCTST"), "", l},
            {"L log not uploaded", fail(Kind::UploadLog, "", 3), internal, l},
            {"L log empty", [this] { drive->Program(kL).Log({}); }, internal, l},
        },
        [this] { ScriptMotor(0.9, 1.3e-3); });
    EXPECT_EQ(Value("R"), 0.8);
    EXPECT_EQ(Value("L"), 1.2e-3);
    EXPECT_EQ(Value("Vdc"), 48.0);
    ExpectFailures<CTestRLWithoutLogger>(
        {{"no logger", [] {}, "The logger could not be instantiated", launchR1}});
    EXPECT_EQ(drive->Starts(kR), 0);
}

TEST_F(CTestRLTest, CloseRestoresVdcAndAsksAboutTheChangedValuesOnly)
{
    // 0.8000004 ohm prints as the old 0.800000: only L is asked about.
    const QString question =
        Question(QStringLiteral("Phase inductance:\tOld = 0.001200\tNew = 0.001300\r\n"));
    for (const AnswerCase& c : {AnswerCase{IDYES, IDOK, 1}, {IDNO, IDCANCEL, 1}, {IDCANCEL, IDCANCEL, 2}}) {
        SCOPED_TRACE(c.answer);
        ResetDrive();
        ScriptMotor(0.8000004, 1.3e-3);
        setup->SetParameterValueInBaseUnit("R", 0.8);
        setup->SetParameterValueInBaseUnit("L", 1.2e-3);
        CTestRL dialog(setup.get(), 0, nullptr);
        RunAndClose(dialog, c, question, 1, [&](DialogDriver&) { EXPECT_EQ(Value("Vdc"), 48.0); });
        EXPECT_EQ(Value("Vdc"), 48.0);
        // The values found stay in the setup whatever the answer.
        EXPECT_NEAR(Value("L"), 1.3e-3, 1e-12);
    }
}

TEST_F(CTestRLTest, TheCloseBoxRestoresVdcAndAsksAboutBothValues)
{
    const QString question =
        Question(QStringLiteral("Phase resistance:\tOld = 0.800000\tNew = 0.900000\r\n"
                                "Phase inductance:\tOld = 0.001200\tNew = 0.001300\r\n"));
    CTestRL dialog(setup.get(), 0, nullptr);
    user.AnswerMessages([&](const MessageBoxRequest& request) {
        EXPECT_EQ(request.text, question);
        return IDNO;
    });
    const int result = Open(dialog, [&](DialogDriver& d) {
        ASSERT_TRUE(StartAndWait(d, dialog));
        d.Dialog()->close();
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(Value("Vdc"), 48.0);
    EXPECT_EQ(user.Messages().size(), 1u);
}

TEST_F(CTestRLTest, ClosingMidRunRestoresVdcWithoutAsking)
{
    drive->Program(kL).NeverEnds();
    CTestRL dialog(setup.get(), 0, nullptr);
    const int result = Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return drive->IsAxisOn() && drive->CurrentProgram() == kL; }));
        EXPECT_NEAR(Value("Vdc"), kBus, 1e-9);
        d.Cancel();
    });
    EXPECT_EQ(result, IDCANCEL);
    ExpectNothingRunning(dialog);
    EXPECT_EQ(Value("Vdc"), 48.0);
    EXPECT_EQ(Value("R"), 0.8);
    EXPECT_TRUE(user.Messages().empty());
}

} // namespace
