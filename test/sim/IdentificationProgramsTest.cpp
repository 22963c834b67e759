// "VDC_Detection_Test", "Total_Inertia_Identification_Test" and
// "Analogue_Reference_Test" on the virtual drive, polled as their dialogs
// poll them, and the protocol every identification and tuning program
// keeps when the drive refuses to switch on.
#include "ProgramRunSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace simtest;

// ---- DC bus ------------------------------------------------------------------------

TEST(VdcDetectionProgram, MeasuresTheSupplyNotTheSetup)
{
    EngineScales scales;
    for (const double supply : {48.0, 36.0, 24.0}) {
        SCOPED_TRACE(supply);
        VirtualDriveOptions options;
        options.busVoltage = supply;
        VirtualDrive drive(MotorModel::Reference(), options);
        Host host(drive);
        auto setup = ReferenceSetup(); // says 48 V
        host.Download(*setup);
        const double start = host.Now();
        ASSERT_TRUE(host.Run("VDC_Detection_Test", {}));
        EXPECT_LT(host.Now() - start, 0.5);
        EXPECT_FALSE(host.AxisOn());
        EXPECT_NEAR(host.Variable("var_u2") / DcBusVoltageScale(setup.get()), supply, 0.02 * supply);
    }
}

// ---- Total inertia -------------------------------------------------------------------

class TotalInertiaProgram : public ::testing::Test {
protected:
    EngineScales scales;
};

TEST_F(TotalInertiaProgram, EveryLibraryMotorWithinToleranceOfItsTruth)
{
    for (const bool noisy : {false, true}) {
        for (const std::string& file : LibraryMotorFiles()) {
            SCOPED_TRACE(file + (noisy ? ", noisy sensors" : ""));
            const MotorModel motor = LoadMotor(file);
            auto setup = SetupFor(file);
            VirtualDrive drive(motor, Sensors(noisy));
            const InertiaRun run = RunInertiaTest(drive, *setup, TestCurrentFor(*setup, file));
            EXPECT_EQ(run.testFlag, 1.0);
            EXPECT_GT(run.deltaTime, 0.0);
            EXPECT_NEAR(run.J, motor.TotalInertia(), 0.10 * motor.TotalInertia());
        }
    }
}

TEST_F(TotalInertiaProgram, FrictionAndAConstantLoadDropOut)
{
    MotorModel motor = MotorModel::Reference();
    motor.loadTorque = 0.015; // [Nm] held by the friction while the power stage is off
    motor.coulomb = 0.02;     // five times the reference motor's
    motor.viscous = 2e-4;     // ten times
    auto setup = SetupFor(kReferenceMotor, motor);
    VirtualDrive drive(motor);
    const InertiaRun run = RunInertiaTest(drive, *setup);
    EXPECT_EQ(run.testFlag, 1.0);
    EXPECT_NEAR(run.J, motor.TotalInertia(), 0.10 * motor.TotalInertia());
}

TEST_F(TotalInertiaProgram, FailureCodes)
{
    // Hall sensors commissioned half a turn off: a positive current turns
    // the motor backwards.
    {
        auto setup = SetupFor(kReferenceMotor);
        CMC_Parameter* alpha = setup->FindParameter("ALPHA");
        alpha->SetValueInInternalUnit(std::fmod(alpha->GetValueInInternalUnit() + 32768.0, 65536.0));
        VirtualDrive drive;
        const InertiaRun run = RunInertiaTest(drive, *setup);
        EXPECT_EQ(run.testFlag, 0.0);
        EXPECT_EQ(run.deltaTime, -1.0);
    }
    // A blocked shaft does not move at all.
    {
        auto setup = SetupFor(kReferenceMotor);
        VirtualDrive drive;
        drive.GetPlant().HoldSpeed(0.0);
        const InertiaRun run = RunInertiaTest(drive, *setup);
        EXPECT_EQ(run.testFlag, 1.0);
        EXPECT_EQ(run.deltaTime, -2.0);
    }
    // Viscous friction that holds the speed at half the limit.
    MotorModel sticky = MotorModel::Reference();
    {
        auto setup = SetupFor(kReferenceMotor);
        const double limit = setup->GetParameterValueInBaseUnit("TestMaxSpeed"); // [rad/s]
        sticky.viscous = sticky.K * kTestCurrent / kCurrentScale / (0.5 * limit);
        VirtualDrive drive(sticky);
        const InertiaRun run = RunInertiaTest(drive, *setup);
        EXPECT_EQ(run.testFlag, 1.0);
        EXPECT_EQ(run.deltaTime, -3.0);
    }
    // A protection level below the test current.
    {
        auto setup = SetupFor(kReferenceMotor);
        VirtualDrive drive;
        const InertiaRun run = RunInertiaTest(drive, *setup, kTestCurrent, 0.5 * kTestCurrent);
        EXPECT_EQ(run.deltaTime, -2.0);
    }
}

