// Commands that read or change one setup file.
#pragma once

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <memory>
#include <string>

class CMC_Setup;
class ModuleLoader;

struct SetupOption {
    std::string path; // empty: the reference setup
    std::string Path() const;
    bool IsReference() const { return path.empty(); }
};

// Adds --setup FILE to a command.
void AddSetupOption(CLI::App& command, SetupOption& option);
// Takes a command's positional FILE as its setup; false, with the message,
// when --setup names another file as well.
bool TakeSetupFile(SetupOption& option, const std::string& file, std::ostream& err);
// The same file, links and "." followed, whether it exists or not.
bool SamePath(const std::string& a, const std::string& b);
// True, with the message, when a save to target would replace the shipped reference setup.
bool RefusesReferenceTarget(const std::string& target, std::ostream& err);
// The module, loaded once like a host loads it; null (with the reason written
// to err) when it cannot be loaded.
const ModuleLoader* HostModule(std::ostream& err);
// Loads the module when needed, then the chosen setup; on failure writes the reason to err and returns null.
std::unique_ptr<CMC_Setup> LoadChosenSetup(const SetupOption& option, std::ostream& err);

// Each adds its subcommand to app; the callback stores the exit code.
void AddInfoCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
void AddListCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
void AddGetCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
void AddSetCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
void AddValidateCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
// Exit code 0 when the setups hold the same values, 1 when they differ, 2 when one cannot be read.
void AddDiffCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode);
