// The controller tuning programs on the virtual drive, run as their dialogs
// run them (preliminary positioning, inputs, the logger the dialog asks
// for), with loops designed by the engine for the motor: the logged
// responses must follow the references as the loops' gains promise.
#include "CurrentLoopModel.h"
#include "ProgramRunSupport.h"
#include "Spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

namespace {

using namespace simtest;

using Rows = std::vector<std::vector<double>>;
using Inputs = std::vector<std::pair<std::string, double>>;

double Internal(const CMC_Setup& setup, const char* name)
{
    return setup.GetParameterValueInInternalUnit(name);
}

// ---- Current controller ------------------------------------------------------------------

class CurrentTuningProgram : public ::testing::Test {
protected:
    // The dialog's run; the log columns are reference, current, voltage.
    Rows Run(CMC_Setup& setup, double protection, double& testFlag, double& startVoltage,
             const MotorModel& motor = MotorModel::Reference(), bool everyCurrentLoop = false)
    {
        VirtualDrive drive(motor);
        Host host(drive);
        host.Download(setup);
        const double current = std::trunc(Internal(setup, "TestCurrent"));
        const Preliminary p = RunPreliminary(host, current);
        startVoltage = p.refTest;
        const LogRequest log = Log({"Current_Reference", "Motor_Current", "Voltage_Reference"},
                                   everyCurrentLoop ? 200 : 100, everyCurrentLoop);
        EXPECT_TRUE(host.Run("Current_Controller_Tuning_Test",
                             {{"RefTest", p.refTest},
                              {"RIncTest", p.rincTest},
                              {"In1", current},
                              {"Imax_Prot_Test", protection}},
                             &log));
        EXPECT_FALSE(host.AxisOn());
        testFlag = host.User("Current_Controller_Tuning_Test", "test_flag");
        return Upload(host);
    }

    // The sample at which the reference first steps up.
    static std::size_t StepIndex(const Rows& rows)
    {
        for (std::size_t k = 0; k < rows.size(); ++k)
            if (rows[k][0] > 0.0)
                return k;
        return rows.size();
    }

    // The logged current from the step on, `count` samples (fewer when the
    // log ends first).
    static std::vector<double> CurrentAfterStep(const Rows& rows, std::size_t count)
    {
        std::vector<double> current;
        for (std::size_t k = StepIndex(rows); k < rows.size() && current.size() < count; ++k)
            current.push_back(rows[k][1]);
        return current;
    }

