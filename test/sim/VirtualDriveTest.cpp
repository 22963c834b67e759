// The virtual drive behind the link: the downloaded setup, user variables,
// one program at a time, the logger, scope frames, the drive that stops
// answering, the clock; and the motor files it reads.
#include "DriveFile.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

using simtest::Host;

TEST(VirtualDriveLink, HoldsTheDownloadedSetupAndTakesLiveWrites)
{
    VirtualDrive drive;
    Host host(drive);
    auto setup = simtest::ReferenceSetup();
    setup->FindParameter("KPI")->SetValueInInternalUnit(12345);
    host.Download(*setup);
    EXPECT_EQ(drive.GetFirmware().Register("KPI"), 12345.0);
    EXPECT_EQ(drive.GetFirmware().Register("ImaxPS"), 10.0);       // drive data travels with the registers
    EXPECT_EQ(drive.GetFirmware().HasRegister("Kp_C_scl"), false); // engineering values stay on the host

    EXPECT_EQ(drive.WriteParameter(host.Tick(), "KPI", 2000), LinkResult::Ok);
    EXPECT_EQ(drive.GetFirmware().Register("KPI"), 2000.0);
    EXPECT_EQ(drive.WriteParameter(host.Tick(), "NoSuchRegister", 1), LinkResult::NoSuchVariable);
    EXPECT_NE(drive.LastError().find("NoSuchRegister"), std::string::npos);
    double value = 0.0;
    EXPECT_EQ(drive.ReadVariable(host.Tick(), "KPI", value), LinkResult::Ok);
    EXPECT_EQ(value, 2000.0);
    EXPECT_EQ(drive.ReadVariable(host.Tick(), "Unheard_Of", value), LinkResult::NoSuchVariable);
}

// The host downloads before every program start: a download sets registers
// and nothing else, so the turning rotor, the position the drive measured
// and the drive's clock go on as they were.
TEST(VirtualDriveLink, LaterDownloadChangesOnlyTheRegisters)
{
    VirtualDrive drive;
    Host host(drive);
    auto setup = simtest::ReferenceSetup();
    host.Download(*setup);
    drive.GetPlant().HoldSpeed(20.0);
    drive.AdvanceTo(host.Tick());
    drive.GetPlant().HoldSpeed(NAN);
    const double time = drive.Time(), angle = drive.GetPlant().MotorAngle();
    const double speed = drive.GetPlant().MotorSpeed(), position = drive.GetFirmware().Position();
    const auto ticks = drive.GetFirmware().SlowTicks();
    ASSERT_GT(speed, 0.0);

    setup->FindParameter("KPI")->SetValueInInternalUnit(4321);
    ASSERT_EQ(drive.DownloadSetup(time, *setup), LinkResult::Ok);
    EXPECT_EQ(drive.GetFirmware().Register("KPI"), 4321.0);
    EXPECT_EQ(drive.Time(), time);
    EXPECT_EQ(drive.GetFirmware().SlowTicks(), ticks);
    EXPECT_EQ(drive.GetPlant().MotorAngle(), angle);
    EXPECT_EQ(drive.GetPlant().MotorSpeed(), speed);
    EXPECT_EQ(drive.GetFirmware().Position(), position);
}

TEST(VirtualDriveLink, UserVariablesKeepTheHostsInputsAndStartAtZeroOtherwise)
{
    VirtualDrive drive;
    Host host(drive);
    host.Download(*simtest::ReferenceSetup());
    const std::string program = "Motor_Phase_Connection_Test";
    EXPECT_EQ(drive.WriteUserVariable(host.Tick(), program, "Nonsense", 1), LinkResult::NoSuchVariable);
    EXPECT_EQ(drive.WriteUserVariable(host.Tick(), "No_Such_Program", "In1", 1), LinkResult::NoSuchProgram);
    EXPECT_EQ(drive.StartProgram(host.Tick(), {"No_Such_Program", {}}, nullptr), LinkResult::NoSuchProgram);
    EXPECT_NE(drive.LastError().find("No_Such_Program"), std::string::npos);

    const double refTest = host.Position(simtest::kTestCurrent);
    ASSERT_TRUE(host.Run(program, {{"RefTest", refTest}, {"RIncTest", refTest}}));
    // a second run without new inputs starts from zero: no voltage, no current
    ASSERT_TRUE(host.Run(program, {}));
    EXPECT_EQ(host.User(program, "RefTest"), 0.0);
    EXPECT_EQ(host.Variable("var_i1"), 0.0);
    // the image may name variables of its own; the drive keeps them too
    ASSERT_EQ(drive.StartProgram(host.Tick(), {program, {"Extra"}}, nullptr), LinkResult::Ok);
    EXPECT_EQ(drive.WriteUserVariable(host.Tick(), program, "extra", 3), LinkResult::Ok);
}

