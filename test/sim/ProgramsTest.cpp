// The drive programs, run through the link as the test dialogs run them,
// against the library's motors: what each finds with the drive's own sensors
// against the motor's truth, and what the injected faults make of them.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using simtest::Host;
using simtest::kCurrentScale;
using simtest::kTestCurrent;

constexpr double kPi = 3.141592653589793;
constexpr double kCountsPerVolt = 65472.0 / 5.0;

VirtualDriveOptions WithFaults(std::initializer_list<const char*> faults)
{
    VirtualDriveOptions options;
    for (const char* fault : faults)
        EXPECT_TRUE(options.plant.faults.Add(fault)) << fault;
    return options;
}

// A drive on a motor with the reference setup downloaded.
struct Bench {
    explicit Bench(const MotorModel& motor = MotorModel::Reference(), const VirtualDriveOptions& options = {})
        : drive(motor, options), host(drive)
    {
        setup = simtest::ReferenceSetup();
        host.Download(*setup);
    }
    // Sets a register the way the setup editor would before a download.
    void SetRegister(const char* name, double value)
    {
        setup->FindParameter(name)->SetValueInInternalUnit(value);
        host.Download(*setup);
    }
    // The electrical angle of the rotor [rad], in (-pi, pi].
    double ElectricalAngle() { return drive.GetPlant().ElectricalAngle(); }

    VirtualDrive drive;
    Host host;
    std::unique_ptr<CMC_Setup> setup;
};

// ---- Initial positioning ------------------------------------------------------------------

TEST(InitialPositioning, AlignsTheRotorAndFindsTheVoltageForTheTestCurrent)
{
    Bench bench;
    bench.drive.GetPlant().SetMotorAngle(2.0); // somewhere, away from phase A
    const double result = bench.host.Position(kTestCurrent);
    ASSERT_GT(result, 0.0);
    EXPECT_EQ(bench.host.Variable("REFTST_V"), result);
    EXPECT_EQ(bench.host.Variable("RINCTST_V"), result);
    EXPECT_NEAR(bench.ElectricalAngle(), 0.0, 3.0 * kPi / 180.0);
    // the resistive drop of the test current plus 4/3 of the dead time's share of the bus
    const double kv = 65534.0 / (1.1 * 48.0);
    const double volts = kTestCurrent / kCurrentScale * 0.8 + 48.0 * 1e-6 / 5e-5 * 4.0 / 3.0;
    EXPECT_NEAR(result, volts * kv, 0.04 * volts * kv);
    EXPECT_FALSE(bench.host.AxisOn());
    EXPECT_EQ(bench.host.Mer(), 0);
}

TEST(InitialPositioning, RotorOppositeTheFirstVectorStillAligns)
{
    Bench bench;
    // the first vector lies a quarter turn ahead of phase A; start exactly opposite it
    bench.drive.GetPlant().SetMotorAngle(-kPi / 2.0 / 4.0);
    ASSERT_GT(bench.host.Position(kTestCurrent), 0.0);
    EXPECT_NEAR(bench.ElectricalAngle(), 0.0, 3.0 * kPi / 180.0);
}

TEST(InitialPositioning, ReportsZeroOrNoResultWhenItCannotWork)
{
    VirtualDriveOptions lowBus;
    lowBus.busVoltage = 12.0; // 6.6 V cannot drive 9 A through 0.8 ohm
    Bench weak(MotorModel::Reference(), lowBus);
    EXPECT_EQ(weak.host.Position(30000.0), 0.0);
    EXPECT_EQ(weak.host.Mer(), 0);

    lowBus.busVoltage = 9.5; // below the setup's 10 V under-voltage level
    Bench under(MotorModel::Reference(), lowBus);
    EXPECT_EQ(under.host.Position(kTestCurrent), kNoResult);
    EXPECT_EQ(under.host.Mer(), Mer::kUnderVoltage);

    Bench disabled(MotorModel::Reference(), WithFaults({"enable-inactive"}));
    EXPECT_EQ(disabled.host.Position(kTestCurrent), kNoResult);
    EXPECT_EQ(disabled.host.Mer(), Mer::kEnableInactive);

    Bench shorted(MotorModel::Reference(), WithFaults({"short-circuit"}));
    EXPECT_EQ(shorted.host.Position(kTestCurrent), kNoResult);
    EXPECT_EQ(shorted.host.Mer(), Mer::kShortCircuit);

    Bench zero;
    EXPECT_EQ(zero.host.Position(0.0), kNoResult);
}

