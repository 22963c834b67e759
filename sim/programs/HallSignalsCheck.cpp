// "Hall_Signals_Connection_Test": holds the rotor with the start voltage
// "RefTest" and turns the voltage vector slowly (one electrical revolution a
// second) while "run_test" is 1, so that every connected Hall signal sweeps
// its whole span on the converter channels the host samples ("AD6", "AD3",
// "AD9"/"AD8"). "run_test" = 0 ends the program.
#include "AlignedStartProgram.h"
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <cmath>

namespace {

using namespace program;

class HallSignalsCheck final : public AlignedStartProgram {
public:
    void Start(Firmware& fw) override
    {
        if (!FinishedByHost(fw))
            StartAligned(fw);
    }

    void Step(Firmware& fw) override
    {
        if (!FinishedByHost(fw))
            AlignedStartProgram::Step(fw);
    }

protected:
    void StepHolding(Firmware& fw) override
    {
        // Accelerate over one second to one electrical revolution per second.
        m_turning.Tick();
        const long accelTicks = Ticks(fw, 1.0);
        const double speed = kTurn * fw.SlowPeriod() * std::min(1.0, double(m_turning.Ticks()) / accelTicks);
        m_angle = std::fmod(m_angle + speed, kTurn);
        fw.ImposeAngle(kRestAngle + m_angle);
    }

private:
    // "run_test" = 0 ends the program.
    bool FinishedByHost(Firmware& fw)
    {
        if (User("run_test") != 0.0)
            return false;
        Finish(fw);
        return true;
    }

    Phase m_turning;
    double m_angle = 0.0;
};

} // namespace

std::unique_ptr<Program> MakeHallSignalsCheck()
{
    return std::make_unique<HallSignalsCheck>();
}
