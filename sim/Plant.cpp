#include "Plant.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr double kShortResistance = 0.02;           // [ohm] of a short between two phases
constexpr double kHallFullScale = 5.0;              // [V] at converter full scale
constexpr double kDriveHeating = 0.5;               // [K/A^2] the drive's temperature rise per squared ampere
constexpr double kDriveThermalTimeConstant = 120.0; // [s]
constexpr int kThermalDivider = 16;                 // PWM periods per temperature step (a power of two)
constexpr double kNoCurrent = 1e-9;                 // [A] below this a leg's diode blocks
constexpr double kHalfSqrt3 = 0.8660254037844386;

// cos and sin of a small angle (|x| < 0.5) to double precision.
inline void SmallSinCos(double x, double& c, double& s)
{
    if (std::abs(x) > 0.5) {
        c = std::cos(x);
        s = std::sin(x);
        return;
    }
    constexpr double k2 = 1.0 / 2, k12 = 1.0 / 12, k30 = 1.0 / 30, k56 = 1.0 / 56, k90 = 1.0 / 90;
    constexpr double k6 = 1.0 / 6, k20 = 1.0 / 20, k42 = 1.0 / 42, k72 = 1.0 / 72, k110 = 1.0 / 110;
    const double x2 = x * x;
    if (x2 < 0.01) { // |x| < 0.1: the terms left out stay below 3e-17
        c = 1.0 - x2 * k2 * (1.0 - x2 * k12 * (1.0 - x2 * k30 * (1.0 - x2 * k56)));
        s = x * (1.0 - x2 * k6 * (1.0 - x2 * k20 * (1.0 - x2 * k42 * (1.0 - x2 * k72))));
        return;
    }
    c = 1.0 - x2 * k2 * (1.0 - x2 * k12 * (1.0 - x2 * k30 * (1.0 - x2 * k56 * (1.0 - x2 * k90))));
    s = x * (1.0 - x2 * k6 * (1.0 - x2 * k20 * (1.0 - x2 * k42 * (1.0 - x2 * k72 * (1.0 - x2 * k110)))));
}

inline double Sign(double x)
{
    return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
}

// One mass over one step with viscous friction already in the torque and
// Coulomb friction with stiction.
inline double AdvanceSpeed(double omega, double torque, double coulomb, double stepOverInertia)
{
    if (omega == 0.0 && std::abs(torque) <= coulomb)
        return 0.0;
    const double direction = omega != 0.0 ? Sign(omega) : Sign(torque);
    const double next = omega + stepOverInertia * (torque - coulomb * direction);
    if (next * direction < 0.0)
        return 0.0; // friction stops it within the step
    return next;
}

} // namespace

Plant::Plant(const MotorModel& motor, const PlantOptions& options)
    : m_motor(motor), m_options(options), m_random(options.seed)
{
    if (m_options.faults.weakBus) {
        m_options.busVoltage *= 0.5;
        m_options.supplyResistance = std::max(m_options.supplyResistance, 2.0);
    }
    m_bus = m_options.busVoltage;
    m_motorTemp = m_driveTemp = m_options.ambient;
    Precompute();
}

void Plant::ConfigureHardware(const DriveHardware& hardware)
{
    m_hw = hardware;
    Precompute();
}