// ---- Analogue reference ---------------------------------------------------------------

TEST(AnalogueReferenceProgram, RunsWithThePowerStageOffUntilStopped)
{
    VirtualDriveOptions options;
    options.plant.referenceLevel = 0.25;
    VirtualDrive drive(MotorModel::Reference(), options);
    Host host(drive);
    auto setup = ReferenceSetup();
    host.Download(*setup);
    ASSERT_EQ(drive.StartProgram(host.Tick(), ProgramRequest{"Analogue_Reference_Test", {}}, nullptr),
              LinkResult::Ok);
    for (int poll = 0; poll < 100; ++poll) { // two seconds of the dialog's reads
        EXPECT_NEAR(host.Variable("AD5"), 0.25 * 65472.0, 64.0);
        EXPECT_FALSE(host.AxisOn());
    }
    EXPECT_EQ(host.User("Analogue_Reference_Test", "STARTED"), 1.0);
    EXPECT_EQ(drive.RunningProgram(), "Analogue_Reference_Test");
    ASSERT_EQ(drive.StopProgram(host.Tick()), LinkResult::Ok);
    EXPECT_EQ(drive.RunningProgram(), "");
    EXPECT_FALSE(host.AxisOn());
}

// ---- The protocol when the drive refuses to switch on -----------------------------------

TEST(DriveProgramProtocol, EnableInactiveEndsEveryPowerProgramWithoutResults)
{
    struct Case {
        const char* program;
        std::vector<std::pair<std::string, double>> inputs;
        const char* result; // a user variable, or a drive variable when drive is set
        bool drive;
    };
    const std::vector<std::pair<std::string, double>> table = {{"a0", 10}, {"b0", 1}, {"a1", 1},  {"b1", 0},
                                                               {"a2", 10}, {"b2", 0}, {"a3", 10}, {"b3", -1},
                                                               {"a4", 1},  {"b4", 0}, {"a5", 10}, {"b5", 0}};
    const Case cases[] = {
        {"Ident_R_or_Rs", {{"In1", kTestCurrent}, {"RefTest", 2000}, {"RIncTest", 2000}}, "var_i1", true},
        {"Ident_L_or_Tau_el", {{"In1", kTestCurrent}}, "var_i1", true},
        {"Total_Inertia_Identification_Test",
         {{"In1", kTestCurrent}, {"LimitSpeedMax", 40}},
         "delta_time",
         false},
        {"Current_Controller_Tuning_Test", {{"In1", kTestCurrent}}, "test_flag", false},
        {"Speed_Controller_Tuning_Test", table, "test_flag", false},
        {"Position_Controller_Tuning_Test_with_SpdCtrl", table, "test_flag", false},
        {"Position_Controller_Tuning_Test_without_SpdCtrl", table, "test_flag", false},
    };
    VirtualDriveOptions options;
    options.plant.faults.Add("enable-inactive");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        VirtualDrive drive(MotorModel::Reference(), options);
        Host host(drive);
        auto setup = ReferenceSetup();
        host.Download(*setup);
        ASSERT_TRUE(host.Run(c.program, c.inputs, nullptr, 1.0));
        EXPECT_FALSE(host.AxisOn());
        EXPECT_NE(host.Mer() & 0x8000, 0);
        EXPECT_EQ(c.drive ? host.Variable(c.result) : host.User(c.program, c.result), kNoResult);
    }
}

} // namespace
