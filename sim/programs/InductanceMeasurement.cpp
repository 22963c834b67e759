// "Ident_L_or_Tau_el": turns a voltage vector of constant amplitude at a few
// hundred hertz with the rotor at rest and lets the logger record the
// current in the turning frame ("IQ" along the voltage, "ID" a quarter turn
// behind it). In steady state the current lags the voltage by the winding's
// impedance angle, so the host gets L = ID x U / (w x (IQ^2 + ID^2)); a
// resistive drop (winding, dead time) only adds to the in-phase part.
//
// 1. Raise the amplitude until the current magnitude reaches "In1". When the
//    whole voltage gives less than half of it (a large inductance), halve
//    the frequency, at most three times.
// 2. Settle, then let the logger record; finish once it is full.
// The modulator applies the voltage a current-loop period computes from the
// PWM period after the sample until one PWM period after the next sample: on
// average a PWM period and half a current-loop period after the sample. The
// vector is put ahead by the angle it turns in that time, so the current the
// host sees is the response to a voltage exactly on the q axis.
// Results: drive variables "TINCTST" = the angle increment per current-loop
// period and "var_i1" = the voltage amplitude [voltage command units];
// "var_i1" holds kNoResult when no current flows.
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"
#include "StandstillMeasurement.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using namespace program;

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kFrequency = 500.0; // [Hz] first choice
constexpr int kMaxHalvings = 3;
constexpr double kMaxVoltage = 0.95 * kCommandLimit;
constexpr double kRampTime = 0.25;   // [s] from 0 to the whole voltage
constexpr double kSettleTime = 0.05; // [s]

// From a current sample to the middle of the time the voltage computed on
// it acts [s]: it loads into the modulator one PWM period after the sample
// and holds until the next current-loop period's voltage loads.
double ModulatorDelay(const Firmware& fw)
{
    return fw.PwmPeriod() + 0.5 * fw.FastPeriod();
}

class InductanceMeasurement final : public StandstillMeasurement {
public:
    void Start(Firmware& fw) override
    {
        if (!StartAtStandstill(fw))
            return;
        // An odd increment visits every angle, so the converter's steps average out.
        const double increment = std::round(kFrequency * kTurn * fw.FastPeriod());
        SetIncrement(fw, static_cast<long>(increment) | 1L);
        Apply(fw, 0.0);
        m_phase.Enter(kRamp);
    }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        const double magnitude = CurrentMagnitude(fw);
        m_filtered += 0.2 * (magnitude - m_filtered);
        switch (m_phase.Current()) {
        case kRamp:
            if (m_filtered >= m_target) {
                m_phase.Enter(kSettle);
                break;
            }
            Apply(fw, std::min(kMaxVoltage, m_voltage + kCommandLimit * fw.SlowPeriod() / kRampTime));
            if (m_voltage >= kMaxVoltage)
                m_phase.Enter(kAtLimit);
            break;
        case kAtLimit:
            if (m_phase.Ticks() < Ticks(fw, kSettleTime))
                break;
            if (m_filtered < 0.5 * m_target && m_halvings < kMaxHalvings) {
                ++m_halvings;
                SetIncrement(fw, (m_increment / 2) | 1L);
                Apply(fw, m_voltage);
                m_phase.Enter(kAtLimit);
                break;
            }
            if (m_filtered > m_target)
                Apply(fw, m_voltage * m_target / m_filtered);
            if (m_filtered < 0.05 * m_target) {
                Finish(fw); // no current: an open winding
                return;
            }
            m_phase.Enter(kSettle);
            break;
        case kSettle:
            if (m_phase.Ticks() >= Ticks(fw, kSettleTime)) {
                fw.ReleaseLog();
                m_phase.Enter(kRecord);
            }
            break;
        case kRecord:
            FinishWhenRecorded(fw, m_phase);
            break;
        }
    }

private:
    enum { kRamp, kAtLimit, kSettle, kRecord };

    void SetIncrement(Firmware& fw, long increment)
    {
        m_increment = increment;
        fw.SetAngleIncrement(static_cast<double>(increment));
        const double omega = kTwoPi * static_cast<double>(increment) / (kTurn * fw.FastPeriod());
        m_lead = omega * ModulatorDelay(fw);
    }

    // Amplitude U on the q axis, turned ahead by the lead angle.
    void Apply(Firmware& fw, double voltage)
    {
        m_voltage = voltage;
        fw.SetVoltage(voltage * std::cos(m_lead), -voltage * std::sin(m_lead));
    }

    Phase m_phase;
    double m_filtered = 0.0; // current magnitude [current units]
    double m_lead = 0.0;     // [rad]
    long m_increment = 0;    // [angle units per current-loop period]
    int m_halvings = 0;
};

} // namespace

std::unique_ptr<Program> MakeInductanceMeasurement()
{
    return std::make_unique<InductanceMeasurement>();
}
