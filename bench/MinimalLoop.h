// The floor of the virtual drive's hot path: the current loop and the plant
// of a round-rotor motor at one PWM period a step, written as one loop over
// locals with nothing else around it (no slow loop, protections, faults,
// noise, logger or program). The equations and their order are the virtual
// drive's: the imposed frame angle and the sine table, the quantised current
// readings, the two fixed-point PI controllers and the output filter, the
// vector limit and the space-vector modulator; the dead time from the
// mid-period leg currents, the exact RL step with the turning back-EMF, the
// torque over the step, the DC link, the rigid mechanics with stiction, the
// rotor angle turned by a rotation and the temperatures.
#pragma once

#include "MotorModel.h"
#include "Plant.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

class MinimalLoop {
public:
    struct Gains {
        std::int64_t kp = 0, ki = 0;
        int kpShift = 0, kiShift = 0;
        double filter = 1.0;
    };

    MinimalLoop(const MotorModel& motor, const DriveHardware& hw, const Gains& gains, double busVoltage,
                double supplyResistance)
        : m_gains(gains), m_bus(busVoltage), m_supply(busVoltage), m_supplyResistance(supplyResistance)
    {
        const double scale = motor.delta ? 1.0 / 3.0 : 1.0;
        const double r = motor.R * scale, l = motor.Ld * scale;
        m_h = hw.pwmPeriod;
        m_rate = r / l;
        m_inverseL = 1.0 / l;
        m_decay = std::exp(-r * m_h / l);
        m_gain = (1.0 - m_decay) / r;
        m_halfDecay = std::exp(-r * 0.5 * m_h / l);
        m_halfGain = (1.0 - m_halfDecay) / r;
        m_psi = motor.FluxLinkage();
        m_pp = motor.polePairs;
        m_torqueFactor = 1.5 * m_pp;
        m_stepOverInertia = m_h / motor.TotalInertia();
        m_viscous = motor.viscous + motor.loadViscous;
        m_coulomb = motor.coulomb + motor.loadCoulomb;
        m_load = motor.loadTorque;
        m_deadFraction = hw.deadTime / m_h;
        m_inverseRipple = 1.0 / std::max(1e-3, busVoltage * m_h / (16.0 * l));
        m_supplyDecay = std::exp(-m_h / (supplyResistance * hw.busCapacitance));
        m_stepOverCapacitance = m_h / hw.busCapacitance;
        m_motorThermalStep = 16.0 * m_h / motor.thermalTimeConstant;
        m_motorHeating = motor.thermalResistance * 1.5 * r;
        m_adcStep = hw.AdcStep();
        m_inverseAdcStep = 1.0 / m_adcStep;
        m_stepsMax = hw.AdcMax() * m_inverseAdcStep;
        m_stepsPerAmpere = hw.AdcMax() / (2.0 * hw.currentFullScale) * m_inverseAdcStep;
        m_stepsAtZero = 32768.0 * m_inverseAdcStep + 0.5;
        m_currentLimit = hw.currentFullScale;
        for (int k = 0; k <= kTable + kTable / 4; ++k)
            m_sine.push_back(std::sin(2.0 * std::numbers::pi * k / kTable));
    }

