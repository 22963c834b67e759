// velmaro filters: the biquad registers that the register pass gives a setup,
// and what each slot does to a signal at a few frequencies, computed from the
// quantised registers the drive will run.
#pragma once

#include <CLI/CLI.hpp>

#include <iosfwd>

void AddFiltersCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
