// velmaro sweep: every motor file of a folder commissioned on the virtual
// drive, several at once, with a table of how close each identified value came.
#pragma once

#include <CLI/CLI.hpp>

#include <iosfwd>

void AddSweepCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
