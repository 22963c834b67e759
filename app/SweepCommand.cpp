#include "SweepCommand.h"

#include "ChildProcess.h"
#include "SetupCommands.h"
#include "SweepTable.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct SweepArgs {
    std::string motorsFolder;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool json = false;
    std::string driveFile;
    std::string reportFolder;
    SetupOption setup;
    std::string executable; // empty: this program
};

// The motor files of a folder in name order; empty, with the reason, when there are none.
std::vector<fs::path> MotorFiles(const std::string& folder, std::string& error)
{
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        error = folder + (fs::exists(folder, code) ? ": not a folder" : ": no such folder");
        return {};
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, code); !code && it != fs::directory_iterator(); it.increment(code))
        if (it->path().extension() == ".json" && !it->is_directory(code))
            files.push_back(it->path());
    if (code) {
        error = folder + ": cannot be read: " + code.message();
        return {};
    }
    if (files.empty())
        error = folder + ": no motor files (*.json) in it";
    std::ranges::sort(files);
    return files;
}

// A new private folder for the motors' output; empty, with the reason, when it cannot be made.
std::string MakeWorkFolder(std::string& error)
{
    std::error_code code;
    std::string folder = (fs::temp_directory_path(code) / "velmaro-sweep-XXXXXX").string();
    if (code || !::mkdtemp(folder.data())) {
        error = "no temporary folder for the motors' output: " +
                (code ? code.message() : std::string(std::strerror(errno)));
        return {};
    }
    return folder;
}

std::string ExecutableOf(const SweepArgs& args)
{
    std::error_code code;
    return args.executable.empty() ? fs::read_symlink("/proc/self/exe", code).string() : args.executable;
}

std::string ReadText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The command line that commissions one motor as `velmaro commission` does,
// its setup saved in the motor's own folder.
std::vector<std::string> CommissionCommandLine(const SweepArgs& args, const std::string& executable,
                                               const fs::path& motor, const fs::path& folder)
{
    const std::string name = motor.stem().string();
    std::vector<std::string> command = {executable,
                                        "commission",
                                        "--motor",
                                        motor.string(),
                                        "--json",
                                        "-o",
                                        (folder / "setup.json").string()};
    if (!args.setup.IsReference())
        command.insert(command.end(), {"--setup", args.setup.path});
    if (!args.driveFile.empty())
        command.insert(command.end(), {"--drive", args.driveFile});
    if (!args.reportFolder.empty())
        command.insert(command.end(), {"--report", (fs::path(args.reportFolder) / name).string()});
    return command;
}

// Commissions one motor in its own process (its dialogs need a GUI thread of
// their own), its result and its progress kept in a folder of the motor's
// own in the work folder.
SweepRow CommissionMotor(const SweepArgs& args, const std::string& executable, const fs::path& motor,
                         const fs::path& work)
{
    const fs::path folder = work / motor.stem();
    const fs::path result = folder / "result.json";
    const fs::path log = folder / "commission.log";
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child;
    ChildExit exit;
    std::string error;
    std::error_code code;
    if (!fs::create_directory(folder, code))
        error = folder.string() + ": cannot be made: " + (code ? code.message() : "it exists");
    else if (child.Start(executable, CommissionCommandLine(args, executable, motor, folder), result.string(),
                         log.string(), error))
        exit = child.Wait();
    SweepRow row = SweepRowOf(motor.string(), ReadText(result), exit, error.empty() ? ReadText(log) : error);
    row.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return row;
}

// "[3/12] servo-48V-400W passed in 1.2 s"
std::string ProgressLine(const SweepRow& row, std::size_t finished, std::size_t count)
{
    std::ostringstream line;
    line << '[' << finished << '/' << count << "] " << row.motor << ' ';
    const std::string verdict = row.Verdict();
    const auto colon = verdict.find(": ");
    line << verdict.substr(0, colon) << " in " << std::fixed;
    line.precision(1);
    line << row.wallSeconds << " s" << (colon == std::string::npos ? "" : verdict.substr(colon));
    return line.str();
}

