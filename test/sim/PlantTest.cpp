// The simulated motor against closed forms: the RL step at standstill, the
// short-circuit current of a turning motor, the locked-rotor torque, free
// acceleration, stiction, the two-mass resonance, an open phase, the dead
// time's voltage loss and its phase, and the converters.
#include "PlantTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace simtest;

constexpr double kPi = 3.141592653589793;

DriveHardware NoDeadTime()
{
    DriveHardware hardware;
    hardware.deadTime = 0.0;
    return hardware;
}

// Duties that put the voltage vector (alpha, beta) [V] on the equivalent star.
void ApplyVector(Plant& plant, double alpha, double beta)
{
    const double bus = plant.BusVoltage();
    const double a = alpha / bus, b = beta / bus;
    plant.SetDuties(0.5 + a, 0.5 - 0.5 * a + 0.8660254037844386 * b, 0.5 - 0.5 * a - 0.8660254037844386 * b);
}

void StepFor(Plant& plant, int periods)
{
    for (int k = 0; k < periods; ++k)
        plant.Step();
}

TEST(PlantElectrical, RlStepAtStandstillFollowsTheExponentialExactly)
{
    for (bool delta : {false, true}) {
        MotorModel motor = FrictionlessMotor();
        motor.delta = delta;
        Plant plant(motor, StiffSupply());
        plant.ConfigureHardware(NoDeadTime());
        plant.HoldSpeed(0.0);
        plant.SetMotorAngle(kPi / 2 / motor.polePairs); // flux on the beta axis: no back-EMF anyway
        plant.SetEnabled(true);
        const double volts = 2.0;
        ApplyVector(plant, volts, 0.0);
        const double r = motor.R / (delta ? 3.0 : 1.0), l = motor.Ld / (delta ? 3.0 : 1.0);
        for (int periods : {1, 10, 30, 200}) {
            Plant copy = plant;
            StepFor(copy, periods);
            const double t = periods * 5e-5;
            const double expected = volts / r * (1.0 - std::exp(-t * r / l));
            EXPECT_NEAR(copy.Ia(), expected, 1e-9 * volts / r) << "delta " << delta << " t " << t;
            EXPECT_NEAR(copy.Ib(), -0.5 * expected, 1e-9 * volts / r);
        }
    }
}

TEST(PlantElectrical, ShortedMotorAtConstantSpeedCarriesTheBackEmfCurrent)
{
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, StiffSupply());
    plant.ConfigureHardware(NoDeadTime());
    const double omega = 150.0; // [rad/s] mechanical
    plant.HoldSpeed(omega);
    plant.SetEnabled(true);
    plant.SetDuties(0.5, 0.5, 0.5);
    StepFor(plant, 2000); // 0.1 s, many electrical time constants
    const double w = omega * motor.polePairs, psi = motor.FluxLinkage();
    const double z2 = motor.R * motor.R + w * w * motor.Ld * motor.Ld;
    EXPECT_NEAR(plant.CurrentD(), -w * w * motor.Ld * psi / z2, 1e-6);
    EXPECT_NEAR(plant.CurrentQ(), -w * psi * motor.R / z2, 1e-6);
    EXPECT_NEAR(plant.Torque(), 1.5 * motor.polePairs * psi * plant.CurrentQ(),
                1e-3 * std::abs(plant.Torque()));
}

TEST(PlantElectrical, LockedRotorTorqueIsTheTorqueConstantTimesTheCurrent)
{
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, StiffSupply());
    plant.ConfigureHardware(NoDeadTime());
    plant.HoldSpeed(0.0);
    plant.SetMotorAngle(0.0); // q axis on beta
    plant.SetEnabled(true);
    ApplyVector(plant, 0.0, 1.6);
    StepFor(plant, 2000);
    EXPECT_NEAR(plant.CurrentQ(), 2.0, 1e-9);
    EXPECT_NEAR(plant.CurrentD(), 0.0, 1e-9);
    EXPECT_NEAR(plant.Torque(), motor.K * 2.0, 1e-9);
}

TEST(PlantElectrical, SalientMotorSettlesOnEachAxisWithItsOwnInductance)
{
    MotorModel motor = FrictionlessMotor();
    motor.Ld = 0.001;
    motor.Lq = 0.002;
    Plant plant(motor, StiffSupply());
    plant.ConfigureHardware(NoDeadTime());
    plant.HoldSpeed(0.0);
    plant.SetMotorAngle(0.0);
    plant.SetEnabled(true);
    ApplyVector(plant, 1.6, 0.0); // on d
    StepFor(plant, 25);           // t = 1.25 ms = Ld / R
    EXPECT_NEAR(plant.CurrentD(), 2.0 * (1.0 - std::exp(-1.0)), 1e-9);
    ApplyVector(plant, 1.6, 1.6); // q joins
    StepFor(plant, 50);           // t = 2.5 ms = Lq / R
    EXPECT_NEAR(plant.CurrentQ(), 2.0 * (1.0 - std::exp(-1.0)), 1e-9);
    EXPECT_NEAR(plant.CurrentD(), 2.0 * (1.0 - std::exp(-3.0)), 1e-9);
}

