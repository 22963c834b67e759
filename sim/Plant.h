// The physical side of the virtual drive: a three-phase permanent-magnet
// synchronous motor with its mechanics and load, the inverter that feeds it,
// and the converters the firmware reads (phase currents, Hall sensors, DC
// bus, analogue reference, temperatures).
//
// The motor is simulated in its equivalent star (a delta winding's R and L
// divided by three; terminal quantities are the same). The electrical state
// advances one PWM period at a time with the period's average voltage: for a
// round rotor the step is the exact solution of the RL circuit with a
// back-EMF that turns at the step's constant speed; with saliency (Ld != Lq)
// each axis is solved exactly with the cross-coupling held over the step.
// The mechanics use semi-implicit Euler steps of one PWM period, with
// stiction for the Coulomb friction.
//
// With the power stage off each leg's current flows through a free-wheeling
// diode: to the negative rail when it flows out into the motor, to the bus
// when it flows back; a leg without current floats. The currents fall to
// zero against the bus and the back-EMF, and a motor whose line back-EMF
// exceeds the bus drives current into the DC link. The DC link is a
// capacitor fed through the supply's resistance by a supply that cannot
// take current back: regenerated energy raises the bus.
#pragma once

#include "Faults.h"
#include "MotorModel.h"
#include "Random.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

// A compliant shaft advances in sub-steps of at most a fifth of its
// resonance period; a plant never takes more than kMaxShaftSubSteps of them
// per PWM period, and a motor file whose shaft would need more at the
// longest PWM period the drive runs it at is refused.
constexpr double kMaxShaftSubSteps = 1000;
constexpr double kLongestPwmPeriod = 1e-3; // [s]
inline double ShaftSubStepsNeeded(double resonance, double h)
{
    return std::ceil(resonance * h / 0.2);
}
inline int ShaftSubSteps(double resonance, double h)
{
    const double needed = ShaftSubStepsNeeded(resonance, h);
    return needed >= 1.0 ? static_cast<int>(std::min(needed, kMaxShaftSubSteps)) : 1;
}

// The drive's board: its converter and the ranges of its sensors. They are
// the board's own: a setup that describes another board gives the wrong
// readings a real drive would give.
struct DriveBoard {
    double currentFullScale = 10.0;  // [A] half the converter span
    int adcBits = 10;                // read left aligned in 16 bits
    double busFullScale = 80.0;      // [V] at converter full scale
    double adcRange = 3.3;           // [V] converter input span
    double tempSensorGain = 0.01;    // [V/degC]
    double tempSensorAt0 = 0.5;      // [V] at 0 degC
    double busCapacitance = 3300e-6; // [F] DC link (with the supply's own)
};

// What the drive's hardware does now: the board, with the PWM period and
// dead time its registers set.
struct DriveHardware : DriveBoard {
    double pwmPeriod = 5e-5; // [s]
    double deadTime = 1e-6;  // [s]

    // 65472 for 10 bits: (2^b - 1) x 2^(16 - b).
    double AdcMax() const { return static_cast<double>(((1u << adcBits) - 1u) << (16 - adcBits)); }
    double AdcStep() const { return static_cast<double>(1u << (16 - adcBits)); }
};

// The drive's surroundings and the realism of its sensors.
struct PlantOptions {
    DriveBoard board;
    double busVoltage = 48.0;       // [V] supply, no load
    double supplyResistance = 0.05; // [ohm]
    double currentNoise = 0.0;      // [A rms] on every current sample
    double currentOffsetA = 0.0;    // [A] sensor offsets
    double currentOffsetB = 0.0;
    double hallNoise = 0.0; // [V rms]
    double busNoise = 0.0;  // [V rms]
    double ambient = 25.0;  // [degC]
    // Analogue reference input, as a fraction of its span: level +
    // swing x sin(2 pi t / period).
    double referenceLevel = 0.5;
    double referenceSwing = 0.0;
    double referencePeriod = 10.0; // [s]
    std::uint64_t seed = 1;
    FaultSet faults;
};

class Plant {
public:
    Plant(const MotorModel& motor, const PlantOptions& options);

    void ConfigureHardware(const DriveHardware& hardware);
    const DriveHardware& Hardware() const { return m_hw; }
    const MotorModel& Motor() const { return m_motor; }
    const PlantOptions& Options() const { return m_options; }

    // ---- Inverter ----------------------------------------------------------
    // Power stage on (switching) or off (all switches open: the currents
    // flow on through the free-wheeling diodes until they reach zero).
    void SetEnabled(bool on);
    bool Enabled() const { return m_enabled; }
    // The motor's holding brake (if it has one), engaged by default: the
    // drive's brake output releases it while the power stage is on. It
    // engages at once and lets go a release time after its output turns on,
    // as a spring-applied brake does.
    void SetBrake(bool engaged)
    {
        if (!engaged && m_brakeEngaged)
            m_brakeReleasedAt = m_time + kBrakeReleaseTime;
        m_brakeEngaged = engaged;
    }
    bool BrakeEngaged() const { return m_brakeEngaged || m_time < m_brakeReleasedAt; }
    // At rest with no torque but the load's, which the friction and the
    // brake hold: nothing moves until the power stage switches on.
    bool HeldAtRest() const
    {
        return m_omegaM == 0.0 && m_omegaL == 0.0 &&
               std::abs(m_motor.loadTorque) <= m_coulombTotal + BrakeHolding();
    }
    // Duty cycles of the three legs for the next periods, each 0 to 1.
    void SetDuties(double a, double b, double c)
    {
        m_duty[0] = a;
        m_duty[1] = b;
        m_duty[2] = c;
    }
    // Advances the plant by one PWM period.
    void Step();
    // Moves the clock on without simulating (nothing changes but the time).
    void SkipTime(double seconds) { m_time += seconds; }

