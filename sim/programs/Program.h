// A drive program: the state machine the virtual drive runs when the host
// starts a program by name. It sees the drive only through the firmware
// (Firmware.h): its registers, its loops and its own sensors, never the
// simulated motor's true parameters.
//
// Protocol every program keeps (the host relies on it):
// - "STARTED" reads 0 until the program runs. SwitchOn() sets it once the
//   power stage is on; Finish() sets it at the latest. So a host that sees
//   STARTED != 0 and the power stage off knows the program has ended.
// - At its end the program switches the power stage off (Finish does it).
// - A result it could not produce holds kNoResult (FinishNoResult does it).
//
// Threading: everything runs on the caller's thread, inside a request to the
// virtual drive, on the drive's own clock.
#pragma once

#include "CaseInsensitive.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Firmware;

// The value a drive program leaves in a result it could not produce.
inline constexpr double kNoResult = 1.2345e100;

// The user variables of one program, by name (letter case ignored). The drive
// keeps them between runs: the host writes inputs before the start.
class UserVariables {
public:
    bool Has(std::string_view name) const { return m_values.find(name) != m_values.end(); }
    // 0 for a name the program does not have.
    double Get(std::string_view name) const;
    // Ignored for a name the program does not have.
    void Set(std::string_view name, double value);
    // Adds the name (at 0) when it is new.
    void Declare(const std::string& name);
    // Every variable back to 0 except those written since the last call of
    // MarkStarted (the host's inputs of this run).
    void MarkStarted();
    // Remembers that the host wrote the variable (kept by MarkStarted).
    void NoteWritten(std::string_view name);
    std::vector<std::string> Names() const;

private:
    CaseInsensitiveMap<double> m_values;
    CaseInsensitiveMap<bool> m_written;
};

class Program {
public:
    virtual ~Program() = default;

    // Called once when the host starts the program (after the user variables
    // have their inputs), at the beginning of a speed-loop period.
    virtual void Start(Firmware& fw) = 0;
    // One step every speed-loop period while the program runs (not after Finish).
    virtual void Step(Firmware& fw) = 0;
    // Every current-loop period while the program runs, after the currents
    // were measured and before the current controller acts. Most programs
    // need only Step.
    virtual void FastStep(Firmware& /*fw*/) {}
    // The host wrote a drive variable (for example a command in "var_i2")
    // while the program runs; called at once, inside the write.
    virtual void OnDriveVariableWritten(Firmware& /*fw*/, std::string_view /*name*/) {}
    // A protection switched the power stage off while the program ran.
    // Default: finish without results (ResultNames()).
    virtual void OnProtection(Firmware& fw);
    // The host stops the program. Default: finish (power stage off).
    virtual void OnStop(Firmware& fw) { Finish(fw); }
    // The results that hold kNoResult when the program ends without them.
    virtual std::vector<std::string> ResultNames() const { return {}; }

    bool IsFinished() const { return m_finished; }
    void Attach(UserVariables* variables) { m_user = variables; }

protected:
    double User(std::string_view name) const { return m_user ? m_user->Get(name) : 0.0; }
    void SetUser(std::string_view name, double value)
    {
        if (m_user)
            m_user->Set(name, value);
    }

    // Switches the power stage on and sets "STARTED". When the drive refuses
    // (ENABLE inactive, a protection latched) the program finishes without
    // results and false is returned.
    bool SwitchOn(Firmware& fw);
    // Power stage off, control off, "STARTED" set, program ended.
    void Finish(Firmware& fw);
    // Writes kNoResult into the results (ResultNames() when the list is
    // empty), then Finish.
    void FinishNoResult(Firmware& fw, std::initializer_list<const char*> results = {});

private:
    UserVariables* m_user = nullptr;
    bool m_finished = false;
};

// A program of the drive's program set.
struct ProgramInfo {
    std::string name;
    // The user variables it exchanges with the host ("STARTED" included).
    std::vector<std::string> userVariables;
    std::function<std::unique_ptr<Program>()> create;
};

// Every program the virtual drive can run (ProgramSet.cpp lists them).
const std::vector<ProgramInfo>& ProgramSet();
// Lookup ignoring letter case; null when the drive has no such program.
const ProgramInfo* FindProgram(std::string_view name);
