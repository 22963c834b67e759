#include "IdentificationTestSupport.h"

#include "TestPhaseConnections.h"

#include <QLineEdit>

#include <cmath>
#include <optional>

namespace {

constexpr const char* kProgram = CTestPhaseConnections::kProgram;

// The test with its program images in sight.
class PhaseConnectionsProbe : public CTestPhaseConnections {
public:
    using CTestPhaseConnections::CTestPhaseConnections;
    bool ImagesLoaded() const { return m_main.IsLoaded() && m_preliminary.IsLoaded(); }
};

class CTestPhaseConnectionsTest : public PositioningTest {
protected:
    void SetUp() override
    {
        PositioningTest::SetUp();
        setup->SetParameterValueInBaseUnit("TestCurrent", 2.0);
    }
    // The phase currents [A] the program measures: the reference converter
    // spans twice the drive's 10 A peak current with 65472 counts.
    void ScriptCurrents(double ia, double ib, int run = 0)
    {
        drive->Program(kProgram, run).EndVariable("var_i1", ia * 3273.6).EndVariable("var_i2", ib * 3273.6);
    }
};

TEST_F(CTestPhaseConnectionsTest, BalancedPhasesPassShowTheCurrentsAndWriteNothing)
{
    ScriptCurrents(2.0, -1.0);
    drive->Program(kProgram).StartsAfter(2).EndsAfter(3);
    CTestPhaseConnections dialog(setup.get(), 1, nullptr);
    const auto before = ParameterValues(*setup);
    RunOnce(dialog, [&](DialogDriver& d) {
        ExpectOutcome(dialog, kPasses);
        EXPECT_EQ(d.Text(1020) + d.Text(1022), QStringLiteral("2-1"));
        EXPECT_EQ(dialog.BarIA().Value(), 2.0);
        EXPECT_EQ(dialog.BarIB().Value(), -1.0);
        EXPECT_EQ(StatusText(d), QStringLiteral("Running test"));
        ExpectQuietAfterEnd(d, dialog, CTestPhaseConnections::kHelpTopic);
    });
    EXPECT_EQ(ParameterValues(*setup), before);
    EXPECT_EQ(drive->Written("Initial_Positioning_Test", "In1"), 6547.0);
    EXPECT_TRUE(std::isnan(drive->Written(kProgram, "In1"))); // the main program gets no test current
}

TEST_F(CTestPhaseConnectionsTest, CurrentsPassOnlyStrictlyInsideTheWindowThatFollowsTheTestCurrent)
{
    struct Case {
        double ia, ib; // [A], at a test current of 2 A
        bool passes;
    };
    const std::vector<Case> cases = {
        {2.0, -1.0, true},  {1.21, -0.6, true}, {2.79, -1.4, true},
        {2.0, -0.81, true}, {2.0, 0.0, false},  // IB = 0, no division
        {1.5, -1.0, false}, {2.5, -1.0, false}, // |IA / IB| at the edges
        {1.2, -0.6, false}, {2.8, -1.4, false}, // IA at 0.6 and 1.4 times the test current
        {-2.0, 1.0, false}, {2.0, 1.0, false},  // swapped phases, IB positive
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message() << "IA " << c.ia << " IB " << c.ib);
        ScriptCurrents(c.ia, c.ib, static_cast<int>(i));
        CTestPhaseConnections dialog(setup.get(), 1, nullptr);
        RunOnce(dialog, [&](DialogDriver& d) {
            ExpectOutcome(dialog, c.passes ? kPasses : CTestPhaseConnections::kFailureText);
            // The currents stay on display; the bars move only on a pass.
            EXPECT_EQ(d.Text(1020) + d.Text(1022), QString::asprintf("%.3G%.3G", c.ia, c.ib));
            EXPECT_EQ(dialog.BarIB().Value(), c.passes ? c.ib : 0.0);
        });
    }
    // At 1 A, 2 A in phase A is too much; the edited test current moves the
    // window at once and the bars' span at the next start.
    setup->SetParameterValueInBaseUnit("TestCurrent", 1.0);
    ResetDrive();
    ScriptCurrents(2.0, -1.0);
    CTestPhaseConnections dialog(setup.get(), 1, nullptr);
    Open(dialog, [&](DialogDriver& d) {
        ASSERT_TRUE(StartAndWait(d, dialog));
        ExpectOutcome(dialog, CTestPhaseConnections::kFailureText);
        EXPECT_EQ(dialog.BarIA().High(), 1.5);
        d.SetEditText(1005, QStringLiteral("2"));
        ASSERT_TRUE(StartAndWait(d, dialog));
        ExpectOutcome(dialog, kPasses);
        EXPECT_EQ(dialog.BarIA().High(), 3.0);
        EXPECT_EQ(dialog.BarIB().Low(), -3.0);
    });
}

TEST_F(CTestPhaseConnectionsTest, MainProgramFailuresEndTheRun)
{
    const std::vector<Case> cases = {
        {"ENABLE off at the end", [](ScriptedDrive& s) { s.Program(kProgram).EndVariable("MER", 0x8000); },
         kDisabled},
        // The preliminary test reads STARTED three times.
        {"STARTED unreadable", [](ScriptedDrive& s) { s.Fail(Kind::ReadUser, "STARTED", 4); }, kDriveText},
        {"var_i1 unreadable", [](ScriptedDrive& s) { s.Fail(Kind::ReadVariable, "var_i1"); }, kDriveText},
        {"var_i2 missing", [](ScriptedDrive&) {}, kInternal, "var_i2"},
    };
    RunCases(Make<CTestPhaseConnections>(), cases, [&] { ScriptCurrents(2.0, -1.0); });
}

TEST_F(CTestPhaseConnectionsTest, TheHostsStartUpComesAfterTheProgramImagesAreLoaded)
{
    PhaseConnectionsProbe dialog(setup.get(), 1, nullptr);
    // The host's start-up is what first shows the bound test current.
    std::optional<bool> loadedAtStartUp;
    auto* edit = dialog.Item<QLineEdit>(1005);
    ASSERT_TRUE(edit);
    QObject::connect(edit, &QLineEdit::textChanged, [&] {
        if (!loadedAtStartUp)
            loadedAtStartUp = dialog.ImagesLoaded();
    });
    Open(dialog, [&](DialogDriver& d) { EXPECT_FALSE(d.Text(1005).isEmpty()); });
    ASSERT_TRUE(loadedAtStartUp.has_value());
    EXPECT_TRUE(*loadedAtStartUp);
}

TEST_F(CTestPhaseConnectionsTest, ClosingWhileTheProgramRunsStopsIt)
{
    drive->Program(kProgram).NeverEnds();
    CTestPhaseConnections dialog(setup.get(), 1, nullptr);
    Open(dialog, [&](DialogDriver& d) {
        d.Click(10000);
        ASSERT_TRUE(d.WaitUntil([&] { return drive->IsAxisOn() && drive->CurrentProgram() == kProgram; }));
        d.Cancel();
    });
    ExpectNothingRunning(dialog);
}

} // namespace
