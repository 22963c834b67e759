// The identification tests run through their dialogs on the virtual drive:
// each injected fault makes the matching test fail with its message, a loop
// period edited after connecting reaches the next test, and the analogue
// reference shows until stopped. (Every library motor identified through
// the dialogs is the automatic commissioning's test.)
#include "DialogSteps.h"
#include "VirtualDriveDialogTest.h"

namespace {

using namespace simtest;

class IdentificationOnVirtualDrive : public VirtualDriveDialogTest {};

double Value(const CMC_Setup& setup, const char* name)
{
    return setup.GetParameterValueInBaseUnit(name);
}

// The current loop's period edited after the link opened is the period the
// drive runs the next test at: the inductance comes from the frequency the
// host reckons with that period (a drive still on the old one would turn the
// voltage twice as fast and the identified inductance would be half).
TEST_F(IdentificationOnVirtualDrive, LoopPeriodEditedAfterConnectingRunsTheNextTest)
{
    const std::string file = LibraryMotorFiles().front();
    const MotorModel motor = LoadMotor(file);
    auto setup = Prepare(file);
    VirtualDrive& drive = Connect(motor, *setup);
    const double connectedAt = drive.Time();
    ASSERT_EQ(drive.GetFirmware().Register("CLPER"), 1.0);
    setup->FindParameter("CLPER")->SetValueInInternalUnit(2.0);
    CTestRL dialog(setup.get(), 1, nullptr);
    EXPECT_EQ(Run(dialog), IDOK);
    ExpectPassed(dialog);
    EXPECT_DOUBLE_EQ(drive.GetFirmware().FastPeriod(), 2.0 * drive.GetFirmware().PwmPeriod());
    const double inductance = 0.5 * (motor.Ld + motor.Lq);
    EXPECT_NEAR(Value(*setup, "L"), inductance, 0.05 * inductance);
    EXPECT_GT(drive.Time(), connectedAt) << "the downloads kept the drive's clock";
}

// A fault, the test that finds it and the message it ends with; an empty
// message stands for the drive link's own error text.
struct FaultCase {
    const char* fault;
    const char* test;
    std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> make;
    std::string message;
};

template <typename Dialog> std::function<std::unique_ptr<CMC_TestDlg>(CMC_Setup*)> Make()
{
    return [](CMC_Setup* s) { return std::make_unique<Dialog>(s, 1, nullptr); };
}

TEST_F(IdentificationOnVirtualDrive, AnInjectedFaultFailsTheMatchingTestWithItsMessage)
{
    const std::vector<FaultCase> cases = {
        {"open-phase", "phase connections", Make<CTestPhaseConnections>(),
         CTestPhaseConnections::kFailureText},
        // Two motor phases or two Hall signals swapped: the field turns
        // backwards against the Hall order. (Two crossed motor leads look
        // balanced to the phase connection test: the sensors sit on the
        // inverter's legs.)
        {"swapped-phases", "Hall gain and offset", Make<CDetectHallGainOffset>(),
         CDetectHallGainOffset::kOrderMismatchText},
        {"swapped-hall", "Hall gain and offset", Make<CDetectHallGainOffset>(),
         CDetectHallGainOffset::kOrderMismatchText},
        // The drive's Hall protection trips before a signal is seen standing still.
        {"missing-hall", "Hall signals", Make<CTestHallSignals>(), "Hall sensor is missing."},
        {"missing-hall", "Hall gain and offset", Make<CDetectHallGainOffset>(),
         CDetectHallGainOffset::kSignalMissingText},
        {"enable-inactive", "phase connections", Make<CTestPhaseConnections>(), kDisabled},
        {"enable-inactive", "resistance and inductance", Make<CTestRL>(), kDisabled},
        {"short-circuit", "phase connections", Make<CTestPhaseConnections>(), kShortCircuit},
        {"short-circuit", "resistance and inductance", Make<CTestRL>(), kShortCircuit},
        {"short-circuit", "total inertia", Make<CTotalInertiaTest>(), kShortCircuit},
        {"no-answer", "supply voltage", Make<CTestVdcDetection>(), ""},
        {"no-answer", "resistance and inductance", Make<CTestRL>(), ""},
        {"no-answer", "Hall gain and offset", Make<CDetectHallGainOffset>(), ""},
    };
    const std::string file = LibraryMotorFiles().front();
    const MotorModel motor = LoadMotor(file);
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + ", " + c.test);
        auto setup = Prepare(file);
        CommissionHallsOn(motor, *setup);
        Connect(motor, *setup, {c.fault});
        const auto before = setup->GetParameterValueInBaseUnit("R");
        const auto dialog = c.make(setup.get());
        Run(
            *dialog,
            [&](DialogDriver& d) {
                // The Hall signals test runs until the user stops it.
                if (std::string(c.test) == "Hall signals")
                    StopAfter(d, *dialog, 4.0);
            },
            [&](DialogDriver& d) {
                EXPECT_EQ(dialog->m_nResult, 0);
                const std::string expected = c.message.empty() ? m_drive->LastError() : c.message;
                EXPECT_FALSE(expected.empty());
                EXPECT_EQ(dialog->m_strError, expected);
                EXPECT_EQ(d.Text(10002).toStdString(), expected);
            });
        EXPECT_FALSE(dialog->HasActiveTimers());
        EXPECT_EQ(setup->GetParameterValueInBaseUnit("R"), before);
        if (std::string(c.fault) != "no-answer") {
            EXPECT_EQ(m_drive->RunningProgram(), "");
            bool on = true;
            EXPECT_EQ(m_drive->GetAxisOn(m_drive->Time(), on), LinkResult::Ok);
            EXPECT_FALSE(on);
        }
        CMC_Comm::SetActiveLink(nullptr, nullptr);
    }
}