void Plant::Precompute()
{
    const double scale = m_motor.delta ? 1.0 / 3.0 : 1.0;
    m_rs = m_motor.R * scale;
    m_lds = m_motor.Ld * scale;
    m_lqs = m_motor.Lq * scale;
    m_psi = m_motor.FluxLinkage();
    m_pp = m_motor.polePairs;
    m_salient = std::abs(m_lds - m_lqs) > 1e-9 * (m_lds + m_lqs);
    m_h = m_hw.pwmPeriod;
    const double l = 0.5 * (m_lds + m_lqs);
    m_decay = std::exp(-m_rs * m_h / l);
    m_rateRound = m_rs * (1.0 / l);
    m_cachedOmegaE = std::numeric_limits<double>::quiet_NaN();
    m_decayD = std::exp(-m_rs * m_h / m_lds);
    m_decayQ = std::exp(-m_rs * m_h / m_lqs);
    m_decayOpen = m_decay; // 2R over 2L
    m_decayShorted = std::exp(-(2.0 * m_rs + kShortResistance) * m_h / (2.0 * l));
    m_inverseL = 1.0 / l;
    m_decayGain = (1.0 - m_decay) / m_rs;
    m_halfDecay = std::exp(-m_rs * 0.5 * m_h / l);
    m_halfGain = (1.0 - m_halfDecay) / m_rs;
    m_torqueFactor = 1.5 * m_pp;
    m_stepOverInertia = m_h / m_motor.TotalInertia();
    m_viscousTotal = m_motor.viscous + m_motor.loadViscous;
    m_coulombTotal = m_motor.coulomb + m_motor.loadCoulomb;
    m_deadFraction = m_hw.deadTime / m_h;
    m_supplyDecay = std::exp(-m_h / (m_options.supplyResistance * m_hw.busCapacitance));
    m_stepOverCapacitance = m_h / m_hw.busCapacitance;
    m_motorThermalStep = kThermalDivider * m_h / m_motor.thermalTimeConstant;
    m_motorHeating = m_motor.thermalResistance * 1.5 * m_rs;
    m_driveThermalStep = kThermalDivider * m_h / kDriveThermalTimeConstant;
    m_rippleCurrent = std::max(1e-3, m_options.busVoltage * m_h / (16.0 * l));
    m_inverseRipple = 1.0 / m_rippleCurrent;
    m_adcMax = m_hw.AdcMax();
    m_adcStep = m_hw.AdcStep();
    m_inverseAdcStep = 1.0 / m_adcStep;
    for (std::size_t k = 0; k < 3; ++k) {
        const double angle = m_motor.halls[k].angle * std::numbers::pi / 180.0;
        m_hallCos[k] = std::cos(angle);
        m_hallSin[k] = std::sin(angle);
    }
    m_stepsPerAmpere = m_adcMax / (2.0 * m_hw.currentFullScale) * m_inverseAdcStep;
    m_stepsAtZero = 32768.0 * m_inverseAdcStep + 0.5;
    const FaultSet& faults = m_options.faults;
    m_plainLegSensors = !faults.shortCircuit && !faults.swappedPhases && m_options.currentNoise <= 0.0 &&
                        m_options.currentOffsetA == 0.0 && m_options.currentOffsetB == 0.0;
}

void Plant::SetEnabled(bool on)
{
    m_enabled = on;
    if (!on)
        m_shortCurrent = 0.0;
}

void Plant::HoldSpeed(double omega)
{
    m_holdSpeed = !std::isnan(omega);
    m_heldSpeed = m_holdSpeed ? omega : 0.0;
    if (m_holdSpeed)
        m_omegaM = m_omegaL = omega;
}

void Plant::SetMotorAngle(double theta)
{
    m_thetaM = m_thetaL = theta;
    const double e = m_pp * theta;
    m_cos = std::cos(e);
    m_sin = std::sin(e);
}

double Plant::ElectricalAngle() const
{
    return std::atan2(m_sin, m_cos);
}

double Plant::CurrentD() const
{
    return m_ia * m_cos + m_ib * m_sin;
}
double Plant::CurrentQ() const
{
    return -m_ia * m_sin + m_ib * m_cos;
}

double Plant::LoadAngle() const
{
    return m_motor.coupling.present ? m_thetaL : m_thetaM;
}
double Plant::LoadSpeed() const
{
    return m_motor.coupling.present ? m_omegaL : m_omegaM;
}

