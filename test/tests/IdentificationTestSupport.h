// Base of the GUI tests of the phase connection, Hall signals, pole pairs and
// Hall gain and offset tests: table cases run on fresh drives, setups that
// lack a drive variable, and a user who presses a control in the middle of a
// dialog's own loop.
#pragma once

#include "IdentificationDialogTest.h"

#include <cstring>
#include <map>
#include <memory>

// Presses control `id` once `when` holds, looked at on every turn of the
// event loop, the dialog's own message pump included.
class PressWhen {
public:
    PressWhen(DialogDriver& d, int id, std::function<bool()> when)
        : m_turn([&d, id, when = std::move(when)] {
              if (!when())
                  return false;
              d.Click(id);
              return true;
          })
    {
    }

private:
    EveryTurn m_turn;
};

class PositioningTest : public IdentificationDialogTest {
protected:
    using Kind = ScriptedDrive::Kind;
    // Expected outcomes: a text, the drive's own text, or a pass.
    static constexpr const char* kDriveText = nullptr;
    static constexpr const char* kPasses = "(passes)";
    static constexpr const char* kShortCircuit = "Drive / Motor shortcircuit protection triggered.";
    static constexpr const char* kDisabled = "Drive / Motor ENABLE input is in DISABLED state.";
    static inline const char* const kInternal = CMC_TestDlg::msc_pszErrInternal;

    struct Case {
        const char* name;
        std::function<void(ScriptedDrive&)> script;
        const char* outcome;
        const char* missing = nullptr; // a drive variable the setup lacks
    };

    using Maker = std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)>;
    template <typename Dialog> static Maker Make()
    {
        return [](CMC_Setup* s) { return std::make_unique<Dialog>(s, 1, nullptr); };
    }

    // Runs each case on a new drive with a dialog over the reference setup,
    // or over a copy that lacks the case's variable: `prepare` scripts what
    // all cases share, `work` runs the dialog (by default Start and wait for
    // the end), `after` checks the setup once the dialog has closed.
    void RunCases(const Maker& make, const std::vector<Case>& cases,
                  const std::function<void()>& prepare = {},
                  const std::function<void(DialogDriver&, CMC_TestDlg&)>& work = {},
                  const std::function<void(const Case&, const CMC_Setup&)>& after = {})
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ResetDrive();
            if (prepare)
                prepare();
            c.script(*drive);
            std::unique_ptr<CMC_Setup> copy;
            if (c.missing) {
                copy = SetupWithout(c.missing);
                copy->SetMCVersion(setup->GetMCVersion());
            }
            const auto dialog = make(copy ? copy.get() : setup.get());
            Open(*dialog, [&](DialogDriver& d) {
                if (work) {
                    work(d, *dialog);
                } else {
                    ASSERT_TRUE(StartAndWait(d, *dialog));
                }
                ExpectOutcome(*dialog, c.outcome);
            });
            if (after)
                after(c, copy ? *copy : *setup);
        }
    }

    // The run ended as expected and nothing is left running.
    void ExpectOutcome(const CMC_TestDlg& dialog, const char* outcome) const
    {
        ExpectNothingRunning(dialog);
        if (outcome && std::strcmp(outcome, kPasses) == 0) {
            EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
            return;
        }
        const std::string expected = outcome ? outcome : drive->LastError();
        EXPECT_EQ(dialog.m_nResult, 0);
        EXPECT_EQ(dialog.m_strError, expected);
        EXPECT_EQ(dialog.GetChildText(10002).toStdString(), expected.empty() ? "Test failed." : expected);
    }

    // The values of the requests of a kind and name, failed ones included.
    std::vector<double> Requested(Kind kind, const std::string& name) const
    {
        std::vector<double> values;
        for (const auto& r : drive->Requests())
            if (r.kind == kind && r.name == name)
                values.push_back(r.value);
        return values;
    }

    // The registers written to the drive, in order.
    std::vector<std::string> WrittenRegisters() const
    {
        std::vector<std::string> names;
        for (const auto& r : drive->Requests())
            if (r.kind == Kind::WriteParameter)
                names.push_back(r.name);
        return names;
    }

    static std::map<std::string, double> ParameterValues(const CMC_Setup& s)
    {
        std::map<std::string, double> values;
        for (const auto& p : s.GetParameters())
            values[p->Name()] = p->GetValueInInternalUnit();
        return values;
    }
};
