// "Ident_R_or_Rs": holds a constant current of about "In1" along phase A at
// the aligned position (no torque) and reports the voltage command that
// drives it. The host runs it at two currents and takes the resistance from
// the difference, so the inverter's dead-time drop falls out.
//
// 1. Ramp the voltage to "RefTest" (the positioning test's voltage for this
//    current) or, without it, raise it until the current is reached.
// 2. Settle until the rotor is at rest, measure the phase currents, trim
//    the voltage towards "In1" (at most twice). Unbalanced phase currents
//    (an open phase) or a current that cannot be reached end the run
//    without a result.
// 3. Hold the voltage with a slow triangle of a few converter steps on top,
//    so the current sweeps over the converter's steps and the logged samples
//    average to the true mean; the triangle's period divides the log.
// 4. Let the logger record ("IQ"); finish once it is full.
// Result: drive variable "var_i1" = the mean voltage command [voltage command
// units]; kNoResult when there is none.
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"
#include "StandstillMeasurement.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace program;

constexpr double kSettleTime = 0.04;   // [s] after each voltage change
constexpr double kMeasureTime = 0.02;  // [s]
constexpr double kDitherPeriod = 0.02; // [s]
constexpr double kDitherCurrent = 200; // triangle amplitude [current units]
constexpr double kRestWindow = 0.02;   // [s] the rotor counts as at rest when it stayed...
constexpr double kRestTravel = 4.0;    // ...within this span [increments] for this time
constexpr double kRestLimit = 1.0;     // [s] the longest wait for it
constexpr double kMaxVoltage = 0.95 * kCommandLimit;
constexpr int kMaxTrims = 2;

class ResistanceMeasurement final : public StandstillMeasurement {
public:
    void Start(Firmware& fw) override
    {
        if (!StartAtStandstill(fw))
            return;
        fw.SetVoltage(0.0);
        m_start = User("RefTest");
        m_phase.Enter(IsVoltageInput(m_start) && m_start < kMaxVoltage ? kRamp : kSearch);
    }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        switch (m_phase.Current()) {
        case kRamp: {
            const long n = Ticks(fw, 0.02);
            m_voltage = m_start * SmoothStep(m_phase.Ticks(), n);
            fw.SetVoltage(m_voltage);
            if (m_phase.Ticks() >= n)
                m_phase.Enter(kSettle);
            break;
        }
        case kSearch:
            if (fw.CurrentQ() >= m_target) {
                m_phase.Enter(kSettle);
                break;
            }
            m_voltage += kCommandLimit * fw.SlowPeriod(); // full scale in one second
            if (m_voltage >= kMaxVoltage) {
                Finish(fw);
                return;
            }
            fw.SetVoltage(m_voltage);
            break;
        case kSettle: {
            // Long enough for the current, and the rotor at rest (a load
            // may have moved it while the power stage was off).
            const long window = Ticks(fw, kRestWindow);
            m_recent.push_back(fw.Position());
            if (static_cast<long>(m_recent.size()) > window + 1)
                m_recent.erase(m_recent.begin());
            const auto [low, high] = std::minmax_element(m_recent.begin(), m_recent.end());
            const bool still =
                static_cast<long>(m_recent.size()) == window + 1 && *high - *low <= kRestTravel;
            if (m_phase.Ticks() >= Ticks(fw, kSettleTime) &&
                (still || m_phase.Ticks() >= Ticks(fw, kRestLimit))) {
                m_sumQ = m_sumA = m_sumB = 0.0;
                m_recent.clear();
                m_phase.Enter(kMeasure);
            }
            break;
        }
        case kMeasure:
            m_sumQ += fw.CurrentQ();
            m_sumA += fw.CurrentA();
            m_sumB += fw.CurrentB();
            if (m_phase.Ticks() >= Ticks(fw, kMeasureTime))
                Evaluate(fw);
            break;
        case kDitherSettle:
        case kRecord:
            Dither(fw);
            break;
        }
    }

private:
    enum { kRamp, kSearch, kSettle, kMeasure, kDitherSettle, kRecord };

    void Evaluate(Firmware& fw)
    {
        const double n = static_cast<double>(m_phase.Ticks());
        const double current = m_sumQ / n;
        const double a = m_sumA / n, b = m_sumB / n, c = -a - b;
        // Along phase A the other two phases carry half the current each.
        const bool balanced = a > 0.0 && std::abs(b - c) <= 0.25 * a;
        if (!balanced || current < 0.2 * m_target) {
            Finish(fw);
            return;
        }
        if (m_trims < kMaxTrims && std::abs(current - m_target) > 0.02 * m_target) {
            ++m_trims;
            m_voltage = std::min(m_voltage * m_target / current, kMaxVoltage);
            fw.SetVoltage(m_voltage);
            m_phase.Enter(kSettle);
            return;
        }
        // A multiple of four periods, so the triangle's samples sum to zero.
        m_period = std::max(4L, Ticks(fw, kDitherPeriod) / 4 * 4);
        m_amplitude = std::min(0.1 * m_voltage, m_voltage * kDitherCurrent / current);
        m_tick = 0;
        m_phase.Enter(kDitherSettle);
    }

    void Dither(Firmware& fw)
    {
        const long quarter = m_period / 4;
        const double x = static_cast<double>(m_tick) / static_cast<double>(quarter);
        const double triangle = m_tick < quarter ? x : (m_tick < 3 * quarter ? 2.0 - x : x - 4.0);
        fw.SetVoltage(m_voltage + m_amplitude * triangle);
        m_tick = (m_tick + 1) % m_period;

        if (m_phase.Current() == kDitherSettle) {
            if (m_phase.Ticks() >= 2 * m_period) {
                fw.ReleaseLog();
                m_phase.Enter(kRecord);
            }
            return;
        }
        FinishWhenRecorded(fw, m_phase);
    }

    Phase m_phase;
    double m_start = 0.0; // [voltage command units]
    double m_sumQ = 0.0, m_sumA = 0.0, m_sumB = 0.0;
    int m_trims = 0;
    long m_period = 4; // triangle period [speed-loop periods]
    long m_tick = 0;
    double m_amplitude = 0.0;     // [voltage command units]
    std::vector<double> m_recent; // positions while settling [increments]
};

} // namespace

std::unique_ptr<Program> MakeResistanceMeasurement()
{
    return std::make_unique<ResistanceMeasurement>();
}
