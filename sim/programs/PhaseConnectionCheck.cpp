// "Motor_Phase_Connection_Test": drives the start voltage "RefTest" onto
// phase A (phase A positive, B and C negative by half) and reports the mean
// measured phase currents: "var_i1" = phase A, "var_i2" = phase B [current
// units]. With the motor connected right, IA is about the test current and
// IB about minus half of it.
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

namespace {

using namespace program;

class PhaseConnectionCheck final : public Program {
public:
    void Start(Firmware& fw) override
    {
        fw.SetVariable("var_i1", 0.0);
        fw.SetVariable("var_i2", 0.0);
        m_voltage = User("RefTest");
        if (!IsVoltageInput(m_voltage)) {
            Finish(fw);
            return;
        }
        if (!SwitchOn(fw))
            return;
        fw.ImposeAngle(kRestAngle);
        fw.SetVoltage(0.0);
        m_phase.Enter(kRamp);
    }

    void Step(Firmware& fw) override
    {
        m_phase.Tick();
        switch (m_phase.Current()) {
        case kRamp:
            if (RampVoltage(fw, m_phase, m_voltage, Ticks(fw, 0.05)))
                m_phase.Enter(kSettle);
            break;
        case kSettle:
            if (m_phase.Ticks() >= Ticks(fw, 0.15))
                m_phase.Enter(kMeasure);
            break;
        case kMeasure:
            m_sumA += fw.CurrentA();
            m_sumB += fw.CurrentB();
            if (m_phase.Ticks() >= Ticks(fw, 0.05)) {
                const double n = static_cast<double>(m_phase.Ticks());
                fw.SetVariable("var_i1", std::round(m_sumA / n));
                fw.SetVariable("var_i2", std::round(m_sumB / n));
                Finish(fw);
            }
            break;
        }
    }

private:
    enum { kRamp, kSettle, kMeasure };
    Phase m_phase;
    double m_voltage = 0.0;
    double m_sumA = 0.0;
    double m_sumB = 0.0;
};

} // namespace

std::unique_ptr<Program> MakePhaseConnectionCheck()
{
    return std::make_unique<PhaseConnectionCheck>();
}
