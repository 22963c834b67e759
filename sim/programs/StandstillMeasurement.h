// What the resistance and inductance measurements share: the test current
// "In1" at the aligned position with the rotor held by the brake, the log
// held back until the program releases it, and the voltage command that
// drives the current as the result "var_i1" (kNoResult until there is one).
#pragma once

#include "Firmware.h"
#include "Program.h"
#include "ProgramHelpers.h"

class StandstillMeasurement : public Program {
protected:
    // Reads "In1", switches on and holds the rotor. False when the program
    // has ended instead: no usable test current, or the drive refused.
    bool StartAtStandstill(Firmware& fw)
    {
        fw.SetVariable("var_i1", kNoResult);
        m_target = User("In1");
        if (!program::IsCurrentInput(m_target)) {
            Finish(fw);
            return false;
        }
        if (!SwitchOn(fw))
            return false;
        fw.HoldBrake(); // the rotor stays put, whatever load pulls it
        fw.HoldLog();
        fw.ImposeAngle(program::kRestAngle);
        return true;
    }

    // Once the log is full, or the recording `phase` lasted longer than any
    // log takes: the voltage as the result, and the end.
    void FinishWhenRecorded(Firmware& fw, const program::Phase& phase)
    {
        constexpr double kRecordLimit = 10.0; // [s]
        if (fw.LogFull() || phase.Ticks() >= program::Ticks(fw, kRecordLimit)) {
            fw.SetVariable("var_i1", m_voltage);
            Finish(fw);
        }
    }

    double m_target = 0.0;  // the test current [current units]
    double m_voltage = 0.0; // [voltage command units]
};