    // Runs `periods` PWM periods with the frame angle turning by `increment`
    // angle units a period and the q current reference `iqRef` [counts].
    // Returns false when the over-current comparator trips.
    bool Run(long periods, double increment, double iqRef)
    {
        double angle = m_angle, uq = m_uq, ud = m_ud;
        std::int64_t intQ = m_intQ, intD = m_intD;
        double dutyA = m_dutyA, dutyB = m_dutyB, dutyC = m_dutyC;
        double ia = m_ia, ib = m_ib, omega = m_omega, theta = m_theta, c = m_cos, s = m_sin, bus = m_bus;
        double temperature = m_temperature, time = m_time;
        for (long n = 0; n < periods; ++n) {
            // ---- current loop: frame, readings, controllers, modulator
            angle += increment;
            if (angle >= 32768.0)
                angle -= 65536.0;
            double fs, fc;
            SinCos(angle, fs, fc);
            const double phaseB = -0.5 * ia + 0.8660254037844386 * ib;
            if (std::abs(ia) > m_currentLimit || std::abs(phaseB) > m_currentLimit ||
                std::abs(ia + phaseB) > m_currentLimit)
                return false;
            const double a = Reading(ia), b = Reading(phaseB);
            const double beta = (a + 2.0 * b) * (1.0 / std::numbers::sqrt3);
            const double id = a * fc + beta * fs, iq = -a * fs + beta * fc;
            uq += m_gains.filter * (Pi(iqRef, iq, intQ) - uq);
            ud += m_gains.filter * (Pi(0.0, id, intD) - ud);
            const double square = uq * uq + ud * ud;
            if (square > 32767.0 * 32767.0) {
                const double k = 32767.0 / std::sqrt(square);
                uq *= k;
                ud *= k;
            }
            constexpr double kUnit = 1.1 / 65534.0;
            const double va = (ud * fc - uq * fs) * kUnit;
            const double vbeta = (ud * fs + uq * fc) * (0.8660254037844386 * kUnit);
            const double vb = -0.5 * va + vbeta, vc = -0.5 * va - vbeta;
            const double zero = 0.5 - 0.5 * (std::max(va, std::max(vb, vc)) + std::min(va, std::min(vb, vc)));

            // ---- plant: one period on the last period's duties
            const double omegaE = m_pp * omega;
            double cw, sw;
            SmallSinCos(omegaE * m_h, cw, sw);
            double poleA = std::clamp(dutyA, 0.0, 1.0) * bus;
            double poleB = std::clamp(dutyB, 0.0, 1.0) * bus;
            double poleC = std::clamp(dutyC, 0.0, 1.0) * bus;
            const double emf = omegaE * m_psi;
            const double halfA =
                m_halfDecay * ia + m_halfGain * ((2.0 * poleA - poleB - poleC) * kThird + emf * s);
            const double halfB = m_halfDecay * ib + m_halfGain * ((poleB - poleC) * kInverseSqrt3 - emf * c);
            const double legA = halfA, legB = -0.5 * halfA + 0.8660254037844386 * halfB,
                         legC = -0.5 * halfA - 0.8660254037844386 * halfB;
            const double dead = bus * m_deadFraction;
            poleA -= dead * std::clamp(legA * m_inverseRipple, -1.0, 1.0);
            poleB -= dead * std::clamp(legB * m_inverseRipple, -1.0, 1.0);
            poleC -= dead * std::clamp(legC * m_inverseRipple, -1.0, 1.0);
            const double drawn = dutyA * legA + dutyB * legB + dutyC * legC;
            const double iqBefore = -ia * s + ib * c;
            const double valpha = (2.0 * poleA - poleB - poleC) * kThird;
            const double vbeta2 = (poleB - poleC) * kInverseSqrt3;
            if (omegaE != m_cachedOmegaE) {
                m_cachedOmegaE = omegaE;
                m_cachedInverse = 1.0 / (m_rate * m_rate + omegaE * omegaE);
            }
            const double nr = cw - m_decay, ni = sw;
            const double qr = (nr * m_rate + ni * omegaE) * m_cachedInverse;
            const double qi = (ni * m_rate - nr * omegaE) * m_cachedInverse;
            const double k = emf * m_inverseL;
            const double pr = -k * s, pi = k * c;
            ia = m_decay * ia + m_gain * valpha - (pr * qr - pi * qi);
            ib = m_decay * ib + m_gain * vbeta2 - (pr * qi + pi * qr);
            const double cosEnd = c * cw - s * sw, sinEnd = s * cw + c * sw;
            const double torque = m_torqueFactor * m_psi * 0.5 * (iqBefore + (-ia * sinEnd + ib * cosEnd));
            const double unfed = bus - drawn * m_stepOverCapacitance;
            if (unfed >= m_supply) {
                bus = unfed;
            } else {
                const double settled = m_supply - m_supplyResistance * drawn;
                bus = std::clamp(settled + (bus - settled) * m_supplyDecay, 0.0, m_supply);
            }
            const double next = AdvanceSpeed(omega, torque - m_load - m_viscous * omega);
            const double turned = 0.5 * (omega + next) * m_h;
            theta += turned;
            omega = next;
            const double rest = m_pp * turned - omegaE * m_h;
            const double half = 0.5 * rest * rest;
            const double rc = cw - sw * rest - cw * half, rs = sw + cw * rest - sw * half;
            const double nc = c * rc - s * rs, ns = s * rc + c * rs;
            c = nc;
            s = ns;
            if ((++m_count & 15) == 0) {
                const double norm = 0.5 * (3.0 - (c * c + s * s));
                c *= norm;
                s *= norm;
                temperature +=
                    m_motorThermalStep * (25.0 + m_motorHeating * (ia * ia + ib * ib) - temperature);
            }
            time += m_h;
            dutyA = va + zero;
            dutyB = vb + zero;
            dutyC = vc + zero;
        }
        m_angle = angle, m_uq = uq, m_ud = ud, m_intQ = intQ, m_intD = intD;
        m_dutyA = dutyA, m_dutyB = dutyB, m_dutyC = dutyC;
        m_ia = ia, m_ib = ib, m_omega = omega, m_theta = theta, m_cos = c, m_sin = s, m_bus = bus;
        m_temperature = temperature, m_time = time;
        return true;
    }

