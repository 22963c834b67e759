// The power stage switched off and the DC link: the currents fall through the
// free-wheeling diodes at the rate the bus gives them and stop at zero; a
// motor whose line back-EMF exceeds the bus brakes into the link, which the
// supply cannot drain; a short between two phases brakes a turning motor
// while the leg sensors see nothing.
#include "PlantTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using namespace simtest;

DriveHardware Link(double capacitance)
{
    DriveHardware hardware;
    hardware.deadTime = 0.0;
    hardware.busCapacitance = capacitance;
    return hardware;
}

void StepFor(Plant& plant, double seconds)
{
    const auto periods = static_cast<long>(std::lround(seconds / plant.Hardware().pwmPeriod));
    for (long k = 0; k < periods; ++k)
        plant.Step();
}

// The mechanical speed at which the line back-EMF's peak equals the voltage.
double SpeedOfLinePeak(const MotorModel& motor, double volts)
{
    return volts / (std::numbers::sqrt3 * motor.FluxLinkage() * motor.polePairs);
}

// A motor turning at `speed` with nothing holding it.
Plant Turning(const MotorModel& motor, const PlantOptions& options, double capacitance, double speed)
{
    Plant plant(motor, options);
    plant.ConfigureHardware(Link(capacitance));
    plant.HoldSpeed(speed);
    plant.HoldSpeed(std::nan(""));
    return plant;
}

TEST(PowerStageOff, CurrentsFallThroughTheDiodesAgainstTheBusAndStopAtZero)
{
    const MotorModel motor = FrictionlessMotor();
    Plant plant(motor, StiffSupply());
    plant.ConfigureHardware(Link(1.0));
    plant.HoldSpeed(0.0);
    plant.SetEnabled(true);
    const double volts = 4.0; // on phase A's axis
    const double bus = plant.BusVoltage();
    plant.SetDuties(0.5 + volts / bus, 0.5 - 0.5 * volts / bus, 0.5 - 0.5 * volts / bus);
    StepFor(plant, 0.05);
    const double r = plant.StarResistance(), l = plant.StarInductanceD(), h = plant.Hardware().pwmPeriod;
    const double start = plant.Ia();
    ASSERT_NEAR(start, volts / r, 1e-6);

    // Phase A's current goes on through its lower diode (0 V), B's and C's
    // back through their upper ones (the bus): -2/3 of the bus on A's axis.
    plant.SetEnabled(false);
    const double drive = 2.0 / 3.0 * bus;
    const auto expected = [&](double t) { return -drive / r + (start + drive / r) * std::exp(-r * t / l); };
    const double zeroAt = l / r * std::log(1.0 + start * r / drive);
    plant.Step();
    plant.Step();
    EXPECT_NEAR(plant.Ia(), expected(2 * h), 1e-5); // the link takes the energy back: 0.1 mV higher
    EXPECT_NEAR(plant.Ib(), -0.5 * plant.Ia(), 1e-9);
    int steps = 2;
    while (plant.Ia() > 0.0 && steps < 100) {
        plant.Step();
        ++steps;
    }
    EXPECT_NEAR(steps * h, zeroAt, h);
    StepFor(plant, 0.01);
    EXPECT_EQ(plant.Ia(), 0.0);
    EXPECT_EQ(plant.Ib(), 0.0);
    EXPECT_EQ(plant.Torque(), 0.0);
}