// ---- Phase connections --------------------------------------------------------------------------

struct PhaseCurrents {
    double ia = 0.0, ib = 0.0; // [A]
    // The pass conditions of the phase connection test.
    bool Pass(double itest) const
    {
        return ib != 0.0 && std::abs(ia / ib) > 1.5 && std::abs(ia / ib) < 2.5 && ia > 0.6 * itest &&
               ia < 1.4 * itest && ib < 0.0 && ia > 0.0;
    }
};

PhaseCurrents PhaseTest(Bench& bench)
{
    const double refTest = bench.host.Position(kTestCurrent);
    EXPECT_GT(refTest, 0.0);
    EXPECT_TRUE(bench.host.Run("Motor_Phase_Connection_Test", {{"RefTest", refTest}, {"RIncTest", refTest}}));
    return {bench.host.Variable("var_i1") / kCurrentScale, bench.host.Variable("var_i2") / kCurrentScale};
}

TEST(PhaseConnectionProgram, ConnectedMotorCarriesTheTestCurrentOnPhaseA)
{
    Bench bench;
    const PhaseCurrents currents = PhaseTest(bench);
    const double itest = kTestCurrent / kCurrentScale;
    EXPECT_NEAR(currents.ia, itest, 0.05 * itest);
    EXPECT_NEAR(currents.ib, -0.5 * itest, 0.05 * itest);
    EXPECT_TRUE(currents.Pass(itest));
}

// The sensors sit on the inverter's legs: two crossed motor leads carry the
// legs' currents as a right connection would, and look balanced (the Hall
// gain and offset test finds them); an open phase does not.
TEST(PhaseConnectionProgram, CrossedLeadsLookBalancedAnOpenPhaseFails)
{
    const double itest = kTestCurrent / kCurrentScale;
    Bench swapped(MotorModel::Reference(), WithFaults({"swapped-phases"}));
    const PhaseCurrents crossed = PhaseTest(swapped);
    EXPECT_NEAR(crossed.ia, itest, 0.05 * itest);
    EXPECT_NEAR(crossed.ib, -0.5 * itest, 0.05 * itest);
    EXPECT_TRUE(crossed.Pass(itest));

    Bench open(MotorModel::Reference(), WithFaults({"open-phase"}));
    const PhaseCurrents loop = PhaseTest(open);
    EXPECT_NEAR(loop.ia, -loop.ib, 0.03); // one loop through A and B
    EXPECT_FALSE(loop.Pass(itest));
}

// ---- Hall signals -----------------------------------------------------------------------------------

// Samples the three Hall channels as the Hall signals test does until the
// given time; returns how far each moved from its first sample [V].
std::array<double, 3> SampleHalls(Host& host, double seconds)
{
    std::array<double, 3> first{}, moved{};
    const char* channels[] = {"AD6", "AD3", "AD9"};
    for (int n = 0; n * 0.06 < seconds; ++n)
        for (int k = 0; k < 3; ++k) {
            const double volts = host.Variable(channels[k]) / kCountsPerVolt;
            if (n == 0)
                first[static_cast<std::size_t>(k)] = volts;
            moved[static_cast<std::size_t>(k)] = std::max(
                moved[static_cast<std::size_t>(k)], std::abs(volts - first[static_cast<std::size_t>(k)]));
        }
    return moved;
}

// Starts the Hall signals program at the positioning's voltage: the vector
// turns until StopHallSweep.
LinkResult StartHallSweep(Bench& bench)
{
    bench.host.SetUser("Hall_Signals_Connection_Test", "RefTest", bench.host.Position(kTestCurrent));
    bench.host.SetUser("Hall_Signals_Connection_Test", "run_test", 1.0);
    return bench.drive.StartProgram(bench.host.Tick(), {"Hall_Signals_Connection_Test", {}}, nullptr);
}

// "run_test" = 0; true when the program has ended within a second.
bool StopHallSweep(Bench& bench)
{
    bench.host.SetUser("Hall_Signals_Connection_Test", "run_test", 0.0);
    return bench.host.WaitForEnd("Hall_Signals_Connection_Test", 1.0);
}

