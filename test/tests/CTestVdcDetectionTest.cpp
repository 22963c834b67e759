#include "IdentificationDialogTest.h"

#include "TestVdcDetection.h"

namespace {

constexpr const char* kProgram = "VDC_Detection_Test";
constexpr const char* kShortCircuit = "Drive / Motor shortcircuit protection triggered.";
using Kind = ScriptedDrive::Kind;

class CTestVdcDetectionTest : public IdentificationDialogTest {
protected:
    // The reference converter reads 65472 counts at "VdcMaxMeasurable" = 80 V.
    static double Counts(double volts) { return volts * 65472.0 / 80.0; }
};

TEST_F(CTestVdcDetectionTest, MeasuredVoltageGoesIntoVdcRoundedToTwoDecimals)
{
    drive->Program(kProgram).StartsAfter(2).EndsAfter(3).EndVariable("var_u2", Counts(36.6612));
    CTestVdcDetection dialog(setup.get(), 1, nullptr);
    RunOnce(dialog, [&](DialogDriver& d) {
        EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
        EXPECT_DOUBLE_EQ(Value("Vdc"), 36.66);
        EXPECT_EQ(d.Text(1012), QStringLiteral("36.66"));
        EXPECT_EQ(d.Text(1013), QStringLiteral("V"));
        EXPECT_EQ(StatusText(d), QStringLiteral("Running test"));
        ExpectNothingRunning(dialog);
        ExpectQuietAfterEnd(d, dialog, CTestVdcDetection::kHelpTopic);
        user.AnswerMessages([](const MessageBoxRequest&) { return IDNO; });
    });
}

TEST_F(CTestVdcDetectionTest, CloseAsksToKeepAChangedVoltage)
{
    const QString question = Question(QStringLiteral("Power supply:\tOld = 48\tNew = 36.66\r\n"));
    for (const AnswerCase& c : {AnswerCase{IDYES, IDOK, 1}, {IDNO, IDCANCEL, 1}, {IDCANCEL, IDCANCEL, 2}}) {
        SCOPED_TRACE(c.answer);
        ResetDrive();
        drive->Program(kProgram).EndVariable("var_u2", Counts(36.66));
        setup->SetParameterValueInBaseUnit("Vdc", 48.0);
        CTestVdcDetection dialog(setup.get(), 1, nullptr);
        RunAndClose(dialog, c, question);
        EXPECT_DOUBLE_EQ(Value("Vdc"), 36.66);
    }
}

TEST_F(CTestVdcDetectionTest, CloseDoesNotAskWhenTheTextsAgree)
{
    // 1000.004 V and 1000 V both print as "1000".
    setup->SetParameterValueInBaseUnit("VdcMaxMeasurable", 2000.0);
    setup->SetParameterValueInBaseUnit("Vdc", 1000.004);
    drive->Program(kProgram).EndVariable("var_u2", 1000.0 * 65472.0 / 2000.0);
    CTestVdcDetection dialog(setup.get(), 1, nullptr);
    EXPECT_EQ(RunOnce(dialog), IDCANCEL);
    EXPECT_DOUBLE_EQ(Value("Vdc"), 1000.0);
    EXPECT_TRUE(user.Messages().empty());
}

TEST_F(CTestVdcDetectionTest, FailuresLeaveVdcUnchanged)
{
    auto program = [this] { return &drive->Program(kProgram); };
    auto fail = [this](Kind kind, const char* name) { return [=, this] { drive->Fail(kind, name); }; };
    ExpectFailures<CTestVdcDetection>(
        {
            {"short circuit before the start", [&] { program()->NeverStarts().Variable("MER", 0x0002); },
             kShortCircuit},
            {"short circuit at the end", [&] { program()->EndVariable("MER", 0x0002); }, kShortCircuit},
            {"short circuit among others", [&] { program()->EndVariable("MER", 0xFFFF); }, kShortCircuit},
            {"program does not start", fail(Kind::StartProgram, kProgram), CMC_TestDlg::msc_pszErrInternal},
            {"drive errors unreadable", fail(Kind::ReadVariable, "MER"), CMC_TestDlg::msc_pszErrInternal},
            {"STARTED unreadable", fail(Kind::ReadUser, "STARTED"), ""},
            {"var_u2 unreadable", fail(Kind::ReadVariable, "var_u2"), ""},
            {"axis state unreadable", fail(Kind::GetAxisOn, ""), ""},
        },
        [this] { setup->SetParameterValueInBaseUnit("Vdc", 48.0); });
    EXPECT_DOUBLE_EQ(Value("Vdc"), 48.0);
}

TEST_F(CTestVdcDetectionTest, AMissingDriveVariableIsAnInternalError)
{
    for (const char* missing : {"var_u2", "MER"}) {
        SCOPED_TRACE(missing);
        auto lacking = SetupWithout(missing);
        CTestVdcDetection dialog(lacking.get(), 1, nullptr);
        RunOnce(dialog,
                [&](DialogDriver&) { EXPECT_EQ(dialog.m_strError, CMC_TestDlg::msc_pszErrInternal); });
        EXPECT_EQ(lacking->GetParameterValueInBaseUnit("Vdc"), 48.0);
    }
}

// Besides the short circuit only the protections that switch the stage off
// (supply, i2t, temperature) count.
TEST_F(CTestVdcDetectionTest, OnlyAShortCircuitOrAProtectionTripCountsAsADriveError)
{
    drive->Program(kProgram)
        .Variable("MER", 0xF0E9)
        .EndVariable("MER", 0xF0E9)
        .EndVariable("var_u2", Counts(30));
    CTestVdcDetection dialog(setup.get(), 1, nullptr);
    RunOnce(dialog, [&](DialogDriver&) { EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError; });
}

TEST_F(CTestVdcDetectionTest, ClosingMidRunStopsTheProgramWithoutAsking)
{
    drive->Program(kProgram).NeverEnds();
    CTestVdcDetection dialog(setup.get(), 1, nullptr);
    const int result = Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return drive->Count(Kind::GetAxisOn) >= 3; }));
        EXPECT_TRUE(drive->IsAxisOn());
        d.Cancel();
    });
    EXPECT_EQ(result, IDCANCEL);
    ExpectNothingRunning(dialog);
    EXPECT_EQ(drive->Count(Kind::StopProgram), 1);
    EXPECT_TRUE(user.Messages().empty());
}

} // namespace
