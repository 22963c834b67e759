// The sweep over the motor library, as `velmaro sweep --motors data/motors`
// runs it, with one job and with more: the wall time of a whole sweep and its
// speed-up over one job, so one sees how the sweep scales with the cores.
#include "Commands.h"
#include "SetupDescription.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace {

// The mean wall time of a sweep, by its jobs [s].
std::map<std::int64_t, double> g_sweepSeconds;

void BM_SweepMotorLibrary(benchmark::State& state)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::int64_t jobs = state.range(0);
    double seconds = 0.0;
    for (auto _ : state) {
        std::ostringstream out, err;
        RunCommandLine({"sweep", "--motors", DataDirectory() + "/motors", "--jobs", std::to_string(jobs),
                        "--json", "--velmaro", VELMARO_EXECUTABLE},
                       out, err);
        const nlohmann::json table = nlohmann::json::parse(out.str(), nullptr, false);
        if (!table.is_object()) {
            state.SkipWithError(err.str().c_str());
            break;
        }
        // A motor the drive cannot test leaves its output behind; the
        // benchmark looks at the time alone.
        std::error_code ignored;
        std::filesystem::remove_all(table["logFolder"].get<std::string>(), ignored);
        seconds += table["wallSeconds"].get<double>();
        state.counters["motors"] = table["motors"].get<double>();
        state.counters["passed"] = table["passed"].get<double>();
    }
    if (state.iterations() == 0)
        return;
    g_sweepSeconds[jobs] = seconds / static_cast<double>(state.iterations());
    if (g_sweepSeconds.contains(1))
        state.counters["speed-up"] = g_sweepSeconds[1] / g_sweepSeconds[jobs];
}

// One job, two, then doubling up to the machine's cores.
void JobCounts(benchmark::internal::Benchmark* benchmark)
{
    const std::int64_t cores = std::max(2u, std::thread::hardware_concurrency());
    for (std::int64_t jobs = 1; jobs <= cores; jobs *= 2)
        benchmark->Arg(jobs);
}
BENCHMARK(BM_SweepMotorLibrary)
    ->ArgName("jobs")
    ->Apply(JobCounts)
    ->UseRealTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(2);

} // namespace

BENCHMARK_MAIN();