// One function for the hot path: everything it calls is inlined.
[[gnu::flatten]] void Plant::Step()
{
    const double omegaE = m_pp * m_omegaM;
    // the rotor frame turns by this over the step
    double cw, sw;
    SmallSinCos(omegaE * m_h, cw, sw);

    if (m_enabled)
        StepElectrical(omegaE, cw, sw);
    else
        StepFreewheeling(omegaE, cw, sw);
    m_bus = NextBusVoltage(m_busCurrent);

    // The electrical angle turns with the rotor: by omegaE h when the speed
    // holds, corrected by the small rest when it changed over the step.
    const double thetaBefore = m_thetaM;
    if (m_holdSpeed || m_motor.coupling.present)
        StepMechanics(m_torque);
    else
        StepSingleMass(m_torque);
    const double rest = m_pp * (m_thetaM - thetaBefore) - omegaE * m_h;
    double c, s;
    if (std::abs(rest) < 1e-4) { // the terms left out stay below 5e-18
        const double half = 0.5 * rest * rest;
        c = cw - sw * rest - cw * half;
        s = sw + cw * rest - sw * half;
    } else {
        SmallSinCos(omegaE * m_h + rest, c, s);
    }
    RotateElectricalAngle(c, s);

    if ((m_renormalise & (kThermalDivider - 1)) == 0)
        StepTemperatures();
    m_time += m_h;
}

void Plant::StepElectrical(double omegaE, double cw, double sw)
{
    const FaultSet& faults = m_options.faults;
    // Average pole voltages over the period, less the dead time's share.
    // The legs switch symmetrically about the middle of the period: the
    // share follows the leg currents there. (Scalars, not arrays: the
    // compiler's packing of small arrays stalls the loads here.)
    double poleA = std::clamp(m_duty[0], 0.0, 1.0) * m_bus;
    double poleB = std::clamp(m_duty[1], 0.0, 1.0) * m_bus;
    double poleC = std::clamp(m_duty[2], 0.0, 1.0) * m_bus;
    double legA, legB, legC;
    MidPeriodLegCurrents(poleA, poleB, poleC, omegaE, legA, legB, legC);
    const double deadVoltage = m_bus * m_deadFraction;
    const auto deadShare = [&](double leg) {
        return deadVoltage * std::clamp(leg * m_inverseRipple, -1.0, 1.0);
    };
    poleA -= deadShare(legA);
    poleB -= deadShare(legB);
    poleC -= deadShare(legC);
    m_busCurrent = m_duty[0] * legA + m_duty[1] * legB + m_duty[2] * legC;
    if (faults.shortCircuit)
        m_shortCurrent = (poleA - poleB) * (1.0 / kShortResistance);
    if (faults.swappedPhases)
        std::swap(poleA, poleB);

    const double iqBefore = CurrentQ();
    const double idBefore = CurrentD();
    if (faults.openPhase) {
        StepElectricalOpenPhase(poleA - poleB, omegaE);
    } else {
        constexpr double third = 1.0 / 3.0, invSqrt3 = 1.0 / std::numbers::sqrt3;
        const double va = (2.0 * poleA - poleB - poleC) * third;
        const double vb = (poleB - poleC) * invSqrt3;
        if (m_salient)
            StepElectricalSalient(va, vb, omegaE);
        else
            StepElectricalRound(va, vb, omegaE, cw, sw);
    }
    TorqueOverStep(idBefore, iqBefore, cw, sw);
}

// Torque from the step's mean currents, each in the rotor frame of its instant.
void Plant::TorqueOverStep(double idBefore, double iqBefore, double cw, double sw)
{
    const double cosEnd = m_cos * cw - m_sin * sw, sinEnd = m_sin * cw + m_cos * sw;
    const double iq = 0.5 * (iqBefore + (-m_ia * sinEnd + m_ib * cosEnd));
    if (!m_salient) { // a round rotor makes no reluctance torque
        m_torque = m_torqueFactor * (m_psi * iq);
        return;
    }
    const double id = 0.5 * (idBefore + (m_ia * cosEnd + m_ib * sinEnd));
    m_torque = m_torqueFactor * (m_psi * iq + (m_lds - m_lqs) * id * iq);
}

