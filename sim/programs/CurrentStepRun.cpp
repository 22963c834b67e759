// "Current_Controller_Tuning_Test": steps the current controller's reference
// between 0 and "In1" with the current along phase A at the aligned position
// (along the rotor's flux, so the rotor stays where it is; the brake, if the
// axis has one, holds it against a load such as gravity), while the logger
// records "Current_Reference", "Motor_Current" and "Voltage_Reference". The
// controller runs with the gains the drive holds, which the host may change
// while the test runs.
//
// Timeline: a short rest at 0, then "In1" and 0 in turn, each for 10 ms,
// until the log is full: a log at the current-loop rate holds a few steps.
// Result: "test_flag" = 1, or 0 when the largest phase current exceeded
// "Imax_Prot_Test" (the run then ends at once); kNoResult when the program
// could not run.
#include "Firmware.h"
#include "ProgramGuards.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <cmath>

namespace {

using namespace program;

constexpr double kRest = 0.0025;      // [s] at 0 before the first step
constexpr double kHalfPeriod = 0.010; // [s]
constexpr double kRunLimit = 10.0;    // [s] the longest log the program waits for

class CurrentStepRun final : public Program {
public:
    void Start(Firmware& fw) override
    {
        m_step = User("In1");
        if (!(std::isfinite(m_step) && std::abs(m_step) <= kCommandLimit)) {
            FinishNoResult(fw);
            return;
        }
        SetUser("test_flag", 1.0);
        m_guard.Arm(User("Imax_Prot_Test"));
        if (!SwitchOn(fw))
            return;
        fw.HoldBrake();
        fw.ImposeAngle(kRestAngle);
        fw.SetCurrent(0.0);
    }

    void FastStep(Firmware& fw) override
    {
        if (m_guard.Check(fw))
            fw.SetCurrent(0.0);
    }

    void Step(Firmware& fw) override
    {
        if (m_guard.Tripped()) {
            SetUser("test_flag", 0.0);
            Finish(fw);
            return;
        }
        const long rest = Ticks(fw, kRest);
        const long half = Ticks(fw, kHalfPeriod);
        if (m_ticks >= rest) {
            const bool high = ((m_ticks - rest) / half) % 2 == 0;
            fw.SetCurrent(high ? m_step : 0.0);
        }
        ++m_ticks;
        if ((m_ticks > rest && fw.LogFull()) || m_ticks >= Ticks(fw, kRunLimit)) {
            Finish(fw);
        }
    }

    std::vector<std::string> ResultNames() const override { return {"test_flag"}; }

private:
    CurrentGuard m_guard;
    double m_step = 0.0; // [current units]
    long m_ticks = 0;
};

} // namespace

std::unique_ptr<Program> MakeCurrentStepRun()
{
    return std::make_unique<CurrentStepRun>();
}
