// The velmaro command line: one function builds the commands, one runs them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the command line and returns the process exit code. Output goes to out,
// errors to err.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string ReferenceSetupPath();
