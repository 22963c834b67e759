// Helpers of the GUI tests of the resistance and inductance, supply voltage,
// inertia and analogue reference tests: a fresh scripted drive per table
// case, the failure table run against a dialog, the close question, and a
// setup that lacks a drive variable.
#pragma once

#include "TestDialogTest.h"

#include "CaseInsensitive.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// An answer to the close question, the dialog's result and how often the
// question came (a dialog that stays open is closed again, answering No).
struct AnswerCase {
    int answer;
    int result;
    int questions;
};

class IdentificationDialogTest : public TestDialogTest {
protected:
    struct FailureCase {
        const char* name;
        std::function<void()> script; // scripts the drive
        std::string error;            // empty: the drive's own error text
        std::function<void(DialogDriver&)> check = {};
    };

    // A new scripted drive with the default preliminary test.
    void ResetDrive()
    {
        drive = std::make_shared<ScriptedDrive>();
        CMC_Comm::SetActiveLink(drive, clock);
        ScriptPreliminary();
    }

    // Runs each case on a new drive: the run fails with its text, shows it,
    // and leaves nothing running; closing asks nothing.
    template <typename Dialog>
    void ExpectFailures(const std::vector<FailureCase>& cases, const std::function<void()>& prepare = {})
    {
        for (const FailureCase& c : cases) {
            SCOPED_TRACE(c.name);
            ResetDrive();
            if (prepare)
                prepare();
            c.script();
            const auto questions = user.Messages().size();
            Dialog dialog(setup.get(), 1, nullptr);
            RunOnce(dialog, [&](DialogDriver& d) {
                ExpectNothingRunning(dialog);
                EXPECT_EQ(dialog.m_nResult, 0);
                const std::string error = c.error.empty() ? drive->LastError() : c.error;
                EXPECT_EQ(dialog.m_strError, error);
                EXPECT_EQ(ResultText(d).toStdString(), error.empty() ? "Test failed." : error);
                if (c.check)
                    c.check(d);
            });
            EXPECT_EQ(user.Messages().size(), questions);
        }
    }

    // After the end of a run a tick asks the drive nothing; Help opens the topic.
    void ExpectQuietAfterEnd(DialogDriver& d, CMC_TestDlg& dialog, unsigned helpTopic)
    {
        const auto requests = drive->Requests().size();
        dialog.SetTimer(1, 20);
        d.WaitUntil([&] { return !dialog.HasActiveTimers(); });
        EXPECT_EQ(drive->Requests().size(), requests);
        d.Click(10024);
        EXPECT_EQ(user.HelpTopics().back(), helpTopic);
    }

    // Runs the test `runs` times and closes the dialog, answering the close
    // question (which must be `expected`) as the case says; a dialog that
    // stays open is checked by `stillOpen` and closed again. Returns the
    // dialog's result.
    int RunAndClose(CMC_TestDlg& dialog, const AnswerCase& c, const QString& expected, int runs = 1,
                    const DialogScript& stillOpen = {})
    {
        int asked = 0;
        user.AnswerMessages([&](const MessageBoxRequest& request) {
            EXPECT_EQ(request.text, expected);
            EXPECT_EQ(request.type, unsigned{MB_YESNOCANCEL | MB_ICONQUESTION});
            return ++asked == 1 ? c.answer : IDNO;
        });
        const int result = Open(dialog, [&](DialogDriver& d) {
            for (int run = 0; run < runs; ++run)
                ASSERT_TRUE(StartAndWait(d, dialog));
            d.Cancel();
            if (dialog.isVisible()) {
                if (stillOpen)
                    stillOpen(d);
                d.Cancel();
            }
        });
        EXPECT_EQ(asked, c.questions);
        EXPECT_EQ(result, c.result);
        user.AnswerMessages({});
        return result;
    }

    static QString Question(const QString& lines)
    {
        return QStringLiteral(
                   "A different value than specified has been detected for the following parameter(s):"
                   "\r\n\r\n") +
               lines + QStringLiteral("\r\nDo you want to save the new value(s)? (Recommended)");
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
    void Set(const char* name, double value) { setup->SetParameterValueInBaseUnit(name, value); }

    // A connected copy of the setup without the named drive variable.
    std::unique_ptr<CMC_Setup> SetupWithout(const char* missing) const
    {
        auto copy = std::make_unique<CMC_Setup>(setup->DescriptionPtr());
        for (const auto& p : setup->GetParameters())
            if (CMC_Parameter* q = copy->AddParameter(p->Name()))
                q->SetValueInInternalUnit(p->GetValueInInternalUnit());
        for (const auto& v : setup->GetVariables())
            if (!EqualsIgnoringCase(v->Name(), missing))
                copy->AddVariable(v->Name());
        CMC_Comm::ConnectSetup(*copy);
        return copy;
    }
};
