// Controller designs: the formulas' branches, and that the designed loops have
// the requested bandwidth and damping when closed around the plant.
#include "ControllerDesign.h"

#include "EngineCore.h"
#include "LimitsTestSetup.h"

#include <cmath>
#include <complex>

namespace {

// Natural frequency [rad/s] and damping of a pair of poles.
struct Poles {
    double w;
    double z;
};

// Closes a PI (u = kp e + sum of ki e, ki per sample) around a sampled
// first-order plant x[k+1] = a x[k] + b u[k], and maps the two closed-loop
// poles to continuous time.
Poles SampledPiLoop(double a, double b, double kp, double ki, double period)
{
    const double trace = a - b * (kp + ki) + 1.0;
    const double det = a - b * kp;
    const std::complex<double> root = std::sqrt(std::complex<double>(trace * trace / 4.0 - det));
    const std::complex<double> s1 = std::log(trace / 2.0 + root) / period;
    const std::complex<double> s2 = std::log(trace / 2.0 - root) / period;
    const double w = std::sqrt((s1 * s2).real());
    return {w, -(s1 + s2).real() / (2.0 * w)};
}

// Current step response of the sampled current loop; returns the peak and the final value.
std::pair<double, double> CurrentStep(double r, double l, double kp, double ki, double tc)
{
    const double a = std::exp(-r * tc / l);
    const double b = (1.0 - a) / r;
    double current = 0.0, integral = 0.0, peak = 0.0;
    for (int k = 0; k < 2000; ++k) {
        const double error = 1.0 - current;
        integral += ki * error;
        current = a * current + b * (kp * error + integral);
        peak = std::max(peak, current);
    }
    return {peak, current};
}

class ControllerDesignTest : public DriveTest {
protected:
    static constexpr double kVoltsScale = 65534.0 / (48.0 * 1.1); // internal units per V

