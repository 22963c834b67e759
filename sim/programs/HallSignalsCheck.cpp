// "Hall_Signals_Connection_Test": holds the rotor with the start voltage
// "RefTest" and turns the voltage vector slowly (one electrical revolution a
// second) while "run_test" is 1, so that every connected Hall signal sweeps
// its whole span on the converter channels the host samples ("AD6", "AD3",
// "AD9"/"AD8"). "run_test" = 0 ends the program.
#include "Firmware.h"
#include "ProgramHelpers.h"
#include "Programs.h"

#include <cmath>

namespace {

using namespace program;

class HallSignalsCheck final : public Program {
public:
    void Start(Firmware& fw) override
    {
        m_voltage = User("RefTest");
        if (!IsVoltageInput(m_voltage) || User("run_test") == 0.0) {
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
        if (User("run_test") == 0.0) {
            Finish(fw);
            return;
        }
        m_phase.Tick();
        const long rampTicks = Ticks(fw, 0.05);
        switch (m_phase.Current()) {
        case kRamp:
            if (RampVoltage(fw, m_phase, m_voltage, rampTicks))
                m_phase.Enter(kTurning);
            break;
        case kTurning: {
            // Accelerate over one second to one electrical revolution per second.
            const long accelTicks = Ticks(fw, 1.0);
            const double speed =
                kTurn * fw.SlowPeriod() * std::min(1.0, double(m_phase.Ticks()) / accelTicks);
            m_angle = std::fmod(m_angle + speed, kTurn);
            fw.ImposeAngle(kRestAngle + m_angle);
            break;
        }
        }
    }

private:
    enum { kRamp, kTurning };
    Phase m_phase;
    double m_voltage = 0.0;
    double m_angle = 0.0;
};

} // namespace

std::unique_ptr<Program> MakeHallSignalsCheck()
{
    return std::make_unique<HallSignalsCheck>();
}
