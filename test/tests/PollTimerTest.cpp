// The poll timer of the identification tests: a timer that cannot be
// created ends the run as failed with the system's reason, wherever the run
// asks for one, and leaves nothing running.
#include "IdentificationTestSupport.h"

#include "DetectHallGainOffset.h"
#include "DetectPolePairs.h"
#include "Dialog.h"
#include "TestAnalogueRef.h"
#include "TestHallSignals.h"
#include "TestPhaseConnections.h"
#include "TestRL.h"
#include "TestVdcDetection.h"
#include "TotalInertiaTest.h"

#include <optional>

namespace {

constexpr const char* kNoTimer = "No timer is left for the application.";

class PollTimerTest : public PositioningTest {
protected:
    struct Subject {
        const char* name;
        Maker make;
        std::function<void(ScriptedDrive&)> script = {}; // a run that passes
        const char* program = nullptr;                   // its main program
    };
};

TEST_F(PollTimerTest, EveryTestFailsAtStartWhenItsFirstPollCannotBeArmed)
{
    const std::vector<Subject> subjects = {
        {"phase connections", Make<CTestPhaseConnections>()},
        {"Hall signals", Make<CTestHallSignals>()},
        {"pole pairs", Make<CDetectPolePairs>()},
        {"Hall gain and offset", Make<CDetectHallGainOffset>()},
        {"R and L", Make<CTestRL>()},
        {"supply voltage", Make<CTestVdcDetection>()},
        {"total inertia", Make<CTotalInertiaTest>()},
        {"analogue reference", Make<CTestAnalogueRef>()},
    };
    for (const Subject& subject : subjects) {
        SCOPED_TRACE(subject.name);
        ResetDrive();
        const auto dialog = subject.make(setup.get());
        const auto before = ParameterValues(*setup);
        TimerRefusal refusal(kNoTimer);
        Open(*dialog, [&](DialogDriver& d) {
            d.Click(10000);
            ExpectOutcome(*dialog, kNoTimer);
        });
        EXPECT_EQ(ParameterValues(*setup), before);
    }
}

TEST_F(PollTimerTest, EveryLaterPollThatCannotBeArmedFailsTheRunAndTheNextStartWorks)
{
    setup->SetParameterValueInBaseUnit("TestCurrent", 2.0);
    const std::vector<Subject> subjects = {
        {"phase connections", Make<CTestPhaseConnections>(),
         [](ScriptedDrive& s) {
             s.Program(CTestPhaseConnections::kProgram)
                 .StartsAfter(2)
                 .EndsAfter(3)
                 .EndVariable("var_i1", 2.0 * 3273.6)
                 .EndVariable("var_i2", -1.0 * 3273.6);
         },
         CTestPhaseConnections::kProgram},
        {"supply voltage", Make<CTestVdcDetection>(),
         [](ScriptedDrive& s) { s.Program("VDC_Detection_Test").EndsAfter(2).EndVariable("var_u2", 30000); },
         "VDC_Detection_Test"},
        {"total inertia", Make<CTotalInertiaTest>(),
         [](ScriptedDrive& s) {
             s.Program("Total_Inertia_Identification_Test")
                 .Result("test_flag", 1)
                 .Result("delta_time", 100)
                 .Result("delta_speed", 30);
         },
         "Total_Inertia_Identification_Test"},
    };
    for (const Subject& subject : subjects) {
        SCOPED_TRACE(subject.name);
        // Each poll in turn is refused, the first few granted, until a run
        // needs no more polls than granted and passes.
        bool mainProgramPolled = false;
        for (int granted = 0;; ++granted) {
            SCOPED_TRACE(granted);
            ASSERT_LT(granted, 40) << "the run never passed";
            ResetDrive();
            subject.script(*drive);
            const auto dialog = subject.make(setup.get());
            user.AnswerMessages([](const MessageBoxRequest&) { return IDNO; });
            std::optional<TimerRefusal> refusal(std::in_place, kNoTimer, granted);
            bool passed = false;
            Open(*dialog, [&](DialogDriver& d) {
                ASSERT_TRUE(StartAndWait(d, *dialog));
                passed = dialog->m_nResult == 1;
                if (passed)
                    return;
                ExpectOutcome(*dialog, kNoTimer);
                mainProgramPolled = mainProgramPolled || drive->Starts(subject.program) == 1;
                // Timers again: the dialog is open for a new start.
                refusal.reset();
                ResetDrive();
                subject.script(*drive);
                ASSERT_TRUE(StartAndWait(d, *dialog));
                EXPECT_EQ(dialog->m_nResult, 1) << dialog->m_strError;
            });
            if (passed)
                break;
        }
        EXPECT_TRUE(mainProgramPolled);
    }
}

} // namespace