TEST(PlantElectrical, OpenPhaseCarriesOneLoopCurrentThroughTwoWindings)
{
    PlantOptions options = StiffSupply();
    options.faults.openPhase = true;
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, options);
    plant.ConfigureHardware(NoDeadTime());
    plant.HoldSpeed(0.0);
    plant.SetEnabled(true);
    ApplyVector(plant, 2.0, 0.0); // va - vb = 3 V
    StepFor(plant, 2000);
    EXPECT_NEAR(plant.Ia(), 3.0 / (2.0 * motor.R), 1e-9);
    EXPECT_NEAR(plant.Ib(), -plant.Ia(), 1e-12);
    EXPECT_NEAR(plant.Ic(), 0.0, 1e-12);
}

TEST(PlantElectrical, DeadTimeTakesItsShareOfTheBusFromEveryPole)
{
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, StiffSupply());
    DriveHardware hardware;
    hardware.deadTime = 1e-6;
    plant.ConfigureHardware(hardware);
    plant.HoldSpeed(0.0);
    plant.SetEnabled(true);
    ApplyVector(plant, 4.0, 0.0);
    StepFor(plant, 2000);
    // phase A loses the dead time's voltage, B and C gain it: 4/3 of it on alpha
    const double lost = 48.0 * 1e-6 / 5e-5 * 4.0 / 3.0;
    EXPECT_NEAR(plant.Ia(), (4.0 - lost) / motor.R, 1e-9);
}

TEST(PlantElectrical, DeadTimeLossOfATurningVoltageIsInPhaseWithTheCurrent)
{
    // The legs switch about the middle of each period: the loss follows the
    // current there and only adds to the winding's resistance. Taken with the
    // current half a period early it would lag and eat into the reactance.
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, StiffSupply());
    plant.ConfigureHardware(DriveHardware{});
    plant.HoldSpeed(0.0);
    plant.SetEnabled(true);
    const double period = 5e-5, omega = 2.0 * kPi * 500.0; // 40 periods a turn
    const double volts = 2.0 * std::hypot(motor.R, omega * motor.Ld);
    double re = 0.0, im = 0.0;
    for (int k = 0; k < 1800; ++k) {
        const double angle = omega * period * k;
        if (k >= 1000) { // settled: the current's fundamental over 20 turns
            const double alpha = plant.Ia(), beta = (plant.Ia() + 2.0 * plant.Ib()) / std::sqrt(3.0);
            re += alpha * std::cos(angle) + beta * std::sin(angle);
            im += beta * std::cos(angle) - alpha * std::sin(angle);
        }
        // the period's vector stands for the turning one at mid-period
        const double mid = angle + 0.5 * omega * period;
        ApplyVector(plant, volts * std::cos(mid), volts * std::sin(mid));
        plant.Step();
    }
    // the impedance U / I, with the current's fundamental I = (re + j im) / 800
    const double scale = volts * 800.0 / (re * re + im * im);
    EXPECT_GT(scale * re, motor.R); // the loss adds to the resistance
    EXPECT_NEAR(-scale * im / omega, motor.Ld, 0.005 * motor.Ld);
}

TEST(PlantMechanics, FreeAccelerationUnderAConstantTorque)
{
    MotorModel motor = FrictionlessMotor();
    motor.loadTorque = -0.02; // drives the shaft forwards
    Plant plant(motor, StiffSupply());
    StepFor(plant, 20000); // 1 s, power stage off
    const double a = 0.02 / motor.TotalInertia();
    EXPECT_NEAR(plant.MotorSpeed(), a * 1.0, 1e-9 * a);
    EXPECT_NEAR(plant.MotorAngle(), 0.5 * a * 1.0, 1e-9 * a);
}

TEST(PlantMechanics, CoulombFrictionHoldsASmallTorqueAndSubtractsFromALargeOne)
{
    MotorModel motor = FrictionlessMotor();
    motor.coulomb = 0.01;
    motor.loadTorque = -0.008;
    Plant held(motor, StiffSupply());
    StepFor(held, 2000);
    EXPECT_EQ(held.MotorSpeed(), 0.0);
    EXPECT_EQ(held.MotorAngle(), 0.0);

    motor.loadTorque = -0.03;
    Plant moving(motor, StiffSupply());
    StepFor(moving, 2000);
    EXPECT_NEAR(moving.MotorSpeed(), 0.02 / motor.TotalInertia() * 0.1, 1e-9);
}