TEST(HallSignalsProgram, EverySignalSweepsWhileTheVectorTurnsUntilStopped)
{
    Bench bench;
    ASSERT_EQ(StartHallSweep(bench), LinkResult::Ok);
    const auto moved = SampleHalls(bench.host, 2.0);
    for (double volts : moved)
        EXPECT_GT(volts, 1.0);
    EXPECT_TRUE(bench.host.AxisOn());
    EXPECT_TRUE(StopHallSweep(bench));
    EXPECT_EQ(bench.host.Mer() & 0x0022, 0);
}

TEST(HallSignalsProgram, MissingSignalStaysFlatAndIsReported)
{
    Bench bench(MotorModel::Reference(), WithFaults({"missing-hall"}));
    ASSERT_EQ(StartHallSweep(bench), LinkResult::Ok);
    const auto moved = SampleHalls(bench.host, 2.0);
    EXPECT_GT(moved[0], 1.0);
    EXPECT_GT(moved[1], 1.0);
    EXPECT_EQ(moved[2], 0.0);
    EXPECT_TRUE(StopHallSweep(bench));
    EXPECT_EQ(bench.host.Mer() & 0x0022, Mer::kHallMissing);
}

// ---- Pole pairs ------------------------------------------------------------------------------------------

// Presses Move until the shaft is back where it started, as a person
// watching a mark on it would, then Stop; returns the drive's count.
double CountPolePairs(Bench& bench)
{
    Host& host = bench.host;
    const std::string program = "Motor_Pole_Pairs_Detection_Test";
    const double refTest = host.Position(kTestCurrent);
    host.SetUser(program, "RefTest", refTest);
    host.SetUser(program, "RIncTest", refTest);
    EXPECT_EQ(bench.drive.StartProgram(host.Tick(), {program, {}}, nullptr), LinkResult::Ok);
    while (!(host.User(program, "STARTED") != 0.0 && host.AxisOn()))
        if (host.Now() > 100.0)
            return -1.0;
    const double mark = bench.drive.GetPlant().MotorAngle();
    for (int moves = 1; moves <= 20; ++moves) {
        EXPECT_EQ(bench.drive.WriteVariable(host.Tick(), "var_i2", 0.0), LinkResult::Ok);
        double thtst = host.Variable("THTST");
        while (thtst < -16383.0 || thtst > -16382.0)
            thtst = host.Variable("THTST");
        EXPECT_EQ(host.User(program, "poles_pairs"), moves);
        const double turned = bench.drive.GetPlant().MotorAngle() - mark;
        if (std::abs(std::remainder(turned, 2.0 * kPi)) < 5.0 * kPi / 180.0 && turned > kPi)
            break;
    }
    EXPECT_EQ(bench.drive.WriteVariable(host.Tick(), "var_i2", 1.0), LinkResult::Ok);
    EXPECT_TRUE(host.WaitForEnd(program));
    return host.Variable("var_i2");
}

TEST(PolePairsProgram, CountsOneMovePerPolePairToComeBackToTheMark)
{
    Bench reference;
    EXPECT_EQ(CountPolePairs(reference), 4.0);
    EXPECT_EQ(reference.host.Mer(), 0);

    VirtualDriveOptions low;
    low.busVoltage = 24.0;
    Bench small(simtest::LoadMotor("small-24V-60W.json"), low);
    EXPECT_EQ(CountPolePairs(small), 2.0);
}

// ---- Hall gains and offsets -------------------------------------------------------------------------

struct HallResults {
    double status = 0.0;
    double gain[3]{}, offset[3]{};
    double alpha = 0.0;
};

HallResults DetectHalls(Bench& bench)
{
    Host& host = bench.host;
    const double refTest = host.Position(kTestCurrent);
    EXPECT_TRUE(host.Run("Detect_Hall_Gain_Offset_Test", {{"RefTest", refTest}, {"RIncTest", refTest}}));
    HallResults r;
    r.status = host.Variable("WEAKINC");
    r.gain[0] = host.Variable("SRECTCOMP");
    r.gain[1] = host.Variable("SIN2REC");
    r.gain[2] = host.Variable("KSLIP");
    r.offset[0] = host.Variable("AD6OFF");
    r.offset[1] = host.Variable("AD3OFF");
    r.offset[2] = host.Variable("SFTCWEAK");
    r.alpha = host.Variable("ALPHA");
    return r;
}

