#include "IdentificationDialogTest.h"

#include "TestAnalogueRef.h"

namespace {

constexpr const char* kProgram = "Analogue_Reference_Test";
using Kind = ScriptedDrive::Kind;

class CTestAnalogueRefTest : public IdentificationDialogTest {
protected:
    // Runs until `reads` readings of the input were shown, then presses Stop:
    // the run ends as passed and nothing polls the drive any more.
    void RunUntilStopped(CTestAnalogueRef& dialog, int reads, const DialogScript& whileRunning = {})
    {
        Open(dialog, [&, reads](DialogDriver& d) {
            d.Click(10000);
            ASSERT_TRUE(d.WaitUntil([&] { return drive->Count(Kind::ReadVariable, "AD5") >= reads; }));
            if (whileRunning)
                whileRunning(d);
            EXPECT_EQ(dialog.m_bRunning, 1);
            d.Click(10000);
            ASSERT_TRUE(WaitForEnd(d, dialog));
            EXPECT_EQ(dialog.m_nResult, 1);
            ExpectNothingRunning(dialog);
            const int polls = drive->Count(Kind::ReadVariable, "AD5");
            d.WaitUntil([] { return false; }, 50);
            EXPECT_EQ(drive->Count(Kind::ReadVariable, "AD5"), polls);
        });
    }
};

TEST_F(CTestAnalogueRefTest, ShowsTheInputAndTheCommandItStandsFor)
{
    struct Case {
        double range; // "AnalogueInputsRange" [V]
        int mode;     // "ControlMode"
        const char* low;
        const char* high;
        double lowValue; // in the unit shown
        double highValue;
        std::vector<double> raw; // [counts], read by read; the last one is shown
        const char* voltage;
        const char* command;
        const char* label;
        const char* unit;
        double reference; // where the command bar starts
    };
    const Case cases[] = {
        {20, 1, "SPD_min", "SPD_max", -3000, 3000, {0, 32736}, "0.00", "0.00", "Speed command", "rpm", 0},
        {20,
         1,
         "SPD_min",
         "SPD_max",
         -3000,
         3000,
         {65472, 0},
         "-10.00",
         "-3000.00",
         "Speed command",
         "rpm",
         0},
        {5, 1, "SPD_min", "SPD_max", 100, 3000, {0, 16368}, "1.25", "825.00", "Speed command", "rpm", 100},
        {5, 2, "CRT_min", "CRT_max", 0, 10, {0, 65472}, "5.00", "10.00", "Current command", "A", 0},
        {10, 0, "POS_min", "POS_max", 2, 12, {0, 65472}, "3.30", "12.00", "Position command", "rot", 2},
        {10, 0, "POS_min", "POS_max", 2, 12, {65472, 0}, "0.00", "2.00", "Position command", "rot", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.voltage);
        ResetDrive();
        drive->Variable("AD5", c.raw);
        setup->SetParameterValueInBaseUnit("AnalogueInputsRange", c.range);
        setup->SetParameterValueInBaseUnit("ControlMode", c.mode);
        setup->FindParameter(c.low)->SetValue(c.lowValue);
        setup->FindParameter(c.high)->SetValue(c.highValue);
        CTestAnalogueRef dialog(setup.get(), 1, nullptr);
        RunUntilStopped(dialog, 3, [&](DialogDriver& d) {
            EXPECT_EQ(d.Text(1010), QString::fromUtf8(c.voltage));
            EXPECT_EQ(d.Text(1011), QString::fromUtf8(c.command));
            EXPECT_EQ(d.Text(1013), QString::fromUtf8(c.label));
            EXPECT_EQ(d.Text(1016), QStringLiteral("V"));
            EXPECT_EQ(d.Text(1017), QString::fromUtf8(c.unit));
            EXPECT_EQ(StatusText(d), QStringLiteral("Running test"));
            const CBarGraph& command = dialog.CommandBar();
            EXPECT_DOUBLE_EQ(command.Reference(), c.reference);
            EXPECT_DOUBLE_EQ(command.Value(), QString::fromUtf8(c.command).toDouble());
            EXPECT_DOUBLE_EQ(command.High(), c.highValue);
            EXPECT_DOUBLE_EQ(dialog.VoltageBar().Value(), QString::fromUtf8(c.voltage).toDouble());
            EXPECT_DOUBLE_EQ(dialog.VoltageBar().Low(), c.range == 20 ? -10.0 : 0.0);
        });
    }
}

TEST_F(CTestAnalogueRefTest, OpensWithTheBarsAtTheirReferences)
{
    setup->SetParameterValueInBaseUnit("ControlMode", 1);
    setup->FindParameter("SPD_min")->SetValue(100);
    setup->FindParameter("SPD_max")->SetValue(3000);
    CTestAnalogueRef dialog(setup.get(), 1, nullptr);
    Open(dialog, [&](DialogDriver& d) {
        EXPECT_EQ(dialog.CommandBar().Value(), 100.0);
        EXPECT_EQ(dialog.CommandBar().ValueText(), QStringLiteral("100.00"));
        EXPECT_EQ(dialog.VoltageBar().Value(), 0.0);
        EXPECT_EQ(dialog.VoltageBar().Color(), QColor(255, 0, 0));
        EXPECT_EQ(dialog.CommandBar().Color(), QColor(0, 255, 0));
        EXPECT_TRUE(d.Text(1010).isEmpty());
        d.Click(10024);
    });
    EXPECT_EQ(user.HelpTopics(), std::vector<unsigned>{CTestAnalogueRef::kHelpTopic});
}

TEST_F(CTestAnalogueRefTest, ShortCircuitOrAFailedReadEndsTheLoop)
{
    ExpectFailures<CTestAnalogueRef>({
        {"short circuit",
         [this] {
             drive->Variable("MER", {0, 0, 0x8002});
         },
         "Drive / Motor shortcircuit protection triggered."},
        {"input unreadable", [this] { drive->Fail(Kind::ReadVariable, "AD5", 3); }, ""},
        {"drive errors unreadable", [this] { drive->Fail(Kind::ReadVariable, "MER", 3); },
         CMC_TestDlg::msc_pszErrInternal},
        {"program does not start", [this] { drive->Fail(Kind::StartProgram, kProgram); },
         CMC_TestDlg::msc_pszErrInternal},
    });
}

TEST_F(CTestAnalogueRefTest, AMissingInputIsAnInternalError)
{
    auto lacking = SetupWithout("AD5");
    CTestAnalogueRef dialog(lacking.get(), 1, nullptr);
    RunOnce(dialog, [&](DialogDriver&) { EXPECT_EQ(dialog.m_strError, CMC_TestDlg::msc_pszErrInternal); });
}

TEST_F(CTestAnalogueRefTest, OtherDriveErrorsDoNotStopTheLoop)
{
    drive->Variable("MER", 0xF0E9);
    CTestAnalogueRef dialog(setup.get(), 1, nullptr);
    RunUntilStopped(dialog, 5);
}

TEST_F(CTestAnalogueRefTest, ClosingMidRunStopsTheProgram)
{
    CTestAnalogueRef dialog(setup.get(), 1, nullptr);
    const int result = Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return drive->Count(Kind::ReadVariable, "AD5") >= 3; }));
        // Close is pressed while the loop lets the dialog's events run.
        QMetaObject::invokeMethod(
            &dialog, [&] { dialog.reject(); }, Qt::QueuedConnection);
        ASSERT_TRUE(d.WaitUntil([&] { return !dialog.isVisible(); }));
    });
    EXPECT_EQ(result, IDCANCEL);
    ExpectNothingRunning(dialog);
    EXPECT_EQ(drive->Count(Kind::StopProgram), 1);
}

} // namespace