TEST(PlantMechanics, CompliantCouplingRingsAtTheTwoMassResonance)
{
    MotorModel motor = FrictionlessMotor();
    motor.coupling.present = true;
    motor.coupling.stiffness = 50.0;
    motor.loadTorque = 0.05; // a step on the load twists the shaft
    PlantOptions options = StiffSupply();
    options.busVoltage = 1000.0; // the free-wheeling diodes never conduct
    Plant plant(motor, options);
    int crossings = 0;
    double last = 0.0, first = -1.0, lastCrossing = 0.0;
    for (int k = 0; k < 20000; ++k) {
        plant.Step();
        const double twistRate = plant.MotorSpeed() - plant.LoadSpeed();
        if (k > 0 && (twistRate > 0.0) != (last > 0.0)) {
            if (first < 0.0)
                first = plant.Time();
            lastCrossing = plant.Time();
            ++crossings;
        }
        last = twistRate;
    }
    const double measured = 0.5 * (crossings - 1) / (lastCrossing - first);
    const double expected = std::sqrt(50.0 * (1.0 / motor.Jm + 1.0 / motor.Jload)) / (2.0 * kPi);
    EXPECT_NEAR(measured, expected, 0.005 * expected);
}

TEST(PlantConverters, CurrentsHallsAndBusReadAsTheDriveScalesSay)
{
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, StiffSupply());
    plant.ConfigureHardware(NoDeadTime());
    EXPECT_EQ(plant.ReadCurrent(0), 0.0);
    // the bus: 48 V of 80 V full scale, on 64-count steps
    EXPECT_DOUBLE_EQ(plant.ReadBus(), std::floor(48.0 / 80.0 * 65472.0 / 64.0 + 0.5) * 64.0);
    // Hall A at electrical angle 0: offset + amplitude x cos(30 deg)
    const HallSensorModel& a = motor.halls[0];
    const double volts = a.offset + a.amplitude * std::cos(a.angle * kPi / 180.0);
    EXPECT_NEAR(plant.ReadHall(0), volts / 5.0 * 65472.0, 32.0);

    plant.HoldSpeed(0.0);
    plant.SetEnabled(true);
    ApplyVector(plant, 1.6, 0.0);
    StepFor(plant, 400);
    EXPECT_NEAR(plant.ReadCurrent(0), 2.0 * 3273.6, 32.0);
    EXPECT_EQ(std::fmod(plant.ReadCurrent(0), 64.0), 0.0);
}

TEST(PlantConverters, FaultsChangeWhatTheSensorsSee)
{
    PlantOptions options = StiffSupply();
    options.faults.missingHall = true;
    options.faults.swappedHall = true;
    const MotorModel motor = FrictionlessMotor();
    Plant faulty(motor, options);
    Plant healthy(motor, StiffSupply());
    EXPECT_EQ(faulty.ReadHall(2), 0.0);                 // C missing
    EXPECT_EQ(faulty.ReadHall(1), healthy.ReadHall(2)); // B reads C's sensor
    EXPECT_EQ(faulty.ReadHall(0), healthy.ReadHall(0));

    options = StiffSupply();
    options.faults.weakBus = true;
    Plant weak(motor, options);
    EXPECT_NEAR(weak.BusVoltage(), 24.0, 1e-12);
}

// The leg sensors of a plain drive read the motor's currents directly; an
// offset, noise or crossed leads must still reach what they read.
TEST(PlantConverters, LegSensorsSeeTheirOffsetsNoiseAndCrossedLeads)
{
    const MotorModel motor = FrictionlessMotor();
    const auto driven = [&](const PlantOptions& options) {
        Plant plant(motor, options);
        plant.ConfigureHardware(NoDeadTime());
        plant.HoldSpeed(0.0);
        plant.SetEnabled(true);
        ApplyVector(plant, 1.6, 0.0); // 2 A into phase A, -1 A in B
        StepFor(plant, 400);
        return plant;
    };
    Plant plain = driven(StiffSupply());
    const double a = plain.ReadCurrent(0), b = plain.ReadCurrent(1);
    EXPECT_NEAR(a, 2.0 * 3273.6, 32.0);
    EXPECT_NEAR(b, -3273.6, 32.0);

    PlantOptions offset = StiffSupply();
    offset.currentOffsetA = 0.5;
    offset.currentOffsetB = -0.25;
    Plant shifted = driven(offset);
    EXPECT_NEAR(shifted.ReadCurrent(0) - a, 0.5 * 3273.6, 64.0);
    EXPECT_NEAR(shifted.ReadCurrent(1) - b, -0.25 * 3273.6, 64.0);

    PlantOptions crossed = StiffSupply();
    crossed.faults.swappedPhases = true;
    Plant swapped = driven(crossed);
    EXPECT_NEAR(swapped.ReadCurrent(0), swapped.Ib() * 3273.6, 32.0); // leg A carries phase B
    EXPECT_NEAR(swapped.ReadCurrent(1), swapped.Ia() * 3273.6, 32.0);

    PlantOptions noisy = StiffSupply();
    noisy.currentNoise = 0.05;
    Plant hissing = driven(noisy);
    bool differs = false;
    for (int k = 0; k < 10 && !differs; ++k)
        differs = hissing.ReadCurrent(0) != hissing.ReadCurrent(0);
    EXPECT_TRUE(differs) << "noise does not reach the readings";
}

} // namespace