double Plant::NextBusVoltage(double drawn) const
{
    const double supply = m_options.busVoltage;
    const double unfed = m_bus - drawn * m_stepOverCapacitance;
    if (unfed >= supply)
        return unfed; // the supply's output diode blocks
    const double settled = supply - m_options.supplyResistance * drawn;
    return std::clamp(settled + (m_bus - settled) * m_supplyDecay, 0.0, supply);
}

std::array<double, 3> Plant::MidStepBackEmf(double omegaE) const
{
    double ch, sh;
    SmallSinCos(0.5 * omegaE * m_h, ch, sh);
    const double sm = m_sin * ch + m_cos * sh, cm = m_cos * ch - m_sin * sh;
    const double k = omegaE * m_psi;
    const double alpha = -k * sm, beta = k * cm;
    return {alpha, -0.5 * alpha + kHalfSqrt3 * beta, -0.5 * alpha - kHalfSqrt3 * beta};
}

void Plant::SetPhaseCurrents(const std::array<double, 3>& phase)
{
    m_ia = phase[0];
    m_ib = (phase[1] - phase[2]) * (1.0 / std::numbers::sqrt3);
}

void Plant::StepLoop(int j, int k, double vjk, double ejk, double extraResistance, double decay)
{
    const auto jj = static_cast<std::size_t>(j), kk = static_cast<std::size_t>(k);
    const double before = PhaseCurrents()[jj];
    const double settled = (vjk - ejk) / (2.0 * m_rs + extraResistance);
    std::array<double, 3> phase{};
    phase[jj] = settled + (before - settled) * decay;
    phase[kk] = -phase[jj];
    SetPhaseCurrents(phase);
}

void Plant::StepFreewheeling(double omegaE, double cw, double sw)
{
    const double idBefore = CurrentD(), iqBefore = CurrentQ();
    const std::array<double, 3> before = PhaseCurrents();
    m_busCurrent = 0.0;
    if (omegaE == 0.0 && std::abs(before[0]) < kNoCurrent && std::abs(before[1]) < kNoCurrent) {
        m_ia = m_ib = m_torque = 0.0; // at rest without current: nothing moves
        return;
    }
    const std::array<double, 3> emf = MidStepBackEmf(omegaE);
    if (m_options.faults.shortCircuit) {
        // Phases A and B tied at the connector: the motor drives its current
        // round through the short; the legs carry none of it.
        StepLoop(0, 1, 0.0, emf[0] - emf[1], kShortResistance, m_decayShorted);
        m_shortCurrent = m_options.faults.swappedPhases ? Ia() : -Ia();
        TorqueOverStep(idBefore, iqBefore, cw, sw);
        return;
    }
    // Each leg's pole: 0 V when its current flows out into the motor, the bus
    // when it flows back; NaN while it floats.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::array<double, 3> pole{};
    int conducting = 0;
    for (std::size_t n = 0; n < 3; ++n) {
        const bool flows = std::abs(before[n]) >= kNoCurrent && !(m_options.faults.openPhase && n == 2);
        pole[n] = flows ? (before[n] > 0.0 ? 0.0 : m_bus) : nan;
        conducting += flows ? 1 : 0;
    }
    if (conducting < 2) {
        // No current: it starts only when a line back-EMF exceeds the bus,
        // from the highest terminal to the bus and from the lowest one to 0 V.
        std::size_t high = 0, low = 0;
        for (std::size_t n = 1; n < 3; ++n) {
            if (m_options.faults.openPhase && n == 2)
                continue;
            high = emf[n] > emf[high] ? n : high;
            low = emf[n] < emf[low] ? n : low;
        }
        if (emf[high] - emf[low] <= m_bus) {
            m_ia = m_ib = m_torque = 0.0;
            return;
        }
        pole = {nan, nan, nan};
        pole[high] = m_bus;
        pole[low] = 0.0;
    }
    // A floating terminal sits at the star point plus its back-EMF; beyond
    // the rails its diode conducts too.
    const auto floating = static_cast<std::size_t>(std::isnan(pole[0]) ? 0 : (std::isnan(pole[1]) ? 1 : 2));
    if (std::isnan(pole[floating]) && !(m_options.faults.openPhase && floating == 2)) {
        const std::size_t j = (floating + 1) % 3, k = (floating + 2) % 3;
        const double terminal = 0.5 * (pole[j] + pole[k] - emf[j] - emf[k]) + emf[floating];
        if (terminal > m_bus)
            pole[floating] = m_bus;
        else if (terminal < 0.0)
            pole[floating] = 0.0;
    }
    if (std::isnan(pole[floating])) {
        const std::size_t j = (floating + 1) % 3, k = (floating + 2) % 3;
        StepLoop(static_cast<int>(j), static_cast<int>(k), pole[j] - pole[k], emf[j] - emf[k], 0.0,
                 m_decayOpen);
    } else {
        constexpr double third = 1.0 / 3.0, invSqrt3 = 1.0 / std::numbers::sqrt3;
        const double va = (2.0 * pole[0] - pole[1] - pole[2]) * third;
        const double vb = (pole[1] - pole[2]) * invSqrt3;
        if (m_salient)
            StepElectricalSalient(va, vb, omegaE);
        else
            StepElectricalRound(va, vb, omegaE, cw, sw);
    }
    BlockReversedCurrents(pole);
    // The legs at the bus return their current to the link.
    const std::array<double, 3> after = PhaseCurrents();
    for (std::size_t n = 0; n < 3; ++n)
        if (pole[n] == m_bus)
            m_busCurrent += 0.5 * (before[n] + after[n]);
    TorqueOverStep(idBefore, iqBefore, cw, sw);
}

