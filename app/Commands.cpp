#include "Commands.h"

#include "CommissionCommand.h"
#include "ComputeCommands.h"
#include "EditorCommands.h"
#include "Errors.h"
#include "FilterCommand.h"
#include "SetupCommands.h"
#include "SetupDescription.h"
#include "SweepCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

std::string ReferenceSetupPath()
{
    return DataDirectory() + "/reference-setup.json";
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CLI::App app{
        "Velmaro: setup and commissioning of servo drives for brushless motors with linear Hall sensors",
        "velmaro"};
    app.require_subcommand(1);
    int exitCode = 0;
    AddInfoCommand(app, out, err, exitCode);
    AddListCommand(app, out, err, exitCode);
    AddGetCommand(app, out, err, exitCode);
    AddSetCommand(app, out, err, exitCode);
    AddValidateCommand(app, out, err, exitCode);
    AddDiffCommand(app, out, err, exitCode);
    AddComputeCommand(app, out, err, exitCode);
    AddScaleCommand(app, out, err, exitCode);
    AddFiltersCommand(app, out, err, exitCode);
    AddEditCommand(app, out, err, exitCode);
    AddScreenshotCommand(app, out, err, exitCode);
    AddCommissionCommand(app, out, err, exitCode);
    AddSweepCommand(app, out, err, exitCode);

    ErrorSink previous = SetErrorSink([&err](const std::string& message) { err << message << '\n'; });
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        exitCode = app.exit(e, out, err);
    } catch (const std::exception& e) {
        err << "velmaro: " << e.what() << '\n';
        exitCode = 1;
    }
    SetErrorSink(std::move(previous));
    return exitCode;
}
