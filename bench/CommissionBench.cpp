// The whole automatic commissioning of the reference motor on the virtual
// drive, through the loaded module's editor as `velmaro commission` runs it:
// the wall time of a run, and where it goes, test by test (counters, in
// seconds of wall time per run, summed over each test's stages and runs).
#include "Commands.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace {

// A test's name without its run number: "Pole pairs (run 2)" -> "Pole pairs".
std::string TestOf(const std::string& label)
{
    const auto run = label.find(" (run ");
    return run == std::string::npos ? label : label.substr(0, run);
}

void BM_CommissionReferenceMotor(benchmark::State& state)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string output =
        (std::filesystem::temp_directory_path() / ("velmaro-bench-" + std::to_string(::getpid()) + ".json"))
            .string();
    std::map<std::string, double> byTest;
    double total = 0.0;
    for (auto _ : state) {
        std::ostringstream out, err;
        if (RunCommandLine({"commission", "-o", output, "--json"}, out, err) != 0) {
            state.SkipWithError(err.str().c_str());
            break;
        }
        const nlohmann::json result = nlohmann::json::parse(out.str());
        for (const auto& stage : result["stages"])
            byTest[TestOf(stage["test"].get<std::string>())] += stage["wallSeconds"].get<double>();
        total += result["wallSeconds"].get<double>();
    }
    const double runs = static_cast<double>(state.iterations());
    for (const auto& [test, seconds] : byTest)
        state.counters[test] = seconds / runs;
    state.counters["whole run"] = total / runs;
    std::filesystem::remove(output);
}
BENCHMARK(BM_CommissionReferenceMotor)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