TEST(PowerStageOff, AMotorTurningAboveTheBusBrakesDownToIt)
{
    const MotorModel motor = FrictionlessMotor();
    const double bus = StiffSupply().busVoltage;
    const double threshold = SpeedOfLinePeak(motor, bus);
    {
        SCOPED_TRACE("above the bus: the diodes rectify the back-EMF into a stiff link");
        Plant plant = Turning(motor, StiffSupply(), 1.0, 1.5 * threshold);
        StepFor(plant, 0.002);
        EXPECT_LT(plant.Torque(), -0.1);
        EXPECT_LT(plant.BusCurrent(), 0.0);
        StepFor(plant, 2.0);
        EXPECT_LT(plant.MotorSpeed(), 1.02 * threshold);
        EXPECT_GT(plant.MotorSpeed(), 0.98 * threshold);
        EXPECT_GT(plant.BusVoltage(), bus + 0.05) << "the link took the braking energy";
        EXPECT_LT(plant.BusVoltage(), bus + 0.2);
    }
    {
        SCOPED_TRACE("below the bus: no current, no braking");
        Plant plant = Turning(motor, StiffSupply(), 1.0, 0.9 * threshold);
        StepFor(plant, 0.5);
        EXPECT_DOUBLE_EQ(plant.MotorSpeed(), 0.9 * threshold);
        EXPECT_EQ(plant.Ia(), 0.0);
        EXPECT_EQ(plant.BusVoltage(), bus);
    }
}

TEST(PowerStageOff, TheSupplyCannotDrainWhatAMotorFeedsIntoTheLink)
{
    // Held at a speed whose line back-EMF peaks at 72 V: the link charges to
    // the peak and the supply takes nothing back.
    const MotorModel motor = FrictionlessMotor();
    PlantOptions options;
    options.supplyResistance = 0.05;
    Plant plant(motor, options);
    plant.ConfigureHardware(Link(470e-6));
    plant.HoldSpeed(SpeedOfLinePeak(motor, 72.0));
    StepFor(plant, 0.001);
    EXPECT_GT(plant.BusVoltage(), 48.5);
    StepFor(plant, 0.3);
    EXPECT_NEAR(plant.BusVoltage(), 72.0, 0.02 * 72.0);
}

TEST(PowerStageOff, AShortBetweenTwoPhasesBrakesATurningMotorAndBypassesTheLegs)
{
    const MotorModel motor = FrictionlessMotor();
    const double speed = 0.5 * SpeedOfLinePeak(motor, StiffSupply().busVoltage); // the diodes stay off
    PlantOptions shorted = StiffSupply();
    shorted.faults.shortCircuit = true;
    Plant plant = Turning(motor, shorted, 1.0, speed);
    StepFor(plant, 0.003);
    EXPECT_GT(std::abs(plant.Ia()), 1.0);
    EXPECT_NEAR(plant.Ib(), -plant.Ia(), 1e-9);
    EXPECT_EQ(plant.ReadCurrent(0), 0.0);
    EXPECT_EQ(plant.ReadCurrent(1), 0.0);
    EXPECT_FALSE(plant.OverCurrentComparator());
    StepFor(plant, 1.0);
    EXPECT_LT(plant.MotorSpeed(), 0.2 * speed);
    EXPECT_EQ(plant.BusVoltage(), StiffSupply().busVoltage);

    Plant healthy = Turning(motor, StiffSupply(), 1.0, speed);
    StepFor(healthy, 1.0);
    EXPECT_DOUBLE_EQ(healthy.MotorSpeed(), speed);
}

TEST(PowerStageOn, AShortBetweenTwoPhasesDrawsACurrentTheComparatorSees)
{
    PlantOptions shorted = StiffSupply();
    shorted.faults.shortCircuit = true;
    Plant plant(FrictionlessMotor(), shorted);
    plant.ConfigureHardware(Link(470e-6));
    plant.HoldSpeed(0.0);
    plant.SetEnabled(true);
    plant.SetDuties(0.5, 0.5, 0.5);
    plant.Step();
    EXPECT_FALSE(plant.OverCurrentComparator());
    plant.SetDuties(0.52, 0.48, 0.5); // 1.9 V between the shorted phases
    plant.Step();
    EXPECT_TRUE(plant.OverCurrentComparator());
    plant.Step();
    EXPECT_GT(plant.BusCurrent(), 1.0) << "the short's power comes from the link";
}

} // namespace
