// velmaro commission: the motor commissioned on the virtual drive through the
// editor's own dialogs, from its datasheet to tuned loops, with a report.
#pragma once

#include <CLI/CLI.hpp>

#include <iosfwd>

void AddCommissionCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