TEST(VirtualDriveLink, OneProgramAtATimeAndStopSwitchesOff)
{
    VirtualDrive drive;
    Host host(drive);
    host.Download(*simtest::ReferenceSetup());
    host.SetUser("Hall_Signals_Connection_Test", "RefTest", 3000);
    host.SetUser("Hall_Signals_Connection_Test", "run_test", 1);
    ASSERT_EQ(drive.StartProgram(host.Tick(), {"Hall_Signals_Connection_Test", {}}, nullptr), LinkResult::Ok);
    EXPECT_EQ(drive.RunningProgram(), "Hall_Signals_Connection_Test");
    EXPECT_TRUE(host.AxisOn());
    EXPECT_EQ(drive.StartProgram(host.Tick(), {"Initial_Positioning_Test", {}}, nullptr),
              LinkResult::Refused);
    EXPECT_EQ(drive.StopProgram(host.Tick()), LinkResult::Ok);
    EXPECT_FALSE(host.AxisOn());
    EXPECT_EQ(host.User("Hall_Signals_Connection_Test", "STARTED"), 1.0);
    EXPECT_EQ(drive.RunningProgram(), "");
    EXPECT_EQ(drive.StartProgram(host.Tick(), {"Initial_Positioning_Test", {}}, nullptr), LinkResult::Ok);
}

TEST(VirtualDriveLink, LoggerRecordsWhileTheProgramRunsAndScopeFramesFollow)
{
    VirtualDrive drive;
    Host host(drive);
    host.Download(*simtest::ReferenceSetup());
    LogRequest bad{{"IQ", "Unheard_Of"}, 10, 1};
    host.SetUser("Initial_Positioning_Test", "In1", simtest::kTestCurrent);
    EXPECT_EQ(drive.StartProgram(host.Tick(), {"Initial_Positioning_Test", {}}, &bad),
              LinkResult::NoSuchVariable);

    LogRequest log{{"IQ", "Voltage_Reference"}, 400, 1};
    ASSERT_TRUE(host.Run("Initial_Positioning_Test", {{"In1", simtest::kTestCurrent}}, &log));
    std::vector<std::vector<double>> rows;
    ASSERT_EQ(drive.UploadLog(host.Tick(), rows), LinkResult::Ok);
    ASSERT_EQ(rows.size(), 400u);
    ASSERT_EQ(rows[0].size(), 2u);
    EXPECT_GT(rows[399][1], 0.0); // the voltage ramps up

    const auto frames = drive.TakeUnsolicitedFrames(host.Tick());
    ASSERT_FALSE(frames.empty());
    for (const UnsolicitedFrame& frame : frames) {
        EXPECT_EQ(frame.code, 0xE900);
        const int words = frame.data[0] | frame.data[1] << 8;
        EXPECT_EQ(frame.data.size(), 6u + 2u * static_cast<unsigned>(words));
        EXPECT_EQ(words % 4, 0); // two variables, two words each
    }
    EXPECT_TRUE(drive.TakeUnsolicitedFrames(host.Tick()).empty());
}

TEST(VirtualDriveLink, DriveThatStopsAnsweringAnswersNothing)
{
    VirtualDriveOptions options;
    options.plant.faults.Add("no-answer");
    VirtualDrive drive(MotorModel::Reference(), options);
    Host host(drive);
    host.Download(*simtest::ReferenceSetup());
    host.SetUser("Initial_Positioning_Test", "In1", simtest::kTestCurrent);
    ASSERT_EQ(drive.StartProgram(host.Tick(), {"Initial_Positioning_Test", {}}, nullptr), LinkResult::Ok);
    double value = 0.0;
    bool on = false;
    EXPECT_EQ(drive.ReadUserVariable(host.Tick(), "Initial_Positioning_Test", "STARTED", value),
              LinkResult::NoAnswer);
    EXPECT_EQ(drive.GetAxisOn(host.Tick(), on), LinkResult::NoAnswer);
    EXPECT_EQ(drive.Reset(host.Tick()), LinkResult::NoAnswer);
    EXPECT_EQ(drive.LastError(), "The drive does not answer.");
}

TEST(VirtualDriveLink, ClockOnlyMovesForwardAndAnIdleDriveSkipsAhead)
{
    VirtualDrive drive;
    drive.AdvanceTo(0.01);
    EXPECT_NEAR(drive.Time(), 0.01, 1e-12);
    drive.AdvanceTo(0.005);
    EXPECT_NEAR(drive.Time(), 0.01, 1e-12);
    drive.AdvanceTo(3600.0); // an hour at the GUI with nothing running
    EXPECT_NEAR(drive.Time(), 3600.0, 1e-4);
    EXPECT_LT(drive.GetFirmware().SlowTicks(), 10000);
}

TEST(VirtualDriveLink, ResetClearsProtectionsButNotTheInputs)
{
    VirtualDriveOptions options;
    options.plant.faults.Add("limit-switch");
    VirtualDrive drive(MotorModel::Reference(), options);
    Host host(drive);
    drive.GetFirmware().Trip(Mer::kControlError);
    EXPECT_EQ(host.Mer(), Mer::kControlError | Mer::kLimitPositive);
    EXPECT_EQ(drive.Reset(host.Tick()), LinkResult::Ok);
    EXPECT_EQ(host.Mer(), Mer::kLimitPositive);
}

