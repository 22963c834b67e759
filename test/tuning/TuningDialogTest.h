// Base of the controller tuning dialogs' tests against the scripted drive:
// the dialogs open on their "Test" page, where Start is.
#pragma once

#include "IdentificationTestSupport.h"

#include <functional>
#include <vector>

class TuningDialogTest : public PositioningTest {
protected:
    // The tab control of the tuning dialogs, and its "Test" page.
    static constexpr int kTab = 1300;
    static constexpr int kTestPage = 1;

    // Opens the dialog on the "Test" page and lets `script` work it.
    int OpenOnTestPage(CMC_TestDlg& dialog, const std::function<void(DialogDriver&)>& script)
    {
        return Open(dialog, [&](DialogDriver& d) {
            d.SelectTab(kTab, kTestPage);
            ASSERT_EQ(d.CurrentTab(kTab), kTestPage);
            script(d);
        });
    }

    // Runs each case on a new drive: the run fails with its text (empty:
    // the drive's own), shows it again after a trip to the first page and
    // back, and leaves nothing running.
    template <typename Dialog> void ExpectFailuresOnTestPage(const std::vector<FailureCase>& cases)
    {
        for (const FailureCase& c : cases) {
            SCOPED_TRACE(c.name);
            ResetDrive();
            c.script();
            Dialog dialog(setup.get(), 1, nullptr);
            OpenOnTestPage(dialog, [&](DialogDriver& d) {
                ASSERT_TRUE(StartAndWait(d, dialog));
                EXPECT_EQ(dialog.m_nResult, 0);
                EXPECT_EQ(dialog.m_strError, c.error.empty() ? drive->LastError() : c.error);
                d.SelectTab(kTab, 0);
                d.SelectTab(kTab, kTestPage);
                EXPECT_EQ(ResultText(d).toStdString(), dialog.m_strError);
            });
            ExpectNothingRunning(dialog);
        }
    }
};