    static std::unique_ptr<CMC_Setup> CurrentLoop(double r, double l, double bandwidth, double damping)
    {
        return Drive({{"MotorPhaseConnectionType", 0},
                      {"L", l},
                      {"R", r},
                      {"Kp_C_scl", 0},
                      {"Ki_C_scl", 0},
                      {"PB_C", bandwidth},
                      {"Dump_C", damping}});
    }
};

TEST_F(ControllerDesignTest, CurrentLoopOnTheReferenceMotorHasTheRequestedPoles)
{
    auto setup = Reference();
    ASSERT_TRUE(setup);
    ASSERT_EQ(DesignCurrentController(setup.get()), 1);

    const double toPhysical =
        CurrentScale(setup.get()) / VoltageCommandScale(setup.get()); // V/A per drive gain
    const double r = Value(*setup, "R"), l = Value(*setup, "L"), tc = CurrentLoopPeriod(setup.get());
    const double kp = Value(*setup, "Kp_C_scl") * toPhysical;
    const double ki = Value(*setup, "Ki_C_scl") * toPhysical;
    ASSERT_GT(l / r, 4 * tc) << "the reference motor is meant for the bandwidth design";

    const Poles poles = SampledPiLoop(std::exp(-r * tc / l), (1 - std::exp(-r * tc / l)) / r, kp, ki, tc);
    EXPECT_NEAR(poles.w, Value(*setup, "PB_C"), 0.2 * Value(*setup, "PB_C"));
    EXPECT_NEAR(poles.z, Value(*setup, "Dump_C"), 0.15);

    const auto [peak, final] = CurrentStep(r, l, kp, ki, tc);
    EXPECT_NEAR(final, 1.0, 1e-9) << "the integral removes the steady error";
    EXPECT_LT(peak, 1.3);
}

TEST_F(ControllerDesignTest, DeltaMotorIsDesignedOnItsStarEquivalent)
{
    auto star = Reference();
    auto delta = Reference();
    ASSERT_TRUE(star && delta);
    SetBase(*delta, "MotorPhaseConnectionType", 1);

    DesignCurrentController(star.get());
    DesignCurrentController(delta.get());

    // Same time constant, a third of the impedance.
    EXPECT_NEAR(Value(*delta, "Kp_C_scl"), Value(*star, "Kp_C_scl") / 3, 1e-12);
    EXPECT_NEAR(Value(*delta, "Ki_C_scl"), Value(*star, "Ki_C_scl") / 3, 1e-12);

    const double toPhysical = CurrentScale(delta.get()) / VoltageCommandScale(delta.get());
    const double r = Value(*delta, "R") / 3, l = Value(*delta, "L") / 3, tc = CurrentLoopPeriod(delta.get());
    const double a = std::exp(-r * tc / l);
    const Poles poles = SampledPiLoop(a, (1 - a) / r, Value(*delta, "Kp_C_scl") * toPhysical,
                                      Value(*delta, "Ki_C_scl") * toPhysical, tc);
    EXPECT_NEAR(poles.w, Value(*delta, "PB_C"), 0.2 * Value(*delta, "PB_C"));
}

TEST_F(ControllerDesignTest, ShortElectricalTimeConstantSwitchesAtFourLoopPeriods)
{
    const double toDrive = kVoltsScale / kCountsPerAmp;
    auto setup = CurrentLoop(1.0, 0.0, 1000.0, 1.0);
    const double fourPeriods = 4.0 * CurrentLoopPeriod(setup.get());
    SetBase(*setup, "L", fourPeriods); // tau = L / 1 ohm, exactly four periods

    ASSERT_EQ(DesignCurrentController(setup.get()), 1);
    EXPECT_NEAR(Value(*setup, "Kp_C_scl"), (std::sqrt(2.0) - 1.0) * toDrive, 1e-12);
    EXPECT_NEAR(Value(*setup, "Ki_C_scl"), 1000.0 * kTc * toDrive, 1e-12);

    SetBase(*setup, "L", std::nextafter(fourPeriods, 1.0));
    ASSERT_EQ(DesignCurrentController(setup.get()), 1);
    EXPECT_NEAR(Value(*setup, "Kp_C_scl"), (2.0 * 1000.0 * 4 * kTc - 1.0) * toDrive, 1e-9);
    EXPECT_NEAR(Value(*setup, "Ki_C_scl"), 1000.0 * 1000.0 * 4 * kTc * kTc * toDrive, 1e-9);
}

TEST_F(ControllerDesignTest, SpeedLoopOnTheReferenceDriveHasTheRequestedPoles)
{
    auto setup = Reference();
    ASSERT_TRUE(setup);
    ASSERT_EQ(DesignSpeedController(setup.get()), 1);

    // Speed [rad/s] gained per ampere in one speed-loop period.
    const double ts = SpeedLoopPeriod(setup.get());
    const double b = Value(*setup, "K") * ts / Value(*setup, "Jt");
    const double toPhysical = MotorSpeedScale(setup.get()) / CurrentScale(setup.get()); // A per rad/s
    const Poles poles = SampledPiLoop(1.0, b, Value(*setup, "Kp_S_scl") * toPhysical,
                                      Value(*setup, "Ki_S_scl") * toPhysical, ts);

    EXPECT_NEAR(poles.w, Value(*setup, "PB_S"), 0.1 * Value(*setup, "PB_S"));
    EXPECT_NEAR(poles.z, Value(*setup, "Dump_S"), 0.1);
}

TEST_F(ControllerDesignTest, PositionLoopOnASpeedLoopHasTheRequestedPolesAndNoDerivative)
{
    auto setup = Reference();
    ASSERT_TRUE(setup);
    SetBase(*setup, "PositionControlType", 1);
    SetBase(*setup, "Kd_P_scl", 5.0);

    ASSERT_EQ(DesignPositionController(setup.get()), 1);

    EXPECT_EQ(Value(*setup, "Kd_P_scl"), 0.0);
    const double ts = SpeedLoopPeriod(setup.get());
    const double toPhysical = MotorPositionScale(setup.get()) / MotorSpeedScale(setup.get()); // rad/s per rad
    const Poles poles = SampledPiLoop(1.0, ts, Value(*setup, "Kp_P_scl") * toPhysical,
                                      Value(*setup, "Ki_P_scl") * toPhysical, ts);
    EXPECT_NEAR(poles.w, Value(*setup, "PB_P"), 0.05 * Value(*setup, "PB_P"));
    EXPECT_NEAR(poles.z, Value(*setup, "Dump_P"), 0.05);
}

TEST_F(ControllerDesignTest, PositionPidOnTheCurrentPlacesAllThreePoles)
{
    auto setup = Reference();
    ASSERT_TRUE(setup);
    SetBase(*setup, "PositionControlType", 0);
    SetBase(*setup, "Dump_P", 0.8);

    ASSERT_EQ(DesignPositionController(setup.get()), 1);

    // Back to A per rad (and per rad s, per rad/s) around the plant K / (J s^2).
    const double ts = SpeedLoopPeriod(setup.get());
    const double toPhysical = MotorPositionScale(setup.get()) / CurrentScale(setup.get());
    const double gain = Value(*setup, "K") / Value(*setup, "Jt");
    const double kd = Value(*setup, "Kd_P_scl") * ts * toPhysical;
    const double kp = Value(*setup, "Kp_P_scl") * toPhysical;
    const double ki = Value(*setup, "Ki_P_scl") / ts * toPhysical;
    // s^3 + gain (kd s^2 + kp s + ki) = (s + w)(s^2 + 2 z w s + w^2)
    const double w = Value(*setup, "PB_P"), z = 0.8;
    EXPECT_NEAR(gain * kd, (2 * z + 1) * w, 1e-9 * w);
    EXPECT_NEAR(gain * kp, (2 * z + 1) * w * w, 1e-9 * w * w);
    EXPECT_NEAR(gain * ki, w * w * w, 1e-9 * w * w * w);
}

TEST_F(ControllerDesignTest, MissingParameterWritesNoGain)
{
    g_bShowErrors = 0;
    auto current = Drive({{"MotorPhaseConnectionType", 0},
                          {"L", 1e-3},
                          {"R", 1},
                          {"Kp_C_scl", 7},
                          {"Ki_C_scl", 7},
                          {"PB_C", 1000}}); // no "Dump_C"
    EXPECT_EQ(DesignCurrentController(current.get()), 0);
    EXPECT_EQ(Value(*current, "Kp_C_scl"), 7);
    EXPECT_EQ(Value(*current, "Ki_C_scl"), 7);

    auto speed =
        Drive({{"Ki_S_scl", 7}, {"Kp_S_scl", 7}, {"Jt", 1e-4}, {"K", 0.1}, {"PB_S", 300}}); // no "Dump_S"
    EXPECT_EQ(DesignSpeedController(speed.get()), 0);
    EXPECT_EQ(Value(*speed, "Ki_S_scl"), 7);
    EXPECT_EQ(Value(*speed, "Kp_S_scl"), 7);

    auto position = Drive({{"Ki_P_scl", 7},
                           {"Kp_P_scl", 7},
                           {"Kd_P_scl", 7},
                           {"PositionControlType", 1},
                           {"Jt", 1e-4},
                           {"PB_P", 60},
                           {"K", 0.1}}); // no "Dump_P"
    EXPECT_EQ(DesignPositionController(position.get()), 0);
    EXPECT_EQ(Value(*position, "Ki_P_scl"), 7);
    EXPECT_EQ(Value(*position, "Kp_P_scl"), 7);
    EXPECT_EQ(Value(*position, "Kd_P_scl"), 7);
}

} // namespace
