// "Initial_Positioning_Test": aligns the rotor's flux with phase A and finds
// the voltage command that drives the test current "In1" through the motor
// at standstill.
//
// 1. Ramp the voltage with the vector a quarter turn ahead of phase A until
//    the measured current reaches "In1" (a rotor that sat exactly opposite
//    this vector feels no torque here, but does in step 2).
// 2. Turn the vector onto phase A and let the rotor settle.
// 3. Trim the voltage until the current is "In1".
// Results: "In1" = the voltage command (> 0), 0 when the current could not be
// reached, kNoResult when the program could not run; drive variables
// "REFTST_V" and "RINCTST_V" = the voltage command.
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <cmath>

namespace {

using namespace program;

class InitialPositioning final : public Program {
public:
    void Start(Firmware& fw) override
    {
        m_target = User("In1");
        if (!IsCurrentInput(m_target)) {
            FinishNoResult(fw);
            return;
        }
        fw.SetVariable("REFTST_V", 0.0);
        fw.SetVariable("RINCTST_V", 0.0);
        if (!SwitchOn(fw))
            return;
        fw.ImposeAngle(kRestAngle + kQuarterTurn);
        fw.SetVoltage(0.0);
        m_voltage = 0.0;
        m_rampStep = kCommandLimit * fw.SlowPeriod(); // full scale in one second
        m_phase.Enter(kRampUp);
    }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        const double current = CurrentMagnitude(fw);
        m_filtered += 0.1 * (current - m_filtered);
        switch (m_phase.Current()) {
        case kRampUp:
            if (current >= m_target) {
                m_phase.Enter(kHoldAhead);
                break;
            }
            m_voltage += m_rampStep;
            if (m_voltage >= kCommandLimit) {
                // The current cannot be reached with the whole voltage.
                SetUser("In1", 0.0);
                Finish(fw);
                return;
            }
            fw.SetVoltage(m_voltage);
            break;
        case kHoldAhead:
            if (m_phase.Ticks() >= Ticks(fw, 0.1))
                m_phase.Enter(kTurnOnto);
            break;
        case kTurnOnto: {
            const long n = Ticks(fw, 0.1);
            fw.ImposeAngle(kRestAngle + kQuarterTurn * (1.0 - SmoothStep(m_phase.Ticks(), n)));
            if (m_phase.Ticks() >= n) {
                fw.ImposeAngle(kRestAngle);
                m_filtered = current;
                m_phase.Enter(kTrim);
            }
            break;
        }
        case kTrim:
            // Slow integral action on the filtered current, proportional to the voltage.
            if (m_filtered > 0.0)
                m_voltage += 0.02 * m_voltage * (m_target - m_filtered) / m_target;
            m_voltage = std::min(m_voltage, kCommandLimit);
            fw.SetVoltage(m_voltage);
            if (m_phase.Ticks() >= Ticks(fw, 0.25)) {
                if (m_filtered < 0.5 * m_target) {
                    SetUser("In1", 0.0);
                    Finish(fw);
                    return;
                }
                const double result = std::round(m_voltage);
                fw.SetVariable("REFTST_V", result);
                fw.SetVariable("RINCTST_V", result);
                SetUser("In1", result);
                Finish(fw);
            }
            break;
        }
    }

    std::vector<std::string> ResultNames() const override { return {"In1"}; }

private:
    enum { kRampUp, kHoldAhead, kTurnOnto, kTrim };
    Phase m_phase;
    double m_target = 0.0;  // [current units]
    double m_voltage = 0.0; // [voltage command units]
    double m_rampStep = 0.0;
    double m_filtered = 0.0;
};

} // namespace

std::unique_ptr<Program> MakeInitialPositioning()
{
    return std::make_unique<InitialPositioning>();
}
