// What the programs share that first pull the rotor onto the aligned
// position with the start voltage "RefTest" (the positioning test's voltage)
// and then do their own work holding it there: the voltage rises smoothly
// over 50 ms before their own steps begin.
#pragma once

#include "Firmware.h"
#include "Program.h"
#include "ProgramHelpers.h"

#include <initializer_list>
#include <utility>

class AlignedStartProgram : public Program {
public:
    // The ramp, then the program's own steps.
    void Step(Firmware& fw) override
    {
        if (!m_ramping) {
            StepHolding(fw);
            return;
        }
        m_ramp.Tick();
        m_ramping = !program::RampVoltage(fw, m_ramp, m_voltage, program::Ticks(fw, 0.05));
    }

protected:
    // Reads "RefTest", switches on with the frame at the aligned position
    // and starts the ramp. False when the program has ended instead: no
    // usable voltage (the drive variables of `noVoltage` are set first), or
    // the drive refused.
    bool StartAligned(Firmware& fw, std::initializer_list<std::pair<const char*, double>> noVoltage = {})
    {
        m_voltage = User("RefTest");
        if (!program::IsVoltageInput(m_voltage)) {
            for (const auto& [name, value] : noVoltage)
                fw.SetVariable(name, value);
            Finish(fw);
            return false;
        }
        if (!SwitchOn(fw))
            return false;
        fw.ImposeAngle(program::kRestAngle);
        fw.SetVoltage(0.0);
        m_ramp.Enter(0);
        m_ramping = true;
        return true;
    }

    // Every speed-loop period once the start voltage holds the rotor.
    virtual void StepHolding(Firmware& fw) = 0;

private:
    program::Phase m_ramp;
    bool m_ramping = false;
    double m_voltage = 0.0; // [voltage command units]
};
