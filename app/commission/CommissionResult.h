// What an automatic commissioning found and did, as the terminal summary, the
// report page and its JSON and CSV files show it.
#pragma once

#include "SetupDiff.h"

#include <limits>
#include <string>
#include <vector>

// A value as the terminal shows it: five significant digits, "-" when none.
std::string ShortNumber(double value);

// One quantity an identification test found, from each of its runs.
struct IdentifiedValue {
    std::string test;         // the test's title, e.g. "Resistance and inductance identification"
    std::string name;         // the setup parameter, e.g. "R"
    std::string unit;         // the unit of every value below, e.g. "Ohm"; empty for none
    std::vector<double> runs; // each run's value, in `unit`
    double datasheet = std::numeric_limits<double>::quiet_NaN(); // NaN: not on the datasheet
    double truth = std::numeric_limits<double>::quiet_NaN();     // the virtual drive's motor; NaN: unknown
    // The spread between runs the test's noise allows, relative to the value
    // (0: the runs must agree exactly).
    double allowedSpread = 0.0;
    std::vector<std::string> flags; // why a person should look again; empty when none

    double Kept() const { return runs.empty() ? std::numeric_limits<double>::quiet_NaN() : runs.back(); }
};

// A controller gain as the design gives it and as the drive's registers hold it.
struct GainValue {
    std::string loop; // "current", "speed", "position"
    std::string name; // the setup parameter, e.g. "Kp_S_scl"
    std::string unit;
    double designed = 0.0;
    double quantised = 0.0;
};

// Samples of one plot: x in column 0, one curve per further column.
struct Trace {
    std::string id;     // file stem of its SVG and CSV, e.g. "speed-response"
    std::string title;  // caption shown above the plot
    std::string xLabel; // with its unit, e.g. "Time [s]"
    std::string yLabel;
    std::vector<std::string> columns; // names of every column, x first
    std::vector<std::vector<double>> rows;
};

// How long one stage of a test took, in wall time and in the drive's time.
struct StageTime {
    std::string test;
    std::string stage;
    double wallSeconds = 0.0;
    double driveSeconds = 0.0;
};

// The resonance search on the speed loop's error.
struct ResonanceCheck {
    bool searched = false;
    bool found = false;
    double frequency = 0.0; // [Hz], the largest peak of the error's spectrum
    double peak = 0.0;      // its amplitude [rpm]
    double floor = 0.0;     // the spectrum's median amplitude [rpm]
    double after = 0.0;     // the amplitude at `frequency` with the notch [rpm]
    double rmsBefore = 0.0; // the speed error's RMS over the profile [rpm]
    double rmsAfter = 0.0;
};

struct CommissionResult {
    std::string setupFile; // what the commissioning started from
    std::string motorFile; // the virtual drive's motor
    std::string motorName; // as the motor database shows it
    std::string output;    // where the setup was saved; empty when not saved
    std::vector<std::string> faults;

    bool passed = false;
    std::string failedTest; // the title of the test that failed
    std::string failure;    // its message

    double supplyVoltage = 0.0; // the virtual drive's supply [V]
    std::vector<IdentifiedValue> identified;
    std::vector<GainValue> gains;
    std::vector<Trace> traces;
    ResonanceCheck resonance;
    std::vector<StageTime> stages;
    std::vector<ParameterDifference> changes; // the setup before against after
    double wallSeconds = 0.0;

    // Every flag of every value, "NAME: flag".
    std::vector<std::string> Flags() const;
};