// The weak supply sags under the power the inertia run draws: with the
// under-voltage protection a little below it the dialog names the protection
// (a trip must not pass for a result), while the supply test reads the sag.
TEST_F(IdentificationOnVirtualDrive, AWeakSupplyTripsTheUnderVoltageWithItsMessage)
{
    const std::string file = LibraryMotorFiles().front();
    const MotorModel motor = LoadMotor(file);
    auto setup = Prepare(file);
    CommissionHallsOn(motor, *setup);
    ASSERT_EQ(setup->SetParameterValueInBaseUnit("UMIN_PROT", 22.5), 1);
    ComputeRegistersFromParameters(setup.get());
    ComputeParametersFromRegisters(setup.get());
    Connect(motor, *setup, {"weak-bus"});
    const double before = Value(*setup, "Jt");
    CTotalInertiaTest inertia(setup.get(), 1, nullptr);
    Run(inertia, nullptr, [&](DialogDriver& d) {
        EXPECT_EQ(inertia.m_nResult, 0);
        EXPECT_EQ(inertia.m_strError, "Drive under voltage protection triggered.");
        EXPECT_EQ(d.Text(10002).toStdString(), inertia.m_strError);
    });
    EXPECT_EQ(Value(*setup, "Jt"), before);

    CTestVdcDetection supply(setup.get(), 1, nullptr);
    Run(supply);
    ExpectPassed(supply);
    EXPECT_GT(Value(*setup, "Vdc"), 21.5);
    EXPECT_LT(Value(*setup, "Vdc"), 24.5) << "never more than the weak supply";
    CMC_Comm::SetActiveLink(nullptr, nullptr);
}

// The user counts the moves while watching a mark on the shaft; the dialog
// writes the count into the setup, whatever the setup held, for motors of
// one to thirty pole pairs.
TEST_F(IdentificationOnVirtualDrive, ThePolePairsCountedAreWrittenIntoTheSetup)
{
    for (const int polePairs : {1, 7, 30}) {
        SCOPED_TRACE(polePairs);
        MotorModel motor = LoadMotor(kReferenceMotor);
        motor.polePairs = polePairs;
        auto setup = Prepare(kReferenceMotor);
        ASSERT_EQ(setup->SetParameterValueInBaseUnit("pp", polePairs == 4 ? 5 : 4), 1);
        CommissionHallsOn(motor, *setup);
        Connect(motor, *setup);
        CDetectPolePairs dialog(setup.get(), 1, nullptr);
        Run(dialog, [&](DialogDriver& d) {
            commissioning::CountPolePairsOnTheShaft(d, dialog, m_drive->GetPlant());
        });
        ExpectPassed(dialog);
        EXPECT_EQ(Value(*setup, "pp"), polePairs);
        CMC_Comm::SetActiveLink(nullptr, nullptr);
    }
}

TEST_F(IdentificationOnVirtualDrive, AnalogueReferenceShowsTheInputUntilStopped)
{
    const std::string file = LibraryMotorFiles().front();
    const MotorModel motor = LoadMotor(file);
    auto setup = Prepare(file);
    // a quarter of the converter's span on the reference input
    Connect(motor, *setup, {}, 0.25);
    const double range = Value(*setup, "AnalogueInputsRange");
    const double low = range == 20.0 ? -10.0 : 0.0;
    const double high = range == 20.0 ? 10.0 : range == 5.0 ? 5.0 : 3.3;

    CTestAnalogueRef dialog(setup.get(), 1, nullptr);
    Run(dialog, [&](DialogDriver& d) {
        ASSERT_TRUE(d.WaitUntil([&] { return !d.Text(1010).isEmpty(); }));
        EXPECT_NEAR(d.Text(1010).toDouble(), low + 0.25 * (high - low), 0.011);
        d.Click(10000); // Stop
    });
    ExpectPassed(dialog);
}

} // namespace
