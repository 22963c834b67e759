// The accuracy table of a sweep: for each motor commissioned, how far each
// identified value came from the virtual drive's true motor, against its target.
#pragma once

#include "ChildProcess.h"

#include <limits>
#include <string>
#include <vector>

// A column of the table: the worst of the identified values it names.
struct SweepColumn {
    std::string key;                // in the JSON table, e.g. "HallGain"
    std::string title;              // in the printed table, e.g. "Hall gain"
    std::vector<std::string> names; // the setup parameters, e.g. HALLAGAIN, HALLBGAIN, HALLCGAIN
};
const std::vector<SweepColumn>& SweepColumns();

// The worst error of a column's values over every run.
struct ColumnError {
    double percent = std::numeric_limits<double>::quiet_NaN(); // signed [%]; NaN: none identified
    bool withinTarget = true;
};

struct SweepRow {
    std::string motor; // the file's stem
    std::string file;
    bool commissioned = false; // the commissioning ran to its end and passed
    std::string failedTest;    // empty when not known (the run did not get to a test)
    std::string failure;
    std::vector<ColumnError> errors; // one per column of SweepColumns()
    double wallSeconds = 0.0;

    bool WithinTargets() const;
    bool Passed() const { return commissioned && WithinTargets(); }
    // "passed", "off target: L, Jt", "FAILED in Pole pairs: ..." or "FAILED: ...", on one line
    std::string Verdict() const;
};

// A motor's row from what its commissioning printed: the JSON result on its
// stdout (empty or damaged when it did not get that far), how it ended and
// its stderr.
SweepRow SweepRowOf(const std::string& file, const std::string& resultJson, const ChildExit& exit,
                    const std::string& log);

struct SweepSummary {
    std::string motorsFolder;
    unsigned jobs = 1;
    double wallSeconds = 0.0;
    std::string logFolder; // where each motor's output was kept; empty when it was not
};

// The table with a row of targets and a summary line below it.
std::string SweepTableText(const std::vector<SweepRow>& rows, const SweepSummary& summary);
std::string SweepTableJson(const std::vector<SweepRow>& rows, const SweepSummary& summary);
