// Commands that run the setup editor: edit (a person at the dialogs) and
// screenshot (every editor dialog rendered to PNG files, headless).
#pragma once

#include <CLI/CLI.hpp>

#include <iosfwd>

void AddEditCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
void AddScreenshotCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
