#include "IdentificationTestSupport.h"

#include "TestHallSignals.h"

#include <array>

namespace {

constexpr const char* kProgram = CTestHallSignals::kProgram;

class CTestHallSignalsTest : public PositioningTest {
protected:
    // The three signals [V] sample by sample, the last value repeating; the
    // reference converter reads 65472 counts at 5 V.
    void ScriptSignals(std::vector<double> a, std::vector<double> b, std::vector<double> c)
    {
        for (auto* volts : {&a, &b, &c})
            for (double& v : *volts)
                v *= 65472.0 / 5.0;
        drive->Program(kProgram).Variable("AD6", a).Variable("AD3", b).Variable(
            setup->GetMCVersion() > 2 ? "AD9" : "AD8", c);
    }
    // Starts, presses Stop once `samples` samples were taken, waits for the end.
    void StartAndStopAfter(DialogDriver& d, const CMC_TestDlg& dialog, int samples)
    {
        PressWhen stop(d, 10000, [=, this] { return drive->Count(Kind::ReadVariable, "AD6") >= samples; });
        ASSERT_TRUE(StartAndWait(d, dialog));
    }
};

TEST_F(CTestHallSignalsTest, PassesWhenEverySignalSwingsAndShowsTheSignalsLive)
{
    ScriptSignals({2.5, 3.6, 4.0}, {2.5, 2.5, 1.2}, {0.5, 4.5});
    CTestHallSignals dialog(setup.get(), 1, nullptr);
    const auto before = ParameterValues(*setup);
    Open(dialog, [&](DialogDriver& d) {
        StartAndStopAfter(d, dialog, 12);
        ExpectOutcome(dialog, kPasses);
        EXPECT_EQ(StatusText(d), QStringLiteral("Running the test"));
        // The boxes show every tenth sample, the traces every sample.
        EXPECT_EQ(QStringList({d.Text(1029), d.Text(1030), d.Text(1031)}), QStringList({"4", "1.2", "4.5"}));
        const int colours[] = {4, 1, 16};
        for (int i = 0; i < 3; ++i) {
            const OscilloscopeChannel& channel = dialog.Traces().Trace(i).Channel(0);
            EXPECT_EQ(dialog.Traces().Trace(i).Points(0).size(), 12u);
            EXPECT_EQ(channel.color, RGB16(colours[i]));
            EXPECT_EQ(channel.lowerLimit + channel.upperLimit, 5.0); // -1 V .. 6 V
        }
        EXPECT_DOUBLE_EQ(dialog.Traces().Trace(2).Points(0).front(), 0.5);
        ExpectQuietAfterEnd(d, dialog, CTestHallSignals::kHelpTopic);
    });
    EXPECT_EQ(Requested(Kind::WriteUser, "run_test"), (std::vector<double>{1.0, 0.0}));
    EXPECT_EQ(ParameterValues(*setup), before);
}

TEST_F(CTestHallSignalsTest, ASignalMustMoveByMoreThanOneVoltFromItsFirstSample)
{
    struct Case {
        const char* name;
        std::vector<double> a, b, c; // [V]
        int samples;
        std::array<bool, 3> changed;
    };
    const std::vector<Case> cases = {
        {"exactly 1 V", {0.0, 1.0}, {2.0, 0.9}, {2.0, 3.1}, 3, {false, true, true}},
        {"stopped at the first sample", {0.0, 4.0}, {0.0, 4.0}, {0.0, 4.0}, 1, {false, false, false}},
        {"back where it started", {2.5, 4.0, 2.5}, {2.5, 1.4}, {2.5, 2.5, 2.5, 3.6}, 4, {true, true, true}},
        {"wandering within 1 V", {2.5}, {2.5, 3.4, 1.6}, {2.5, 2.51}, 11, {false, false, false}},
    };
    for (int version : {3, 2}) { // the third signal is "AD9" after version 2, else "AD8"
        setup->SetMCVersion(version);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << ", version " << version);
            ResetDrive();
            ScriptSignals(c.a, c.b, c.c);
            CTestHallSignals dialog(setup.get(), 1, nullptr);
            Open(dialog, [&](DialogDriver& d) {
                StartAndStopAfter(d, dialog, c.samples);
                const bool passes = c.changed == std::array<bool, 3>{true, true, true};
                ExpectOutcome(dialog, passes ? kPasses : CTestHallSignals::kFailureText);
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(d.Text(1029 + k) == QStringLiteral("HALL BAD"), !c.changed[k]) << k;
            });
            EXPECT_EQ(drive->Count(Kind::ReadVariable, version > 2 ? "AD8" : "AD9"), 0);
        }
    }
}

TEST_F(CTestHallSignalsTest, DriveErrorsAndFailedRequestsWhileSamplingOrAtStop)
{
    // Three samples, then Stop: MER is read once per sample and once at Stop.
    const auto mer = [](std::vector<double> bits) {
        return [=](ScriptedDrive& s) { s.Program(kProgram).Variable("MER", bits); };
    };
    const auto fail = [](Kind kind, const char* name, int occurrence) {
        return [=](ScriptedDrive& s) { s.Fail(kind, name, occurrence); };
    };
    const std::vector<Case> cases = {
        {"short circuit while sampling", mer({0, 0x0002}), kShortCircuit},
        {"ENABLE off is not looked at while sampling", mer({0x8000, 0x8000, 0x8000, 0}), kPasses},
        {"Hall sensor missing at Stop", mer({0, 0, 0, 0x0020}), "Hall sensor is missing."},
        {"short circuit before a missing Hall sensor", mer({0, 0, 0, 0x0022}), kShortCircuit},
        {"other bits are not looked at at Stop", mer({0, 0, 0, 0xF0C9}), kPasses},
        {"MER unreadable at Stop", fail(Kind::ReadVariable, "MER", 6), kInternal},
        {"AD3 unreadable", fail(Kind::ReadVariable, "AD3", 2), kDriveText},
        {"AD9 missing", [](ScriptedDrive&) {}, kInternal, "AD9"},
        {"run_test not set", fail(Kind::WriteUser, "run_test", 1), kDriveText},
        {"run_test not cleared", fail(Kind::WriteUser, "run_test", 2), kDriveText},
    };
    RunCases(
        Make<CTestHallSignals>(), cases,
        [&] {
            ScriptSignals({1.0, 3.0}, {1.0, 3.0}, {1.0, 3.0});
        },
        [&](DialogDriver& d, CMC_TestDlg& dialog) { StartAndStopAfter(d, dialog, 3); });
}

TEST_F(CTestHallSignalsTest, ClosingWhileSamplingEndsTheRunWithoutAResult)
{
    ScriptSignals({1.0, 3.0}, {1.0, 3.0}, {1.0, 3.0});
    CTestHallSignals dialog(setup.get(), 1, nullptr);
    Open(dialog, [&](DialogDriver& d) {
        PressWhen close(d, 2, [&] { return drive->Count(Kind::ReadVariable, "AD6") >= 5; });
        d.Click(10000);
        ASSERT_TRUE(WaitForEnd(d, dialog));
    });
    EXPECT_EQ(dialog.m_nResult, -1);
    ExpectNothingRunning(dialog);
    EXPECT_EQ(drive->Count(Kind::ReadVariable, "AD6"), 5);
    EXPECT_EQ(Requested(Kind::WriteUser, "run_test"), std::vector<double>{1.0}); // stopped, not told to end
}

} // namespace