// A diode does not conduct backwards: a phase whose current would have
// turned through zero within the step stops at zero, the others carrying
// what is left between them.
void Plant::BlockReversedCurrents(const std::array<double, 3>& pole)
{
    std::array<double, 3> phase = PhaseCurrents();
    const auto reversed = [&](std::size_t n) {
        if (std::isnan(pole[n]))
            return false;
        const double direction = pole[n] == 0.0 ? 1.0 : -1.0; // out of the leg at 0 V
        return phase[n] * direction <= 0.0;
    };
    int stopped = 0;
    std::size_t last = 0;
    for (std::size_t n = 0; n < 3; ++n)
        if (reversed(n)) {
            ++stopped;
            last = n;
        }
    if (stopped == 0)
        return;
    if (stopped == 1) {
        const std::size_t j = (last + 1) % 3, k = (last + 2) % 3;
        const double loop = 0.5 * (phase[j] - phase[k]);
        phase = {};
        // what is left must still flow the way the two legs' diodes let it
        const bool allowed = std::isnan(pole[j]) || (pole[j] == 0.0 ? loop > 0.0 : loop < 0.0);
        if (allowed) {
            phase[j] = loop;
            phase[k] = -loop;
        }
    } else {
        phase = {};
    }
    SetPhaseCurrents(phase);
}

void Plant::RotateElectricalAngle(double c, double s)
{
    const double nc = m_cos * c - m_sin * s;
    const double ns = m_sin * c + m_cos * s;
    ++m_renormalise;
    if (m_renormalise >= 4096) { // afresh from the angle now and then
        m_renormalise = 0;
        const double e = std::remainder(m_pp * m_thetaM, 2.0 * std::numbers::pi);
        m_cos = std::cos(e);
        m_sin = std::sin(e);
    } else if ((m_renormalise & (kThermalDivider - 1)) == 0) {
        // back onto the unit circle (each rotation is unit to a few ulp)
        const double n = 0.5 * (3.0 - (nc * nc + ns * ns));
        m_cos = nc * n;
        m_sin = ns * n;
    } else {
        m_cos = nc;
        m_sin = ns;
    }
}