    // ---- Converters (what the drive reads) [counts] -------------------------
    // The currents of the inverter's legs A and B as the drive's sensors see
    // them, signed: 0 at zero current, +-ADCmax/2 at +-full scale, quantised
    // to the converter. The sensors sit on the legs: with two motor leads
    // crossed, leg A carries the motor's phase B current.
    double ReadCurrent(int leg)
    {
        if (m_plainLegSensors)
            return WholeSteps((leg == 0 ? Ia() : Ib()) * m_stepsPerAmpere + m_stepsAtZero) - 32768.0;
        const bool crossed = m_options.faults.swappedPhases;
        double amps = leg == 0 ? (crossed ? Ib() : Ia()) + m_shortCurrent + m_options.currentOffsetA
                               : (crossed ? Ia() : Ib()) - m_shortCurrent + m_options.currentOffsetB;
        if (m_options.currentNoise > 0.0)
            amps += m_options.currentNoise * m_random.Normal();
        return WholeSteps(amps * m_stepsPerAmpere + m_stepsAtZero) - 32768.0; // 32768 counts at zero
    }
    // Hall sensor i (0 A, 1 B, 2 C) on 0..ADCmax for 0..5 V.
    double ReadHall(int sensor);
    double ReadBus();
    double ReadReference();
    double ReadDriveTemperature();
    double ReadMotorTemperature();
    // True when a leg current exceeds the sensors' span (the hardware
    // short-circuit comparator).
    bool OverCurrentComparator() const
    {
        const double limit = m_hw.currentFullScale;
        const double a = Ia() + m_shortCurrent, b = Ib() - m_shortCurrent;
        return std::abs(a) > limit || std::abs(b) > limit || std::abs(a + b) > limit;
    }
    // The current the inverter draws from the DC link over the last period
    // (negative when the motor feeds it). [A]
    double BusCurrent() const { return m_busCurrent; }

    // ---- Truth, for tests and benchmarks ------------------------------------
    double Time() const { return m_time; }         // [s]
    double MotorAngle() const { return m_thetaM; } // [rad] unbounded
    double MotorSpeed() const { return m_omegaM; } // [rad/s]
    double LoadAngle() const;                      // [rad]
    double LoadSpeed() const;                      // [rad/s]
    double ElectricalAngle() const;                // [rad] in [-pi, pi)
    // Motor phase currents [A] (equivalent star, terminal currents).
    double Ia() const { return m_ia; }
    double Ib() const { return -0.5 * m_ia + 0.8660254037844386 * m_ib; }
    double Ic() const { return -0.5 * m_ia - 0.8660254037844386 * m_ib; }
    double CurrentD() const;                                // [A]
    double CurrentQ() const;                                // [A]
    double Torque() const { return m_torque; }              // electromagnetic [Nm]
    double BusVoltage() const { return m_bus; }             // [V]
    double MotorTemperature() const { return m_motorTemp; } // [degC]
    double DriveTemperature() const { return m_driveTemp; } // [degC]
    // Equivalent star values.
    double StarResistance() const { return m_rs; }
    double StarInductanceD() const { return m_lds; }
    double StarInductanceQ() const { return m_lqs; }

