// "Motor_Phase_Connection_Test": drives the start voltage "RefTest" onto
// phase A (phase A positive, B and C negative by half) and reports the mean
// measured phase currents: "var_i1" = phase A, "var_i2" = phase B [current
// units]. With the motor connected right, IA is about the test current and
// IB about minus half of it.
#include "AlignedStartProgram.h"
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

namespace {

using namespace program;

class PhaseConnectionCheck final : public AlignedStartProgram {
public:
    void Start(Firmware& fw) override
    {
        fw.SetVariable("var_i1", 0.0);
        fw.SetVariable("var_i2", 0.0);
        if (StartAligned(fw))
            m_phase.Enter(kSettle);
    }

protected:
    void StepHolding(Firmware& fw) override
    {
        m_phase.Tick();
        switch (m_phase.Current()) {
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
    enum { kSettle, kMeasure };
    Phase m_phase;
    double m_sumA = 0.0;
    double m_sumB = 0.0;
};

} // namespace

std::unique_ptr<Program> MakePhaseConnectionCheck()
{
    return std::make_unique<PhaseConnectionCheck>();
}