    double Speed() const { return m_omega; }

private:
    static constexpr int kTable = 4096;
    static constexpr double kThird = 1.0 / 3.0, kInverseSqrt3 = 1.0 / std::numbers::sqrt3;

    void SinCos(double angle, double& sine, double& cosine) const
    {
        const double x = angle * (kTable / 65536.0);
        int whole = static_cast<int>(x);
        whole -= x < whole ? 1 : 0; // floor
        const double f = x - whole;
        const auto k = static_cast<std::size_t>(whole & (kTable - 1));
        sine = m_sine[k] + f * (m_sine[k + 1] - m_sine[k]);
        cosine = m_sine[k + kTable / 4] + f * (m_sine[k + kTable / 4 + 1] - m_sine[k + kTable / 4]);
    }
    double Reading(double amps) const
    {
        const double steps = std::clamp(amps * m_stepsPerAmpere + m_stepsAtZero, 0.0, m_stepsMax);
        return static_cast<double>(static_cast<std::int32_t>(steps)) * m_adcStep - 32768.0;
    }
    double Pi(double reference, double measured, std::int64_t& integral) const
    {
        const double difference = std::clamp(reference - measured, -65535.0, 65535.0);
        const auto error = static_cast<std::int64_t>(difference + (difference >= 0.0 ? 0.5 : -0.5));
        const std::int64_t p = ((m_gains.kp * error) << m_gains.kpShift) >> 15;
        constexpr std::int64_t kLimit = std::int64_t{32767} << 16;
        integral = std::clamp<std::int64_t>(integral + (((m_gains.ki * error) << m_gains.kiShift) << 1),
                                            -kLimit, kLimit);
        return static_cast<double>(std::clamp<std::int64_t>(p + (integral >> 16), -32767, 32767));
    }
    static void SmallSinCos(double x, double& c, double& s)
    {
        const double x2 = x * x;
        constexpr double k2 = 1.0 / 2, k12 = 1.0 / 12, k30 = 1.0 / 30, k56 = 1.0 / 56;
        constexpr double k6 = 1.0 / 6, k20 = 1.0 / 20, k42 = 1.0 / 42, k72 = 1.0 / 72;
        c = 1.0 - x2 * k2 * (1.0 - x2 * k12 * (1.0 - x2 * k30 * (1.0 - x2 * k56)));
        s = x * (1.0 - x2 * k6 * (1.0 - x2 * k20 * (1.0 - x2 * k42 * (1.0 - x2 * k72))));
    }
    double AdvanceSpeed(double omega, double torque) const
    {
        if (omega == 0.0 && std::abs(torque) <= m_coulomb)
            return 0.0;
        const double direction = omega != 0.0 ? (omega > 0.0 ? 1.0 : -1.0) : (torque > 0.0 ? 1.0 : -1.0);
        const double next = omega + m_stepOverInertia * (torque - m_coulomb * direction);
        return next * direction < 0.0 ? 0.0 : next;
    }

    Gains m_gains;
    std::vector<double> m_sine;
    double m_h = 5e-5, m_rate = 0, m_inverseL = 0, m_decay = 0, m_gain = 0, m_halfDecay = 0, m_halfGain = 0;
    double m_psi = 0, m_pp = 1, m_torqueFactor = 0, m_stepOverInertia = 0, m_viscous = 0, m_coulomb = 0;
    double m_load = 0, m_deadFraction = 0, m_inverseRipple = 0, m_supplyDecay = 0, m_stepOverCapacitance = 0;
    double m_motorThermalStep = 0, m_motorHeating = 0, m_adcStep = 64, m_inverseAdcStep = 1.0 / 64;
    double m_stepsMax = 1023, m_stepsPerAmpere = 0, m_stepsAtZero = 0, m_currentLimit = 10;
    double m_cachedOmegaE = -1, m_cachedInverse = 0;
    double m_bus, m_supply, m_supplyResistance;
    double m_angle = 0, m_uq = 0, m_ud = 0;
    std::int64_t m_intQ = 0, m_intD = 0;
    double m_dutyA = 0.5, m_dutyB = 0.5, m_dutyC = 0.5;
    double m_ia = 0, m_ib = 0, m_omega = 0, m_theta = 0, m_cos = 1, m_sin = 0;
    double m_temperature = 25, m_time = 0;
    unsigned m_count = 0;
};
