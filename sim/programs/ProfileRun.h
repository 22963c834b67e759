// The programs of the speed and position controller tuning tests: the loop
// follows the six-segment reference the host wrote ("a0".."a5" counts,
// "b0".."b5" increments per speed-loop period) once, or again and again
// while "MultiC" is non-zero, with sensor commutation and the gains the
// drive holds (the host may change them while the test runs). The logger
// records whatever the host asked for.
//
// A single run ends a little after the profile, once the log is full; a
// repeated one runs until the host stops it.
// Result: "test_flag" = 1 while and after a good run, 0 when the largest
// phase current exceeded "Imax_Prot_Test" (the run then ends at once),
// kNoResult when the program could not run or a drive protection stopped it.
// The loop limits a program sets for its run are put back at its end.
#pragma once

#include "Firmware.h"
#include "Program.h"
#include "ProgramGuards.h"

class ProfileRun : public Program {
public:
    void Start(Firmware& fw) final;
    void FastStep(Firmware& fw) final;
    void Step(Firmware& fw) final;
    void OnProtection(Firmware& fw) final;
    void OnStop(Firmware& fw) final;
    std::vector<std::string> ResultNames() const final { return {"test_flag"}; }

protected:
    // The loop the profile drives.
    virtual ProfileTarget Target() const = 0;
    // Sets the loop's structure and limits from the program's inputs.
    virtual void SetLimits(Firmware& fw, program::RegisterOverrides& registers) = 0;

    // A limit input in the drive's units: finite and positive, else 0 (keep the setup's).
    double LimitInput(const char* name) const;
    // "ACR" with bit 9 (the position loop drives the speed loop) set or cleared.
    static void SetCascade(Firmware& fw, program::RegisterOverrides& registers, bool cascade);

private:
    void End(Firmware& fw);

    program::CurrentGuard m_guard;
    program::RegisterOverrides m_registers;
    bool m_repeat = false;
    long m_afterProfile = 0; // speed-loop periods since the profile ended
};