    EngineScales scales;
};

TEST_F(CurrentTuningProgram, DesignedLoopHoldsTheStepOnEveryLibraryMotor)
{
    for (const std::string& file : LibraryMotorFiles()) {
        SCOPED_TRACE(file);
        const MotorModel motor = LoadMotor(file);
        // A loop designed for the mean inductance rings on the flux axis of a
        // rotor whose Ld is half its Lq: that step is judged against a model
        // with Ld below, not held within 3 %.
        if (motor.Lq > 1.5 * motor.Ld)
            continue;
        auto setup = SetupFor(file);
        const double current = std::trunc(Internal(*setup, "TestCurrent"));
        double flag = 0.0, startVoltage = 0.0;
        const Rows rows = Run(*setup, Internal(*setup, "TestProtectionCurrent"), flag, startVoltage, motor);
        EXPECT_EQ(flag, 1.0);
        ASSERT_EQ(rows.size(), 100u);
        const std::size_t step = StepIndex(rows);
        ASSERT_LT(step + 19, rows.size());
        EXPECT_EQ(rows[step][0], current);
        // On the reference within 2 ms (however much voltage the rise takes)
        // and while the 10 ms step holds; the voltage that holds the current
        // is the one the positioning test found for it.
        double mean = 0.0, voltage = 0.0;
        for (std::size_t k = step + 4; k < step + 19; ++k) {
            EXPECT_EQ(rows[k][0], current);
            EXPECT_NEAR(rows[k][1], current, 0.03 * current);
            mean += rows[k][1] / 15.0;
            voltage += rows[k][2] / 15.0;
        }
        EXPECT_NEAR(mean, current, 0.01 * current);
        EXPECT_NEAR(voltage, startVoltage, 0.05 * startVoltage);
    }
}

TEST_F(CurrentTuningProgram, StepResponseFollowsTheDesignedBandwidth)
{
    auto setup = SetupFor(kReferenceMotor);
    const double current = std::trunc(Internal(*setup, "TestCurrent"));
    double flag = 0.0, startVoltage = 0.0;
    const Rows tuned = Run(*setup, Internal(*setup, "TestProtectionCurrent"), flag, startVoltage);
    const std::size_t step = StepIndex(tuned);
    ASSERT_LT(step + 20, tuned.size());
    // A loop of about 1 kHz: there within a millisecond (two samples).
    EXPECT_NEAR(tuned[step + 2][1], current, 0.03 * current);

    // The loop designed for an eighth of the bandwidth (about 1.6 ms).
    setup->SetParameterValueInBaseUnit("PB_C", setup->GetParameterValueInBaseUnit("PB_C") / 8.0);
    ASSERT_EQ(DesignCurrentController(setup.get()), 1);
    ComputeRegistersFromParameters(setup.get());
    const Rows detuned = Run(*setup, Internal(*setup, "TestProtectionCurrent"), flag, startVoltage);
    EXPECT_EQ(flag, 1.0);
    ASSERT_EQ(StepIndex(detuned), step);
    EXPECT_LT(detuned[step + 2][1], 0.8 * current);
    EXPECT_NEAR(detuned[step + 20][1], current, 0.03 * current);
}

TEST_F(CurrentTuningProgram, DesignedStepFollowsTheModelWithTheOnePeriodDelay)
{
    for (const std::string& file : LibraryMotorFiles()) {
        SCOPED_TRACE(file);
        const MotorModel motor = LoadMotor(file);
        // The inverter's dead time at one counter step: the model has no
        // dead time. R and L as their test finds them (a datasheet's may be off).
        auto setup = SetupFor(file, {{"DBT", 257.0}, {"R", motor.R}, {"L", 0.5 * (motor.Ld + motor.Lq)}});
        const double current = std::trunc(Internal(*setup, "TestCurrent"));
        double flag = 0.0, startVoltage = 0.0;
        const Rows rows =
            Run(*setup, Internal(*setup, "TestProtectionCurrent"), flag, startVoltage, motor, true);
        EXPECT_EQ(flag, 1.0);
        const std::vector<double> logged = CurrentAfterStep(rows, 60);
        ASSERT_EQ(logged.size(), 60u);
        const StepShape drive = ShapeOf(logged, current);
        // The step runs along the flux axis: its inductance is Ld.
        const StepShape delayed = ShapeOf(ModelStep(*setup, current, 60, true, 0.0, motor.Ld), current);
        const StepShape immediate = ShapeOf(ModelStep(*setup, current, 60, false, 0.0, motor.Ld), current);
        EXPECT_NEAR(drive.rise, delayed.rise, 0.06 * delayed.rise);
        EXPECT_NEAR(drive.peak, delayed.peak, 0.05);
        // Closer to the model with the delay than to the one without.
        EXPECT_LT(std::abs(drive.peak - delayed.peak), std::abs(drive.peak - immediate.peak));
    }
}

// The swing of a stretch of samples [fraction of the step].
double Swing(const std::vector<double>& current, std::size_t from, std::size_t to, double step)
{
    const auto [low, high] = std::minmax_element(current.begin() + static_cast<std::ptrdiff_t>(from),
                                                 current.begin() + static_cast<std::ptrdiff_t>(to));
    return (*high - *low) / step;
}

// Gains three times those designed: with the period's delay the loop rings
// between the voltage limits and never settles, where the same gains acting
// at once would settle within a millisecond.
TEST_F(CurrentTuningProgram, GainsTooHighForTheDelayRingWithoutEnd)
{
    auto setup = SetupFor(kReferenceMotor, {{"DBT", 257.0}});
    for (const char* gain : {"Kp_C_scl", "Ki_C_scl"})
        setup->SetParameterValueInBaseUnit(gain, 3.0 * setup->GetParameterValueInBaseUnit(gain));
    ComputeRegistersFromParameters(setup.get());
    ComputeParametersFromRegisters(setup.get());
    const double current = std::trunc(Internal(*setup, "TestCurrent"));
    EXPECT_LT(Swing(ModelStep(*setup, current, 60, false), 20, 60, current), 0.05);
    EXPECT_GT(Swing(ModelStep(*setup, current, 60, true), 20, 60, current), 1.0);

    double flag = 0.0, startVoltage = 0.0;
    const Rows rows = Run(*setup, 10.0 * current, flag, startVoltage, MotorModel::Reference(), true);
    EXPECT_EQ(flag, 1.0);
    const std::vector<double> logged = CurrentAfterStep(rows, 60);
    ASSERT_EQ(logged.size(), 60u);
    EXPECT_GT(Swing(logged, 20, 60, current), 1.0);
}

TEST_F(CurrentTuningProgram, ProtectionLevelBelowTheStepEndsTheRun)
{
    auto setup = SetupFor(kReferenceMotor);
    const double current = std::trunc(Internal(*setup, "TestCurrent"));
    double flag = 1.0, startVoltage = 0.0;
    const Rows rows = Run(*setup, 0.5 * current, flag, startVoltage);
    EXPECT_EQ(flag, 0.0);
    // Ended within a millisecond of the step.
    EXPECT_LE(rows.size(), StepIndex(rows) + 3);
}

// ---- Speed and position controllers -------------------------------------------------------

// The dialogs' segment table for a ramp to `value` over `ramp` speed-loop
// periods, `hold` periods there, the ramp back and `rest` periods at the start
// (reference type 0; increments in 16.16 fixed point).
Inputs ProfileTable(double value, long ramp, long hold, long rest)
{
    const double scale = 65536.0;
    auto increment = [&](double x, long n) { return std::floor(x / static_cast<double>(n) * scale + 0.5); };
    auto remainder = [&](double x, long n, double inc) {
        return std::floor((x - inc * static_cast<double>(n - 1) / scale) * scale + 0.5);
    };
    const double up = increment(value, ramp), down = increment(-value, ramp);
    const double counts[6] = {static_cast<double>(ramp - 1), 1, static_cast<double>(hold),
                              static_cast<double>(ramp - 1), 1, static_cast<double>(rest)};
    const double steps[6] = {up, remainder(value, ramp, up), 0.0, down, remainder(-value, ramp, down), 0.0};
    Inputs inputs;
    for (int i = 0; i < 6; ++i) {
        inputs.emplace_back("a" + std::to_string(i), counts[i]);
        inputs.emplace_back("b" + std::to_string(i), steps[i] / scale);
    }
    return inputs;
}

struct ProfileRun {
    Rows rows;
    double testFlag = 0.0;
    bool running = false; // still running when the host stopped polling (repeated profiles)
};

ProfileRun RunProfile(VirtualDrive& drive, CMC_Setup& setup, const std::string& program, const Inputs& inputs,
                      const std::vector<std::string>& logged, double pollFor = 0.0)
{
    Host host(drive);
    host.Download(setup);
    const Preliminary p = RunPreliminary(host, std::trunc(Internal(setup, "TestCurrent")));
    Inputs all = {{"RefTest", p.refTest}, {"RIncTest", p.rincTest}};
    all.insert(all.end(), inputs.begin(), inputs.end());
    const LogRequest log = Log(logged, 2000, false);
    ProfileRun run;
    if (pollFor > 0.0) {
        for (const auto& [name, value] : all)
            host.SetUser(program, name, value);
        EXPECT_EQ(drive.StartProgram(host.Tick(), ProgramRequest{program, {}}, &log), LinkResult::Ok);
        const double end = host.Now() + pollFor;
        while (host.Now() < end)
            EXPECT_EQ(host.User(program, "test_flag"), 1.0);
        run.running = host.AxisOn() && drive.RunningProgram() == program;
        EXPECT_EQ(drive.StopProgram(host.Tick()), LinkResult::Ok);
    } else {
        EXPECT_TRUE(host.Run(program, all, &log));
    }
    EXPECT_FALSE(host.AxisOn());
    run.testFlag = host.User(program, "test_flag");
    run.rows = Upload(host);
    return run;
}

double MaxAbs(const Rows& rows, std::size_t column)
{
    double peak = 0.0;
    for (const auto& row : rows)
        peak = std::max(peak, std::abs(row[column]));
    return peak;
}

class ProfileTuningProgram : public ::testing::Test {
protected:
    EngineScales scales;
};

TEST_F(ProfileTuningProgram, SpeedLoopFollowsTheProfileWithinTheCurrentLimit)
{
    auto setup = SetupFor(kReferenceMotor);
    const double speed = std::round(Internal(*setup, "TestSpeed"));
    const long ramp = std::lround(Internal(*setup, "TaPS"));
    const long hold = std::lround(Internal(*setup, "TPS"));
    const Inputs table = ProfileTable(speed, ramp, hold, std::lround(Internal(*setup, "TNS")));
    const std::vector<std::string> logged = {"Speed_Reference", "Load_Speed", "Current_Reference",
                                             "Motor_Current"};
    const double sats = Internal(*setup, "SATS");

    for (const bool tight : {false, true}) {
        // 2000 current units is less than the tuned loop asks for on the ramp.
        const double limit = tight ? 2000.0 : Internal(*setup, "TestLimitCurrent");
        SCOPED_TRACE(limit);
        VirtualDrive drive;
        Inputs inputs = {{"IlimPS_Test", limit},
                         {"Imax_Prot_Test", Internal(*setup, "TestProtectionCurrent")}};
        inputs.insert(inputs.end(), table.begin(), table.end());
        inputs.emplace_back("MultiC", 0.0);
        const ProfileRun run = RunProfile(drive, *setup, "Speed_Controller_Tuning_Test", inputs, logged);
        EXPECT_EQ(run.testFlag, 1.0);
        ASSERT_GT(run.rows.size(), static_cast<std::size_t>(2 * ramp + hold));
        EXPECT_NEAR(MaxAbs(run.rows, 0), speed, 1e-6);
        EXPECT_LE(MaxAbs(run.rows, 2), limit + 0.5);
        if (tight) {
            EXPECT_NEAR(MaxAbs(run.rows, 2), limit, 0.5);
        }
        // Over the second half of the hold the speed sits on the reference.
        double mean = 0.0;
        const auto first = static_cast<std::size_t>(ramp + hold / 2),
                   last = static_cast<std::size_t>(ramp + hold);
        for (std::size_t k = first; k < last; ++k)
            mean += run.rows[k][1] / static_cast<double>(last - first);
        EXPECT_NEAR(mean, speed, 0.02 * speed);
        EXPECT_EQ(drive.GetFirmware().Register("SATS"), sats);
    }
}

TEST_F(ProfileTuningProgram, RepeatedProfileRunsUntilTheHostStopsIt)
{
    auto setup = SetupFor(kReferenceMotor);
    Inputs inputs = {{"IlimPS_Test", Internal(*setup, "TestLimitCurrent")},
                     {"Imax_Prot_Test", Internal(*setup, "TestProtectionCurrent")},
                     {"MultiC", 1.0}};
    const Inputs table = ProfileTable(std::round(Internal(*setup, "TestSpeed")), 100, 200, 200);
    inputs.insert(inputs.end(), table.begin(), table.end());
    VirtualDrive drive;
    const ProfileRun run = RunProfile(drive, *setup, "Speed_Controller_Tuning_Test", inputs,
                                      {"Speed_Reference", "Load_Speed"}, 3.0); // six profiles long
    EXPECT_TRUE(run.running);
    EXPECT_EQ(run.testFlag, 1.0);
    EXPECT_EQ(drive.RunningProgram(), "");
}

TEST_F(ProfileTuningProgram, PositionLoopsReachTheTargetWithAndWithoutTheSpeedLoop)
{
    struct Case {
        const char* program;
        double positionControlType;
        const char* limitInput;
        const char* limitSetup;
        const char* limitedColumn;
    };
    const Case cases[] = {
        {"Position_Controller_Tuning_Test_with_SpdCtrl", 1.0, "LimitSpeed_Test", "Limit_Speed",
         "Speed_Reference"},
        {"Position_Controller_Tuning_Test_without_SpdCtrl", 0.0, "IlimPS_Test", "TestLimitCurrent",
         "Current_Reference"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        auto setup = SetupFor(kReferenceMotor, {{"PositionControlType", c.positionControlType}});
        const double target = std::round(Internal(*setup, "TestPosition"));
        const long ramp = std::lround(Internal(*setup, "TaPP"));
        const long hold = std::lround(Internal(*setup, "TPP"));
        const double limit = std::trunc(Internal(*setup, c.limitSetup));
        Inputs inputs = {{c.limitInput, limit}, {"MultiC", 0.0}};
        const Inputs table = ProfileTable(target, ramp, hold, std::lround(Internal(*setup, "TNP")));
        inputs.insert(inputs.end(), table.begin(), table.end());
        inputs.emplace_back("Imax_Prot_Test", Internal(*setup, "TestProtectionCurrent"));
        VirtualDrive drive;
        const double acr = Internal(*setup, "ACR");
        const ProfileRun run = RunProfile(drive, *setup, c.program, inputs,
                                          {"Target_Position", "Load_Position", c.limitedColumn});
        EXPECT_EQ(run.testFlag, 1.0);
        ASSERT_GT(run.rows.size(), static_cast<std::size_t>(2 * ramp + hold));
        // counted from where the shaft stood at the start, and back there at the end
        const auto atTarget = static_cast<std::size_t>(ramp + hold - 1);
        EXPECT_EQ(run.rows.back()[0], 0.0);
        EXPECT_NEAR(run.rows[atTarget][0], target, 1e-6);
        EXPECT_NEAR(run.rows[atTarget][1], target, 0.01 * target);
        EXPECT_NEAR(run.rows.back()[1], 0.0, 0.01 * target);
        EXPECT_LE(MaxAbs(run.rows, 2), limit + 0.5);
        EXPECT_EQ(drive.GetFirmware().Register("ACR"), acr);
    }
}

// A program that drives the position loop straight onto the current puts
// the cascade bit back when it ends, whatever it found.
TEST_F(ProfileTuningProgram, ForcedLoopStructureIsPutBack)
{
    auto setup = SetupFor(kReferenceMotor, {{"PositionControlType", 1.0}});
    Inputs inputs = {{"IlimPS_Test", Internal(*setup, "TestLimitCurrent")}, {"MultiC", 0.0}};
    const Inputs table = ProfileTable(1024.0, 100, 100, 100);
    inputs.insert(inputs.end(), table.begin(), table.end());
    VirtualDrive drive;
    const ProfileRun run = RunProfile(drive, *setup, "Position_Controller_Tuning_Test_without_SpdCtrl",
                                      inputs, {"Target_Position"});
    EXPECT_EQ(run.testFlag, 1.0);
    EXPECT_EQ(drive.GetFirmware().Register("ACR"), Internal(*setup, "ACR"));
    EXPECT_EQ(drive.GetFirmware().Register("SATP"), Internal(*setup, "SATP"));
}

// ---- A compliant coupling ------------------------------------------------------------------

// The 400 W servo drives its load through a barely damped coupling of
// 800 Nm/rad: a resonance near 580 Hz, under the 1 kHz of the speed loop's
// Nyquist frequency. Commissioned from its datasheet (the Hall sensors and
// the inertia by their tests), the speed loop designed for the setup's
// 50 Hz trips the over-current protection; designed for 10 Hz it runs but
// rings at the resonance. A notch at the ringing's frequency, on the current
// reference or on the speed feedback, takes the ringing away and lets the
// 50 Hz loop run.
TEST_F(ProfileTuningProgram, NotchAtTheCouplingsResonanceLetsTheSpeedLoopRun)
{
    const std::string file = "servo-48V-400W.json";
    const MotorModel motor = LoadMotor(file);
    auto setup = DatasheetSetup(file);
    ASSERT_EQ(DesignCurrentController(setup.get()), 1);
    ComputeRegistersFromParameters(setup.get());
    {
        VirtualDrive drive(motor);
        Host host(drive);
        CommissionHallsOnDrive(host, *setup);
    }
    {
        VirtualDrive drive(motor);
        const InertiaRun inertia = RunInertiaTest(drive, *setup);
        ASSERT_EQ(inertia.testFlag, 1.0);
        ASSERT_EQ(setup->SetParameterValueInBaseUnit("Jt", inertia.J), 1);
    }
    const double designed = setup->GetParameterValueInBaseUnit("PB_S"); // [rad/s] 50 Hz

    struct Outcome {
        double testFlag = 0.0;
        std::uint16_t mer = 0;
        std::vector<double> speedError, current; // over the hold's last 0.45 s
    };
    // About 290 rpm, reached in 0.1 s (half an ampere accelerates), held for 0.6 s.
    const Inputs table = ProfileTable(10.0, 200, 1200, 400);
    auto run = [&](double bandwidth, int notchLocation = -1, double notchHz = 0.0) {
        setup->SetParameterValueInBaseUnit("PB_S", bandwidth);
        EXPECT_EQ(DesignSpeedController(setup.get()), 1);
        const bool notch = notchLocation >= 0;
        setup->SetParameterValueInBaseUnit("BQFilter1", notch ? 1.0 : 0.0);
        if (notch) {
            EXPECT_EQ(setup->SetParameterValueInBaseUnit("BQFilterType1", 2.0), 1); // notch
            EXPECT_EQ(setup->SetParameterValueInBaseUnit("BQFilterLocation1", notchLocation), 1);
            EXPECT_EQ(setup->SetParameterValueInBaseUnit("BQFilterF11", notchHz), 1);
            EXPECT_EQ(setup->SetParameterValueInBaseUnit("BQFilterQ1", 0.5), 1);
        }
        ComputeRegistersFromParameters(setup.get());
        ComputeParametersFromRegisters(setup.get());
        Inputs inputs = {{"IlimPS_Test", Internal(*setup, "TestLimitCurrent")},
                         {"Imax_Prot_Test", Internal(*setup, "TestProtectionCurrent")},
                         {"MultiC", 0.0}};
        inputs.insert(inputs.end(), table.begin(), table.end());
        VirtualDrive drive(motor);
        const ProfileRun profile = RunProfile(drive, *setup, "Speed_Controller_Tuning_Test", inputs,
                                              {"Speed_Reference", "Load_Speed", "Current_Reference"});
        Outcome o;
        o.testFlag = profile.testFlag;
        o.mer = drive.GetFirmware().Errors();
        for (std::size_t k = 500; k < 1400 && k < profile.rows.size(); ++k) {
            o.speedError.push_back(profile.rows[k][0] - profile.rows[k][1]);
            o.current.push_back(profile.rows[k][2]);
        }
        return o;
    };
    constexpr double kPeriod = 5e-4; // the speed loop's [s]
    constexpr int kCurrentReference = 1, kSpeedFeedback = 2;

    const Outcome ringing = run(designed / 5.0);
    ASSERT_EQ(ringing.testFlag, 1.0);
    ASSERT_EQ(ringing.speedError.size(), 900u);
    const double resonance = PeakFrequency(ringing.speedError, kPeriod, 200.0, 999.0);
    EXPECT_NEAR(resonance, 585.0, 25.0);
    EXPECT_GT(Amplitude(ringing.speedError, kPeriod, resonance), 0.8); // [increments per period]
    EXPECT_GT(Amplitude(ringing.current, kPeriod, resonance), 2000.0); // [current units]

    const Outcome notched = run(designed / 5.0, kCurrentReference, resonance);
    EXPECT_EQ(notched.testFlag, 1.0);
    ASSERT_EQ(notched.speedError.size(), 900u);
    EXPECT_LT(Amplitude(notched.speedError, kPeriod, resonance), 0.1);
    EXPECT_LT(Amplitude(notched.current, kPeriod, resonance), 200.0);

    const Outcome tripped = run(designed);
    EXPECT_EQ(tripped.testFlag, kNoResult);
    EXPECT_EQ(tripped.mer & Mer::kShortCircuit, Mer::kShortCircuit);

    for (const int location : {kCurrentReference, kSpeedFeedback}) {
        SCOPED_TRACE(location);
        const Outcome fast = run(designed, location, resonance);
        EXPECT_EQ(fast.testFlag, 1.0);
        ASSERT_EQ(fast.speedError.size(), 900u);
        EXPECT_LT(Amplitude(fast.current, kPeriod, resonance), 200.0);
        const double meanError = std::accumulate(fast.speedError.begin(), fast.speedError.end(), 0.0) / 900.0;
        EXPECT_NEAR(meanError, 0.0, 0.02 * 10.0);
    }
}
} // namespace
