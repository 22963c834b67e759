#include "CommissionCommand.h"

#include "Commissioning.h"
#include "DriveClock.h"
#include "DriveConnection.h"
#include "HostApplication.h"
#include "ModuleLoader.h"
#include "Report.h"
#include "Setup.h"
#include "SetupCommands.h"
#include "SetupDescription.h"
#include "SetupFile.h"
#include "VirtualDrive.h"

#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <iomanip>
#include <ostream>

namespace {

struct CommissionArgs {
    SetupOption setup;
    std::string motorFile;
    std::string driveFile;
    std::vector<std::string> faults;
    std::string output = "commissioned-setup.json";
    std::string reportFolder;
    bool json = false;
    bool strict = false;
};

std::string ReferenceMotorFile()
{
    return DataDirectory() + "/motors/reference-servo-200W.json";
}

// A path as a person gave it: relative to the working folder where it lies within it.
std::string ShownPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path relative = std::filesystem::proximate(path, error);
    return error || relative.string().starts_with("..") ? path : relative.string();
}

void PrintSummary(const CommissionResult& result, std::ostream& out)
{
    out << "\nIdentified (last run; datasheet; the virtual drive's motor):\n";
    for (const IdentifiedValue& v : result.identified) {
        out << "  " << std::left << std::setw(10) << v.name << std::right << std::setw(12)
            << ShortNumber(v.Kept()) << ' ' << std::left << std::setw(8) << v.unit << std::right
            << "  datasheet " << std::setw(10) << ShortNumber(v.datasheet) << "  true " << std::setw(10)
            << ShortNumber(v.truth);
        if (!v.flags.empty())
            out << "  FLAGGED";
        out << '\n';
    }
    if (!result.gains.empty()) {
        out << "Gains (designed -> quantised):\n";
        for (const GainValue& g : result.gains)
            out << "  " << std::left << std::setw(9) << g.loop << std::setw(10) << g.name << std::right
                << std::setw(12) << ShortNumber(g.designed) << " -> " << std::setw(12)
                << ShortNumber(g.quantised) << ' ' << g.unit << '\n';
    }
    const std::vector<std::string> flags = result.Flags();
    out << (flags.empty() ? "No value flagged.\n" : "Flagged:\n");
    for (const std::string& flag : flags)
        out << "  " << flag << '\n';
    out << "Total: " << std::fixed << std::setprecision(1) << result.wallSeconds << " s\n"
        << std::defaultfloat;
}

void RunCommission(const CommissionArgs& args, std::ostream& out, std::ostream& err, int& exitCode)
{
    exitCode = 1;
    const std::string motorFile = args.motorFile.empty() ? ReferenceMotorFile() : args.motorFile;
    if (SamePath(args.output, args.setup.Path())) {
        err << "velmaro: the setup " << args.setup.Path() << " is not overwritten; give another -o OUT\n";
        return;
    }
    if (RefusesReferenceTarget(args.output, err))
        return;
    auto setup = LoadChosenSetup(args.setup, err);
    const ModuleLoader* module = HostModule(err);
    MotorModel motor;
    std::string error;
    if (!setup || !module)
        return;
    if (!MotorModel::Load(motorFile, motor, error)) {
        err << "velmaro: " << error << '\n';
        return;
    }
    auto clock = std::make_shared<SteppedClock>();
    const auto drive =
        ConnectVirtualDrive({motorFile, args.driveFile, args.faults, false}, *setup, err, clock);
    if (!drive)
        return;
    UseHeadlessPlatform();
    HostApplication();
    QTemporaryDir work;
    if (!work.isValid()) {
        err << "velmaro: no temporary folder for the tests' plots: " << work.errorString().toStdString()
            << '\n';
        return;
    }
    std::ostream& progress = args.json ? err : out;
    progress << "Commissioning " << ShownPath(args.setup.Path()) << " with the motor " << ShownPath(motorFile)
             << " on the virtual drive\n";
    Commissioning run(
        {ShownPath(args.setup.Path()), ShownPath(motorFile), args.faults, args.strict, work.path()}, motor,
        *drive, *clock, progress);
    const bool passed = run.Run(*setup, [module](CMC_Setup* s) { return module->EditSetup(s); });
    CommissionResult result = run.Result();
    if (passed && !SaveSetupFile(*setup, args.output, error)) {
        result.passed = false;
        result.failedTest = "Saving the setup";
        result.failure = error;
    } else if (passed) {
        result.output = args.output;
    }
    PrintSummary(result, progress);
    if (!args.reportFolder.empty()) {
        if (WriteReport(result, args.reportFolder, error))
            progress << "Report: " << args.reportFolder << "/index.html\n";
        else
            err << "velmaro: " << error << '\n';
    }
    if (args.json)
        out << ResultJson(result) << '\n';
    if (!result.passed) {
        err << "velmaro: commissioning failed in " << result.failedTest << ": " << result.failure
            << "\nNo setup was written.\n";
        return;
    }
    progress << "Saved " << result.output << '\n';
    exitCode = 0;
}

} // namespace

void AddCommissionCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    auto args = std::make_shared<CommissionArgs>();
    auto* command = app.add_subcommand(
        "commission",
        "Commission the motor on the virtual drive through the editor's dialogs, from its datasheet");
    command->add_option("--motor", args->motorFile,
                        "Motor file: its datasheet and the virtual drive's motor "
                        "(default: the reference motor)");
    command->add_option("--drive", args->driveFile,
                        "Drive file: the virtual drive's supply and board (default: the reference drive)");
    command->add_option("--fault", args->faults, "Fault the virtual drive injects (repeatable)");
    command->add_option("-o,--output", args->output, "Save the commissioned setup here")
        ->capture_default_str();
    command->add_option("--report", args->reportFolder,
                        "Write the report (HTML, SVG, CSV, JSON) into this folder");
    command->add_flag("--json", args->json, "Print the result as JSON on stdout (progress goes to stderr)");
    command->add_flag("--strict", args->strict, "A flagged value fails the commissioning");
    AddSetupOption(*command, args->setup);
    command->callback([&out, &err, &exitCode, args] {
        RunCommission(*args, out, err, exitCode);
        DisconnectDrive();
    });
}