// Every motor commissioned, at most `jobs` at once; each line of progress as
// a motor finishes.
std::vector<SweepRow> CommissionAll(const SweepArgs& args, const std::string& executable,
                                    const std::vector<fs::path>& motors, const fs::path& work,
                                    std::ostream& progress)
{
    std::vector<SweepRow> rows(motors.size());
    std::atomic<std::size_t> next = 0;
    std::size_t finished = 0;
    std::mutex progressMutex;
    const auto worker = [&] {
        for (std::size_t i = next++; i < motors.size(); i = next++) {
            try {
                rows[i] = CommissionMotor(args, executable, motors[i], work);
            } catch (const std::exception& e) {
                rows[i] = SweepRowOf(motors[i].string(), "", ChildExit{}, e.what());
            }
            const std::lock_guard lock(progressMutex);
            progress << ProgressLine(rows[i], ++finished, motors.size()) << std::endl;
        }
    };
    {
        std::vector<std::jthread> workers;
        for (unsigned j = 0; j < std::min<std::size_t>(args.jobs, motors.size()); ++j)
            workers.emplace_back(worker);
    }
    return rows;
}

void RunSweep(const SweepArgs& args, std::ostream& out, std::ostream& err, int& exitCode)
{
    exitCode = 1;
    std::string error;
    const std::vector<fs::path> motors = MotorFiles(args.motorsFolder, error);
    const std::string executable = ExecutableOf(args);
    if (motors.empty()) {
        err << "velmaro: " << error << '\n';
        return;
    }
    if (::access(executable.c_str(), X_OK) != 0) {
        err << "velmaro: " << executable << ": cannot be run: " << std::strerror(errno) << '\n';
        return;
    }
    const std::string work = MakeWorkFolder(error);
    if (work.empty()) {
        err << "velmaro: " << error << '\n';
        return;
    }
    SweepSummary summary{
        args.motorsFolder, static_cast<unsigned>(std::min<std::size_t>(args.jobs, motors.size())), 0.0, {}};
    std::ostream& progress = args.json ? err : out;
    progress << "Commissioning " << motors.size() << " motors of " << args.motorsFolder
             << " on the virtual drive, " << summary.jobs << " at once\n";
    const auto start = std::chrono::steady_clock::now();
    const std::vector<SweepRow> rows = CommissionAll(args, executable, motors, work, progress);
    summary.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool allPassed = std::ranges::all_of(rows, &SweepRow::Passed);
    std::error_code code;
    if (allPassed)
        fs::remove_all(work, code);
    else
        summary.logFolder = work;
    out << (args.json ? SweepTableJson(rows, summary) : "\n" + SweepTableText(rows, summary));
    exitCode = allPassed ? 0 : 1;
}

} // namespace

void AddSweepCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    auto args = std::make_shared<SweepArgs>();
    auto* command = app.add_subcommand(
        "sweep", "Commission every motor file of a folder on the virtual drive, several at once, and print "
                 "how close each identified value came to the motor's");
    command->add_option("--motors", args->motorsFolder, "Folder of motor files (*.json)")->required();
    command->add_option("-j,--jobs", args->jobs, "Motors commissioned at once (default: the machine's cores)")
        ->check(CLI::Range(1u, 256u));
    command->add_option("--drive", args->driveFile,
                        "Drive file: the virtual drive's supply and board (default: the reference drive)");
    command->add_option("--report", args->reportFolder, "Write each motor's report into DIR/MOTOR");
    command->add_flag("--json", args->json, "Print the table as JSON on stdout (progress goes to stderr)");
    command->add_option("--velmaro", args->executable,
                        "The velmaro program each motor is commissioned by (default: this one)");
    AddSetupOption(*command, args->setup);
    command->callback([&out, &err, &exitCode, args] { RunSweep(*args, out, err, exitCode); });
}