// Copper loss heats the motor, conduction loss the drive (slow: every few periods).
void Plant::StepTemperatures()
{
    const double i2 = m_ia * m_ia + m_ib * m_ib;
    m_motorTemp += m_motorThermalStep * (m_options.ambient + m_motorHeating * i2 - m_motorTemp);
    m_driveTemp += m_driveThermalStep * (m_options.ambient + kDriveHeating * i2 - m_driveTemp);
}

void Plant::MidPeriodLegCurrents(double poleA, double poleB, double poleC, double omegaE, double& legA,
                                 double& legB, double& legC) const
{
    // Half a period of the round-rotor circuit (the mean inductance) under
    // the pole voltages, the back-EMF held.
    const bool swapped = m_options.faults.swappedPhases;
    if (swapped)
        std::swap(poleA, poleB);
    const double va = (2.0 * poleA - poleB - poleC) * (1.0 / 3.0);
    const double vb = (poleB - poleC) * (1.0 / std::numbers::sqrt3);
    const double emf = omegaE * m_psi;
    const double alpha = m_halfDecay * m_ia + m_halfGain * (va + emf * m_sin);
    const double beta = m_halfDecay * m_ib + m_halfGain * (vb - emf * m_cos);
    constexpr double halfSqrt3 = 0.5 * std::numbers::sqrt3;
    legA = alpha;
    legB = -0.5 * alpha + halfSqrt3 * beta;
    legC = -0.5 * alpha - halfSqrt3 * beta;
    if (swapped)
        std::swap(legA, legB);
    if (m_options.faults.shortCircuit) {
        legA += m_shortCurrent;
        legB -= m_shortCurrent;
    }
}

void Plant::StepElectricalRound(double va, double vb, double omegaE, double cw, double sw)
{
    // L di/dt = v - R i - e(t), e = j w psi exp(j(theta0 + w t)), v constant:
    // i(h) = E i0 + (1 - E) v / R - (j w psi exp(j theta0) / L) (exp(j w h) - E) / (a + j w)
    const double a = m_rateRound;
    const double e = m_decay;
    const double nr = cw - e, ni = sw;
    if (omegaE != m_cachedOmegaE) { // the same speed as the last step (at rest) keeps the division
        m_cachedOmegaE = omegaE;
        m_cachedInverse = 1.0 / (a * a + omegaE * omegaE);
    }
    const double inverse = m_cachedInverse;
    const double qr = (nr * a + ni * omegaE) * inverse;
    const double qi = (ni * a - nr * omegaE) * inverse;
    const double k = omegaE * m_psi * m_inverseL;
    const double pr = -k * m_sin, pi = k * m_cos;
    const double tr = pr * qr - pi * qi;
    const double ti = pr * qi + pi * qr;
    const double g = m_decayGain;
    m_ia = e * m_ia + g * va - tr;
    m_ib = e * m_ib + g * vb - ti;
}

void Plant::StepElectricalSalient(double va, double vb, double omegaE)
{
    // Each axis exactly, the cross-coupling and back-EMF held over the step;
    // the voltage taken in the rotor frame at mid-step.
    double ch, sh;
    SmallSinCos(0.5 * omegaE * m_h, ch, sh);
    const double cm = m_cos * ch - m_sin * sh, sm = m_sin * ch + m_cos * sh;
    const double vd = va * cm + vb * sm;
    const double vq = -va * sm + vb * cm;
    const double id = m_ia * m_cos + m_ib * m_sin;
    const double iq = -m_ia * m_sin + m_ib * m_cos;
    const double idInf = (vd + omegaE * m_lqs * iq) / m_rs;
    const double iqInf = (vq - omegaE * m_lds * id - omegaE * m_psi) / m_rs;
    const double idNext = idInf + (id - idInf) * m_decayD;
    const double iqNext = iqInf + (iq - iqInf) * m_decayQ;
    const double ce = cm * ch - sm * sh, se = sm * ch + cm * sh; // frame at the end of the step
    m_ia = idNext * ce - iqNext * se;
    m_ib = idNext * se + iqNext * ce;
}