    // ---- Test hooks ------------------------------------------------------------
    // Holds the motor at a fixed speed (as a dynamometer would); NaN releases it.
    void HoldSpeed(double omega);
    void SetMotorAngle(double theta);

private:
    // (cw, sw): cos and sin of the angle the rotor frame turns by over the step.
    void StepElectricalRound(double va, double vb, double omegaE, double cw, double sw);
    void StepElectricalSalient(double va, double vb, double omegaE);
    void StepElectricalOpenPhase(double vab, double omegaE);
    void StepElectrical(double omegaE, double cw, double sw);
    // The power stage off: the currents through the diodes (or the short).
    void StepFreewheeling(double omegaE, double cw, double sw);
    // Phase j and phase k in series (the current into the motor at j, out
    // at k), the third phase without current: the loop's voltage vjk, its
    // back-EMF ejk, its resistance beside the two phases' and the decay of
    // the loop over the step.
    void StepLoop(int j, int k, double vjk, double ejk, double extraResistance, double decay);
    // The torque of the step from the currents before it (in the rotor frame
    // at its start) and after it, the frame having turned by (cw, sw).
    void TorqueOverStep(double idBefore, double iqBefore, double cw, double sw);
    // The DC link at the end of a period in which the inverter drew `drawn` [A].
    double NextBusVoltage(double drawn) const;
    // Motor phase currents [A] and the phase back-EMFs at mid-step [V].
    std::array<double, 3> PhaseCurrents() const { return {Ia(), Ib(), Ic()}; }
    std::array<double, 3> MidStepBackEmf(double omegaE) const;
    void SetPhaseCurrents(const std::array<double, 3>& phase);
    // Stops at zero the currents a diode would not let turn (poles: 0 V, the
    // bus, or NaN for a floating leg).
    void BlockReversedCurrents(const std::array<double, 3>& pole);
    void StepSingleMass(double torque);
    // The held speed or the two-mass system.
    void StepMechanics(double torque);
    // Turns the electrical angle by the rotation (c, s).
    void RotateElectricalAngle(double c, double s);
    void StepTemperatures();
    // The holding torque of the brake as it stands [Nm].
    double BrakeHolding() const { return BrakeEngaged() ? m_motor.brakeTorque : 0.0; }
    // The currents of the inverter legs in the middle of the period under
    // the given average pole voltages.
    void MidPeriodLegCurrents(double poleA, double poleB, double poleC, double omegaE, double& legA,
                              double& legB, double& legC) const;
    // A reading on the converter's steps, within its span.
    double Quantise(double counts) const { return WholeSteps(counts * m_inverseAdcStep + 0.5); }
    // Counts of the whole converter steps below `steps` (a reading in steps
    // with a half added to round), within the span.
    double WholeSteps(double steps) const
    {
        const double within = std::clamp(steps, 0.0, m_adcMax * m_inverseAdcStep);
        return static_cast<double>(static_cast<std::int32_t>(within)) * m_adcStep;
    }
    void Precompute();

    MotorModel m_motor;
    PlantOptions m_options;
    DriveHardware m_hw;
    Random m_random;

    // equivalent star
    double m_rs = 0.8, m_lds = 0.0012, m_lqs = 0.0012, m_psi = 0.0, m_pp = 4.0;
    bool m_salient = false;
    // precomputed over one PWM period
    double m_h = 5e-5;
    double m_decay = 0.0;        // exp(-R h / L), round rotor
    double m_decayD = 0.0;       // exp(-R h / Ld)
    double m_decayQ = 0.0;       // exp(-R h / Lq)
    double m_decayOpen = 0.0;    // two phases in series
    double m_decayShorted = 0.0; // two phases in series through the short
    double m_rippleCurrent = 0.1;
    double m_inverseRipple = 10.0;
    double m_inverseL = 1.0;
    double m_rateRound = 0.0;       // R / L, round rotor
    double m_cachedOmegaE = 0.0;    // the speed of the last round-rotor step and
    double m_cachedInverse = 0.0;   // 1 / ((R/L)^2 + w^2) at it
    double m_decayGain = 0.0;       // (1 - E) / R
    double m_halfDecay = 0.0;       // exp(-R h / 2L) and
    double m_halfGain = 0.0;        // (1 - it) / R: half a period, round rotor
    double m_torqueFactor = 6.0;    // 1.5 x pp
    double m_stepOverInertia = 0.0; // h / J
    double m_viscousTotal = 0.0;    // motor and load
    double m_coulombTotal = 0.0;
    double m_deadFraction = 0.0;        // dead time / PWM period
    double m_supplyDecay = 0.0;         // exp(-h / (supply resistance x link capacitance))
    double m_stepOverCapacitance = 0.0; // h / C
    double m_motorThermalStep = 0.0, m_motorHeating = 0.0, m_driveThermalStep = 0.0;
    double m_inverseAdcStep = 1.0 / 64.0;
    std::array<double, 3> m_hallCos{}, m_hallSin{};
    double m_adcMax = 65472.0;
    double m_adcStep = 64.0;
    double m_stepsPerAmpere = 51.15; // converter steps per ampere
    double m_stepsAtZero = 512.5;    // converter steps at zero current, and a half to round
    // The leg sensors read the motor's currents as they are: no short, no
    // crossed leads, no offset, no noise.
    bool m_plainLegSensors = true;

    // inverter
    bool m_enabled = false;
    bool m_brakeEngaged = true;
    double m_brakeReleasedAt = 0.0;                   // [s]
    static constexpr double kBrakeReleaseTime = 0.08; // [s]
    std::array<double, 3> m_duty{0.5, 0.5, 0.5};
    double m_bus = 48.0;
    double m_busCurrent = 0.0;
    double m_shortCurrent = 0.0;

    // electrical state: alpha-beta currents of the equivalent star [A]
    double m_ia = 0.0, m_ib = 0.0;
    double m_torque = 0.0;

    // mechanics
    double m_thetaM = 0.0, m_omegaM = 0.0;
    double m_thetaL = 0.0, m_omegaL = 0.0;
    double m_cos = 1.0, m_sin = 0.0; // of the electrical angle
    int m_renormalise = 0;
    bool m_holdSpeed = false;
    double m_heldSpeed = 0.0;

    double m_time = 0.0;
    double m_motorTemp = 25.0;
    double m_driveTemp = 25.0;
};
