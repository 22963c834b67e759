// Base of the tuning tests on the virtual drive: on the setup a user types
// from a motor's datasheet (DatasheetSetup), the supply, the Hall sensors, the resistance and
// the inductance identified through their dialogs, and the current loop
// tuned and tried in its own dialog, as a drive is commissioned before its
// outer loops are tuned.
#pragma once

#include "VirtualDriveDialogTest.h"

#include "EngineCore.h"
#include "TestCurrent.h"
#include "TuningPlan.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

namespace simtest {

class DatasheetCommissioningTest : public VirtualDriveDialogTest {
protected:
    // Supply, Hall sensors, resistance and inductance, through their dialogs.
    void Identify(CMC_Setup* s)
    {
        CTestVdcDetection vdc(s, 1, nullptr);
        EXPECT_EQ(Run(vdc), IDOK);
        ExpectPassed(vdc);
        CDetectHallGainOffset halls(s, 1, nullptr);
        EXPECT_EQ(Run(halls), IDOK);
        ExpectPassed(halls);
        CTestRL rl(s, 1, nullptr);
        EXPECT_EQ(Run(rl), IDOK);
        ExpectPassed(rl);
    }

    // Opens the current tuning dialog, goes to its Test page, presses Tune
    // and Start, lets `during` work the run, and ends with OK once the log is
    // drawn.
    void TuneAndStart(CTestCurrent& dialog, double kpScale,
                      const std::function<void(DialogDriver&)>& during = {})
    {
        user.OnDialog(CTestCurrent::kTemplateId, [&](DialogDriver& d) {
            d.SelectTab(CTestCurrent::kTab, 1);
            d.Click(CTestCurrent::kTune);
            d.SelectTab(CTestCurrent::kTab, 0);
            d.SetEditText(1303, QStringLiteral("1000"));
            d.SetEditText(1120, QString::number(LinearTestCurrent(dialog.GetSetup(), kpScale), 'g', 6));
            d.SelectTab(CTestCurrent::kTab, 1);
            d.Click(10000);
            if (during)
                during(d);
            EXPECT_TRUE(d.WaitUntil([&] { return dialog.m_bRunning == 0; })) << "the run did not end";
            EXPECT_FALSE(dialog.HasActiveTimers());
            d.Ok();
        });
        EXPECT_EQ(dialog.DoModal(), IDOK);
        ExpectPassed(dialog);
    }

    // Identified, and the current loop tuned with the setup's bandwidth.
    void CommissionCurrentLoop(CMC_Setup* s)
    {
        Identify(s);
        CTestCurrent dialog(s, 1, nullptr);
        TuneAndStart(dialog, 1.0);
    }
};

} // namespace simtest
