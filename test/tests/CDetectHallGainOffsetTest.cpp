#include "IdentificationTestSupport.h"

#include "DetectHallGainOffset.h"

#include <limits>

namespace {

constexpr const char* kProgram = CDetectHallGainOffset::kProgram;
const std::vector<std::string> kParameters = {"ALPHA",    "HALLCGAIN", "HALLCOFF",  "HALLBOFF",
                                              "HALLAOFF", "HALLAGAIN", "HALLBGAIN", "ZAOFF"};

class CDetectHallGainOffsetTest : public PositioningTest {
protected:
    void SetUp() override
    {
        PositioningTest::SetUp();
        ScriptProgram();
    }
    // The program reports `status` after twelve samples, with a distinct
    // value per result; the setup holds 1 in each result parameter.
    void ScriptProgram(double status = 1.0, CMC_Setup* s = nullptr)
    {
        std::vector<double> statuses(11, 0.0);
        statuses.push_back(status);
        drive->Program(kProgram).Variable("WEAKINC", statuses);
        for (std::size_t i = 0; i < kParameters.size(); ++i) {
            drive->Program(kProgram).Variable(CDetectHallGainOffset::kTransfers[i].variable, Result(i));
            (s ? s : setup.get())->SetParameterValueInBaseUnit(kParameters[i], 1.0);
        }
    }
    static double Result(std::size_t row) { return 1000.0 + 111.0 * static_cast<double>(row); }
    // The first `count` results, in the order of transfer, are in the setup.
    static void ExpectResultsWritten(const CMC_Setup& s, std::size_t count)
    {
        for (std::size_t i = 0; i < kParameters.size(); ++i)
            EXPECT_EQ(s.GetParameterValueInBaseUnit(kParameters[i]), i < count ? Result(i) : 1.0)
                << kParameters[i];
    }
};

TEST_F(CDetectHallGainOffsetTest, TheEightResultsGoIntoTheSetupWhenTheProgramReports)
{
    // 65472 counts show as 5 V and 13094.4 counts as 1 V, whatever the converter.
    setup->SetParameterValueInBaseUnit("ADCbits", 12);
    drive->Program(kProgram).Variable("AD6", 65472.0).Variable("AD3", 13094.4).Variable("AD9", 0.0);
    CDetectHallGainOffset dialog(setup.get(), 1, nullptr);
    EXPECT_EQ(RunOnce(dialog,
                      [&](DialogDriver& d) {
                          ExpectOutcome(dialog, kPasses);
                          EXPECT_EQ(StatusText(d), QStringLiteral("Computing data"));
                          EXPECT_EQ(QStringList({d.Text(1029), d.Text(1030), d.Text(1031)}),
                                    QStringList({"5", "1", "0"}));
                          EXPECT_EQ(dialog.Traces().Trace(0).Points(0).size(), 12u);
                          EXPECT_DOUBLE_EQ(dialog.Traces().Trace(1).Points(0).back(), 1.0);
                          ExpectQuietAfterEnd(d, dialog, CDetectHallGainOffset::kHelpTopic);
                      }),
              IDOK);
    ExpectResultsWritten(*setup, kParameters.size());
    EXPECT_EQ(drive->Count(Kind::ReadVariable, "WEAKINC"), 12);
}

TEST_F(CDetectHallGainOffsetTest, TheProgramsReportDecidesAndFailuresKeepOnlyTheResultsReadBefore)
{
    const auto status = [this](double v) { return [this, v](ScriptedDrive&) { ScriptProgram(v); }; };
    const auto result = [](const char* name, double v) {
        return [=](ScriptedDrive& s) { s.Program(kProgram).Variable(name, v); };
    };
    const auto fail = [](const char* name, int occurrence) {
        return [=](ScriptedDrive& s) { s.Fail(Kind::ReadVariable, name, occurrence); };
    };
    const auto mer = [](std::vector<double> bits) {
        return [=](ScriptedDrive& s) { s.Program(kProgram).Variable("MER", bits); };
    };
    // MER is read once before the watch, once per sample and once before the
    // transfer; bits outside the mask (but the protection trips) pass every check.
    std::vector<double> beforeTransfer(13, 0x70E9);
    beforeTransfer.push_back(0x8000);
    const std::vector<std::pair<Case, std::size_t>> cases = {
        // results written
        {{"a Hall signal missing", status(-1.0), CDetectHallGainOffset::kSignalMissingText}, 0},
        {{"phase and Hall orders differ", status(-2.0), CDetectHallGainOffset::kOrderMismatchText}, 0},
        {{"any other report", status(7.0), kPasses}, 8},
        {{"another negative report", status(-3.0), kPasses}, 8},
        {{"a result that is no number", result("AD3OFF", std::numeric_limits<double>::quiet_NaN()),
          kInternal},
         0},
        {{"the last result infinite", result("ZAOFF", std::numeric_limits<double>::infinity()), kInternal},
         0},
        {{"a result unreadable", fail("AD6OFF", 1), kDriveText}, 4},
        {{"a result missing", [](ScriptedDrive&) {}, kInternal, "SFTCWEAK"}, 2},
        {{"WEAKINC missing", [](ScriptedDrive&) {}, kInternal, "WEAKINC"}, 0},
        {{"AD6 unreadable at once", fail("AD6", 1), kDriveText}, 0},
        {{"AD9 unreadable while watching", fail("AD9", 3), kDriveText}, 0},
        {{"WEAKINC unreadable", fail("WEAKINC", 1), kDriveText}, 0},
        {{"short circuit before watching", mer({0x0002}), kShortCircuit}, 0},
        {{"ENABLE off while watching", mer({0, 0, 0, 0x8000}), kDisabled}, 0},
        {{"ENABLE off before the transfer", mer(beforeTransfer), kDisabled}, 0},
    };
    for (const auto& [c, written] : cases) {
        // Close ends with OK whatever happened: the caller recomputes.
        RunCases(
            Make<CDetectHallGainOffset>(), {c}, [&] { ScriptProgram(); },
            [](DialogDriver& d, CMC_TestDlg& dialog) {
                ASSERT_TRUE(StartAndWait(d, dialog));
                d.Cancel();
                EXPECT_EQ(dialog.result(), IDOK);
            },
            [&](const Case&, const CMC_Setup& used) { ExpectResultsWritten(used, written); });
    }
}

TEST_F(CDetectHallGainOffsetTest, StopOrCloseWhileWatchingEndsWithoutAResult)
{
    drive->Program(kProgram).Variable("WEAKINC", 0.0); // never reports
    for (const int button : {10000, 2}) {
        SCOPED_TRACE(button);
        CDetectHallGainOffset dialog(setup.get(), 1, nullptr);
        const int reads = drive->Count(Kind::ReadVariable, "AD6");
        EXPECT_EQ(Open(dialog,
                       [&](DialogDriver& d) {
                           PressWhen press(d, button, [&] {
                               return drive->Count(Kind::ReadVariable, "AD6") >= reads + 6;
                           });
                           d.Click(10000);
                           ASSERT_TRUE(WaitForEnd(d, dialog));
                           EXPECT_EQ(ResultText(d),
                                     button == 10000 ? QStringLiteral("The test was stopped.") : QString());
                       }),
                  IDOK);
        EXPECT_EQ(dialog.m_nResult, -1);
        ExpectNothingRunning(dialog);
    }
    ExpectResultsWritten(*setup, 0);
}

} // namespace