TEST(MotorFiles, EveryLibraryMotorHasAPlant)
{
    int motors = 0;
    for (const auto& entry : std::filesystem::directory_iterator(simtest::DataPath("motors"))) {
        MotorModel motor;
        std::string error;
        ASSERT_TRUE(MotorModel::Load(entry.path().string(), motor, error)) << error;
        EXPECT_GT(motor.R, 0.0);
        EXPECT_GT(motor.Jm, 0.0);
        EXPECT_TRUE(motor.faults.empty());
        ++motors;
    }
    EXPECT_GE(motors, 5);
    const MotorModel reference = simtest::LoadMotor("reference-servo-200W.json");
    EXPECT_EQ(reference.K, MotorModel::Reference().K);
    EXPECT_EQ(reference.halls[1].angle, MotorModel::Reference().halls[1].angle);
}

TEST(MotorFiles, DamagedFilesAreRefusedWithTheirName)
{
    const char* bad[] = {
        R"({"format": "velmaro-motor", "name": "x", "parameters": {"R": 1, "L": 0.001}})",
        R"({"format": "velmaro-motor", "plant": {"R": -1}})",
        R"({"format": "velmaro-motor", "plant": {"pp": 2.5}})",
        R"({"format": "velmaro-motor", "plant": {"halls": [{}, {}]}})",
        R"({"format": "velmaro-motor", "plant": {"coupling": {"damping": 1}}})",
        R"({"format": "velmaro-motor", "plant": {}, "faults": [3]})",
        R"({"format": "something-else", "plant": {}})",
        R"({"format": "velmaro-motor", "plant": )",
    };
    for (const char* text : bad) {
        MotorModel motor;
        std::string error;
        EXPECT_FALSE(MotorModel::Parse(text, "bad.json", motor, error)) << text;
        EXPECT_EQ(error.rfind("bad.json:", 0), 0u) << error;
    }
    MotorModel motor;
    std::string error;
    ASSERT_TRUE(MotorModel::Parse(
        R"({"format": "velmaro-motor", "plant": {"connection": "delta", "L": 0.002, "Lq": 0.003},
            "faults": ["open-phase", "weak-bus"]})",
        "good.json", motor, error))
        << error;
    EXPECT_TRUE(motor.delta);
    EXPECT_EQ(motor.Ld, 0.002);
    EXPECT_EQ(motor.Lq, 0.003);
    VirtualDrive drive(motor);
    EXPECT_TRUE(drive.Faults().openPhase && drive.Faults().weakBus);

    // a motor saved from the database without a plant: its data make one
    ASSERT_TRUE(MotorModel::Parse(R"({"format": "velmaro-motor", "name": "user", "parameters":
        {"R": 1.5, "L": 0.002, "K": 0.2, "pp": 5, "Jm": 1e-4, "MotorPhaseConnectionType": 1}})",
                                  "user.json", motor, error))
        << error;
    EXPECT_EQ(motor.polePairs, 5);
    EXPECT_EQ(motor.Lq, 0.002);
    EXPECT_EQ(motor.Jload, 1e-4);
    EXPECT_TRUE(motor.delta);
    FaultSet faults;
    EXPECT_FALSE(faults.Add("gremlins"));
    EXPECT_EQ(FaultSet::KnownNames().size(), 9u);
}

TEST(DriveFiles, TheNoisyDriveGivesItsSensorsImperfectionsAndDamagedFilesAreRefused)
{
    DriveDescription ideal, noisy;
    std::string error;
    ASSERT_TRUE(DriveDescription::Load(simtest::DataPath("drives/reference-drive.json"), ideal, error))
        << error;
    ASSERT_TRUE(DriveDescription::Load(simtest::DataPath("drives/reference-drive-noisy.json"), noisy, error))
        << error;
    PlantOptions options;
    ideal.ApplyTo(options);
    EXPECT_EQ(options.currentNoise, 0.0);
    EXPECT_EQ(options.hallNoise, 0.0);
    noisy.ApplyTo(options);
    EXPECT_EQ(options.currentNoise, 0.02);
    EXPECT_EQ(options.currentOffsetA, 0.01);
    EXPECT_EQ(options.hallNoise, 0.005);
    EXPECT_EQ(options.busNoise, 0.2);
    EXPECT_EQ(options.busVoltage, 48.0);

    const char* bad[] = {
        R"({"format": "velmaro-drive", "sensors": 3})",
        R"({"format": "velmaro-drive", "sensors": {"hallNoise": -0.1}})",
        R"({"format": "velmaro-drive", "sensors": {"currentOffsetA": "x"}})",
        R"({"format": "velmaro-drive", "adcBits": 7.5})",
    };
    for (const char* text : bad) {
        DriveDescription drive;
        EXPECT_FALSE(DriveDescription::Parse(text, "bad.json", drive, error)) << text;
        EXPECT_EQ(error.rfind("bad.json:", 0), 0u) << error;
    }
}

} // namespace
