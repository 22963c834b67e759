// Faults the virtual drive can inject, by name: from a motor file's "faults"
// list or from a command option.
#pragma once

#include <string>
#include <vector>

struct FaultSet {
    bool openPhase = false;      // "open-phase": the motor lead of phase C is open
    bool swappedPhases = false;  // "swapped-phases": motor phases A and B swapped at the drive's outputs
    bool swappedHall = false;    // "swapped-hall": Hall signals B and C swapped
    bool missingHall = false;    // "missing-hall": Hall signal C missing (reads 0 V)
    bool shortCircuit = false;   // "short-circuit": phases A and B shorted at the motor connector
    bool enableInactive = false; // "enable-inactive": the ENABLE input is inactive
    bool limitSwitch = false;    // "limit-switch": the positive limit switch input is active
    bool weakBus = false;        // "weak-bus": the supply gives half its voltage through a high resistance
    bool noAnswer = false;       // "no-answer": the drive stops answering once a program has started

    // Adds a fault by name; false for an unknown name.
    bool Add(const std::string& name);
    bool Any() const;
    std::vector<std::string> Names() const;

    static const std::vector<std::string>& KnownNames();
};
