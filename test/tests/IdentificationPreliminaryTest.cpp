// The preliminary positioning test and the hand-over to the main program, as
// the phase connection, Hall signals, pole pairs and Hall gain and offset
// tests share them: every failure of those stages, for each of the four.
#include "IdentificationTestSupport.h"

#include "DetectHallGainOffset.h"
#include "DetectPolePairs.h"
#include "TestHallSignals.h"
#include "TestPhaseConnections.h"

#include <algorithm>
#include <ostream>
#include <string_view>

namespace {

constexpr const char* kPreliminary = "Initial_Positioning_Test";

struct Subject {
    const char* name;
    const char* program;
    bool negativeIn1Passes; // the Hall tests fail only on exactly 0
    std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> make;
};

void PrintTo(const Subject& subject, std::ostream* os)
{
    *os << subject.name;
}

class PreliminaryStageTest : public PositioningTest, public ::testing::WithParamInterface<Subject> {};

TEST_P(PreliminaryStageTest, EveryFailureEndsTheRunAndOnlyASuccessLaunchesTheMainProgram)
{
    const Subject& subject = GetParam();
    const auto in1 = [](double v) {
        return [v](ScriptedDrive& s) { s.Program(kPreliminary).Result("In1", v); };
    };
    const auto fail = [](Kind kind, const char* name) {
        return [=](ScriptedDrive& s) { s.Fail(kind, name); };
    };
    const auto mer = [](double bits) {
        return [=](ScriptedDrive& s) { s.Program(kPreliminary).EndVariable("MER", bits); };
    };
    // The main program's start is made to fail: a case named "passes..."
    // ends with the internal error after that start was attempted.
    const char* const kMain = kInternal;
    const char* const kZero = CMC_TestDlg::msc_pszErrInZero;
    const std::vector<Case> cases = {
        {"passes with a positive result", in1(0.001), kMain},
        {"no result", in1(ScriptedDrive::kNoResult), kInternal},
        {"a result of 0", in1(0.0), kZero},
        {subject.negativeIn1Passes ? "passes with a negative result" : "a negative result", in1(-5.0),
         subject.negativeIn1Passes ? kMain : kZero},
        {"In1 not written", fail(Kind::WriteUser, "In1"), kDriveText},
        {"preliminary program not started", fail(Kind::StartProgram, kPreliminary), kInternal},
        {"STARTED unreadable", fail(Kind::ReadUser, "STARTED"), kDriveText},
        {"axis state unreadable", fail(Kind::GetAxisOn, ""), kDriveText},
        {"MER unreadable", fail(Kind::ReadVariable, "MER"), kInternal},
        {"In1 unreadable", fail(Kind::ReadUser, "In1"), kDriveText},
        {"REFTST_V unreadable", fail(Kind::ReadVariable, "REFTST_V"), kDriveText},
        {"RINCTST_V unreadable", fail(Kind::ReadVariable, "RINCTST_V"), kDriveText},
        {"REFTST_V missing", in1(1.0), kInternal, "REFTST_V"},
        {"RINCTST_V missing", in1(1.0), kInternal, "RINCTST_V"},
        {"short circuit before the start",
         [](ScriptedDrive& s) { s.Program(kPreliminary).NeverStarts().Variable("MER", 0x0002); },
         kShortCircuit},
        {"ENABLE off at the end", mer(0x8000), kDisabled},
        {"short circuit and ENABLE off", mer(0x8002), kShortCircuit},
        {"passes with errors outside the mask", mer(0x70E9), kMain},
        {"RefTest not written", fail(Kind::WriteUser, "RefTest"), kDriveText},
        {"RIncTest not written", fail(Kind::WriteUser, "RIncTest"), kDriveText},
    };
    std::map<std::string, double> before;
    const auto prepare = [&] {
        drive->Fail(Kind::StartProgram, subject.program);
        setup->SetParameterValueInBaseUnit("ABSTART_MINMOVE", 0.0); // as every test dialog does
        before = ParameterValues(*setup);
    };
    RunCases(subject.make, cases, prepare, {}, [&](const Case& c, const CMC_Setup& used) {
        if (!c.missing) {
            EXPECT_EQ(ParameterValues(used), before);
        }
        const bool reachedMain = std::string_view(c.name).starts_with("passes");
        const auto attempts = std::count_if(drive->Requests().begin(), drive->Requests().end(), [&](auto& r) {
            return r.kind == Kind::StartProgram && r.program == subject.program;
        });
        EXPECT_EQ(attempts, reachedMain ? 1 : 0);
        if (reachedMain) {
            EXPECT_EQ(drive->Written(subject.program, "RefTest"), kRefTest);
            EXPECT_EQ(drive->Written(subject.program, "RIncTest"), kRIncTest);
            EXPECT_EQ(drive->Written(kPreliminary, "In1"), 5401.0); // the test current, truncated
        }
    });
}

template <typename Dialog> Subject Make(const char* name, bool negativeIn1Passes)
{
    return {name, Dialog::kProgram, negativeIn1Passes,
            [](CMC_Setup* s) { return std::make_unique<Dialog>(s, 1, nullptr); }};
}

INSTANTIATE_TEST_SUITE_P(IdentificationTests, PreliminaryStageTest,
                         ::testing::Values(Make<CTestPhaseConnections>("PhaseConnections", false),
                                           Make<CTestHallSignals>("HallSignals", true),
                                           Make<CDetectPolePairs>("PolePairs", false),
                                           Make<CDetectHallGainOffset>("HallGainOffset", true)),
                         [](const ::testing::TestParamInfo<Subject>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
