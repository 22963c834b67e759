// Base of the test dialogs' GUI tests: the reference setup with the module's
// scale, a scripted drive made the active drive on a stepped clock and
// connected to the setup, a scripted user (timers fire at once), and
// captured errors. The preliminary positioning test is scripted to succeed.
//
//   TEST_F(MyTest, Passes)
//   {
//       drive->Program("VDC_Detection_Test").EndVariable("var_u2", 30000);
//       CTestVdcDetection dialog(setup.get(), 1, nullptr);
//       RunOnce(dialog, [&](DialogDriver& d) { EXPECT_EQ(dialog.m_nResult, 1); });
//       ExpectNothingRunning(dialog);
//   }
#pragma once

#include "Automation.h"
#include "Comm.h"
#include "EngineTestSetup.h"
#include "ScriptedDrive.h"
#include "TestDlg.h"

#include <functional>
#include <memory>

class TestDialogTest : public EngineTest {
protected:
    // The default preliminary test's results.
    static constexpr double kPreliminaryIn1 = 1.0;
    static constexpr double kRefTest = 1200.0; // "REFTST_V"
    static constexpr double kRIncTest = 35.0;  // "RINCTST_V"

    void SetUp() override
    {
        EngineTest::SetUp();
        setup = Reference();
        ASSERT_TRUE(setup);
        drive = std::make_shared<ScriptedDrive>();
        clock = std::make_shared<SteppedClock>(0.001);
        CMC_Comm::SetActiveLink(drive, clock);
        ASSERT_TRUE(CMC_Comm::ConnectSetup(*setup)) << CMC_Comm::GetLastErrorText();
        ScriptPreliminary();
    }

    void TearDown() override
    {
        CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(nullptr);
        CMC_Comm::SetActiveLink(nullptr, nullptr);
        EngineTest::TearDown();
    }

    // Scripts a run of the preliminary test (run: 0 for the first start, 1
    // for the second...): its "In1" result and "REFTST_V", "RINCTST_V".
    ScriptedDrive::RunScript& ScriptPreliminary(double in1 = kPreliminaryIn1, double refTest = kRefTest,
                                                double rIncTest = kRIncTest, int run = 0)
    {
        return drive->Program("Initial_Positioning_Test", run)
            .Result("In1", in1)
            .Variable("REFTST_V", refTest)
            .Variable("RINCTST_V", rIncTest);
    }

    // Opens the dialog modally and lets script work it; what the script
    // leaves open is closed with the dialog's OnCancel. Returns DoModal's result.
    int Open(CMC_TestDlg& dialog, DialogScript script)
    {
        user.OnDialog(dialog.GetTemplateId(), std::move(script));
        return dialog.DoModal();
    }

    // Lets the dialog run until its run has ended; false when it did not.
    static bool WaitForEnd(DialogDriver& d, const CMC_TestDlg& dialog, int maxRounds = 200000)
    {
        return d.WaitUntil([&dialog] { return dialog.m_bRunning == 0; }, maxRounds);
    }

    // Presses Start and waits for the end of the run.
    static bool StartAndWait(DialogDriver& d, const CMC_TestDlg& dialog, int maxRounds = 200000)
    {
        d.Click(10000);
        return WaitForEnd(d, dialog, maxRounds);
    }

    // Opens the dialog, presses Start, waits for the end of the run, then
    // runs `then` (if any) before the dialog is closed. Returns DoModal's result.
    int RunOnce(CMC_TestDlg& dialog, DialogScript then = {})
    {
        return Open(dialog, [&dialog, then](DialogDriver& d) {
            EXPECT_TRUE(StartAndWait(d, dialog)) << "the run did not end";
            if (then)
                then(d);
        });
    }

    // No timer, no program and no power stage left on.
    void ExpectNothingRunning(const CMC_TestDlg& dialog) const
    {
        EXPECT_EQ(dialog.m_bRunning, 0);
        EXPECT_FALSE(dialog.HasActiveTimers());
        EXPECT_FALSE(drive->IsProgramRunning());
        EXPECT_FALSE(drive->IsAxisOn());
    }

    // The result text (10002) and status text (10001) of a dialog.
    static QString ResultText(const DialogDriver& d) { return d.Text(10002); }
    static QString StatusText(const DialogDriver& d) { return d.Text(10001); }

    std::unique_ptr<CMC_Setup> setup;
    std::shared_ptr<ScriptedDrive> drive;
    std::shared_ptr<SteppedClock> clock;
    ScriptedUser user;
};
