// Commands that run the module's engine on a setup: compute and scale. Both
// load the module like a host and convert through its exported scale.
#pragma once

#include <CLI/CLI.hpp>

#include <iosfwd>

void AddComputeCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
void AddScaleCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