void Plant::StepElectricalOpenPhase(double vab, double omegaE)
{
    // Phase C open: ia = -ib through 2R and 2L, the line back-EMF held at mid-step.
    const std::array<double, 3> emf = MidStepBackEmf(omegaE);
    StepLoop(0, 1, vab, emf[0] - emf[1], 0.0, m_decayOpen);
}

void Plant::StepSingleMass(double torque)
{
    const MotorModel& m = m_motor;
    const double drive = torque - m.loadTorque - m_viscousTotal * m_omegaM;
    const double next = AdvanceSpeed(m_omegaM, drive, m_coulombTotal + BrakeHolding(), m_stepOverInertia);
    m_thetaM += 0.5 * (m_omegaM + next) * m_h;
    m_omegaM = next;
    m_thetaL = m_thetaM;
    m_omegaL = m_omegaM;
}

void Plant::StepMechanics(double torque)
{
    const double h = m_h;
    if (m_holdSpeed) {
        m_omegaM = m_omegaL = m_heldSpeed;
        m_thetaM += m_heldSpeed * h;
        m_thetaL = m_thetaM;
        return;
    }
    // Two masses on a compliant shaft; a few sub-steps keep a stiff shaft stable.
    const MotorModel& m = m_motor;
    const int steps = ShaftSubSteps(m.ShaftResonance(), h);
    const double dt = h / steps;
    for (int k = 0; k < steps; ++k) {
        const double shaft =
            m.coupling.stiffness * (m_thetaM - m_thetaL) + m.coupling.damping * (m_omegaM - m_omegaL);
        const double motorNext = AdvanceSpeed(m_omegaM, torque - shaft - m.viscous * m_omegaM,
                                              m.coulomb + BrakeHolding(), dt / m.Jm);
        const double loadNext = AdvanceSpeed(m_omegaL, shaft - m.loadTorque - m.loadViscous * m_omegaL,
                                             m.loadCoulomb, dt / m.Jload);
        m_omegaM = motorNext;
        m_omegaL = loadNext;
        m_thetaM += m_omegaM * dt;
        m_thetaL += m_omegaL * dt;
    }
}

double Plant::ReadHall(int sensor)
{
    const FaultSet& faults = m_options.faults;
    if (faults.missingHall && sensor == 2)
        return 0.0;
    int physical = sensor;
    if (faults.swappedHall && sensor > 0)
        physical = 3 - sensor;
    const auto k = static_cast<std::size_t>(physical);
    const HallSensorModel& hall = m_motor.halls[k];
    double volts = hall.offset + hall.amplitude * (m_cos * m_hallCos[k] + m_sin * m_hallSin[k]);
    if (m_options.hallNoise > 0.0)
        volts += m_options.hallNoise * m_random.Normal();
    volts = std::clamp(volts, 0.0, kHallFullScale);
    return Quantise(volts / kHallFullScale * m_adcMax);
}

double Plant::ReadBus()
{
    double volts = m_bus;
    if (m_options.busNoise > 0.0)
        volts += m_options.busNoise * m_random.Normal();
    return Quantise(volts / m_hw.busFullScale * m_adcMax);
}

double Plant::ReadReference()
{
    const double f =
        m_options.referenceLevel +
        m_options.referenceSwing * std::sin(2.0 * std::numbers::pi * m_time / m_options.referencePeriod);
    return Quantise(std::clamp(f, 0.0, 1.0) * m_adcMax);
}

double Plant::ReadDriveTemperature()
{
    return Quantise((m_hw.tempSensorAt0 + m_hw.tempSensorGain * m_driveTemp) / m_hw.adcRange * m_adcMax);
}

double Plant::ReadMotorTemperature()
{
    return Quantise((m_hw.tempSensorAt0 + m_hw.tempSensorGain * m_motorTemp) / m_hw.adcRange * m_adcMax);
}