TEST(HallGainOffsetProgram, FindsTheSensorsGainsOffsetsAndAngle)
{
    for (const char* file : {"reference-servo-200W.json", "servo-320V-1kW.json"}) {
        const MotorModel motor = simtest::LoadMotor(file);
        VirtualDriveOptions options;
        options.busVoltage = motor.K > 0.5 ? 320.0 : 48.0;
        Bench bench(motor, options);
        if (options.busVoltage > 80.0)
            bench.SetRegister("UMAXPROT", 65535.0); // the setup's 60 V limit is not this supply's
        if (motor.polePairs != 4)
            bench.SetRegister("ENC2THL", motor.polePairs * 4294967296.0 / 4096.0);
        const HallResults r = DetectHalls(bench);
        ASSERT_EQ(r.status, 1.0) << file;
        for (int k = 0; k < 3; ++k) {
            const HallSensorModel& hall = motor.halls[static_cast<std::size_t>(k)];
            EXPECT_NEAR(r.offset[k], hall.offset * kCountsPerVolt, 0.003 * hall.offset * kCountsPerVolt)
                << file;
            const double gain = 268435456.0 / (hall.amplitude * kCountsPerVolt);
            EXPECT_NEAR(r.gain[k], gain, 0.01 * gain) << file << " " << k;
        }
        EXPECT_NEAR(std::remainder(r.alpha - motor.halls[0].angle / 360.0 * 65536.0, 65536.0), 0.0,
                    1.5 / 360.0 * 65536.0)
            << file;

        // With the calibration the drive's angle follows the rotor.
        EXPECT_EQ(bench.drive.GetFirmware().Register("ALPHA"), r.alpha);
        for (double angle : {0.3, 1.4, 2.9, -2.0}) {
            bench.drive.GetPlant().SetMotorAngle(angle / motor.polePairs);
            bench.drive.AdvanceTo(bench.host.Tick());
            const double measured = bench.drive.GetFirmware().ElectricalAngle() * 2.0 * kPi / 65536.0;
            EXPECT_NEAR(std::remainder(measured - bench.ElectricalAngle(), 2.0 * kPi), 0.0, 3.0 * kPi / 180.0)
                << file << " at " << angle;
        }
    }
}

TEST(HallGainOffsetProgram, OrderMismatchMissingSignalAndCrossedPhasesAreReported)
{
    Bench swapped(MotorModel::Reference(), WithFaults({"swapped-hall"}));
    EXPECT_EQ(DetectHalls(swapped).status, -2.0);
    EXPECT_EQ(swapped.host.Mer(), 0);

    Bench missing(MotorModel::Reference(), WithFaults({"missing-hall"}));
    EXPECT_EQ(DetectHalls(missing).status, -1.0);
    EXPECT_EQ(missing.host.Mer(), Mer::kHallMissing);

    // Two motor leads crossed: the field, and the rotor with it, turn
    // backwards against the Hall order.
    Bench crossed(MotorModel::Reference(), WithFaults({"swapped-phases"}));
    EXPECT_EQ(DetectHalls(crossed).status, -2.0);
    EXPECT_EQ(crossed.host.Mer(), 0);
}

// ---- Reproducibility -------------------------------------------------------------------------------------

struct Outcome {
    double refTest;
    HallResults halls;
    bool operator==(const Outcome& o) const
    {
        return refTest == o.refTest && halls.alpha == o.halls.alpha && halls.gain[0] == o.halls.gain[0] &&
               halls.gain[1] == o.halls.gain[1] && halls.gain[2] == o.halls.gain[2] &&
               halls.offset[0] == o.halls.offset[0] && halls.offset[1] == o.halls.offset[1] &&
               halls.offset[2] == o.halls.offset[2];
    }
};

Outcome NoisyRun(std::uint64_t seed)
{
    VirtualDriveOptions options;
    options.plant.seed = seed;
    options.plant.currentNoise = 0.03;
    options.plant.hallNoise = 0.01;
    options.plant.busNoise = 0.1;
    Bench bench(MotorModel::Reference(), options);
    Outcome outcome;
    outcome.refTest = bench.host.Position(kTestCurrent);
    outcome.halls = DetectHalls(bench);
    return outcome;
}

TEST(Reproducibility, SameSeedGivesBitIdenticalResultsAnotherSeedDoesNot)
{
    const Outcome a = NoisyRun(7), b = NoisyRun(7), c = NoisyRun(8);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    EXPECT_EQ(a.halls.status, 1.0);
}

} // namespace
