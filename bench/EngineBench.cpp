// The engine on the reference setup, called through the plug-in's exports as
// the host calls them on every edit and redisplay.
#include "Exports.h"
#include "ParametersToRegisters.h"
#include "ReferenceSetup.h"
#include "RegistersToParameters.h"
#include "Setup.h"
#include "SetupFile.h"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

std::unique_ptr<CMC_Setup> Reference()
{
    RegisterScaleProvider({&GetScaleFactor, &GetScaleOffset});
    return LoadReferenceSetup();
}

void BM_ComputeAllOptions(benchmark::State& state)
{
    auto setup = Reference();
    for (auto _ : state)
        ComputeAllOptions(setup.get());
}
BENCHMARK(BM_ComputeAllOptions);

void BM_RegisterAndParameterPasses(benchmark::State& state)
{
    auto setup = Reference();
    for (auto _ : state) {
        ComputeRegistersFromParameters(setup.get());
        ComputeParametersFromRegisters(setup.get());
    }
}
BENCHMARK(BM_RegisterAndParameterPasses);

// One case per row of the unit table, the slowest name of each row.
const std::vector<std::pair<const char*, const char*>> kScaleRows = {
    {"V ", "AD5"},
    {"V", "AnalogueInputsRange"},
    {"V", "AD5"},
    {"V", "UQREF"},
    {"A", "IQ"},
    {"s", "Ts_C"},
    {"s", "TPP"},
    {"rad", "APOS_MT"},
    {"rad", "THTST"},
    {"rad", "POS_min"},
    {"rad", "APOS"},
    {"m", "POS_min"},
    {"m", "APOS"},
    {"rad/s", "Motor_Speed_Reference"},
    {"rad/s", "TINCTST"},
    {"rad/s", "SPD_min"},
    {"rad/s", "ASPD_LD"},
    {"m/s", "SPD_min"},
    {"m/s", "ASPD_LD"},
    {"m/s^2", "CACC"},
    {"rad/s^3", "JERK"},
    {"\xC2\xB0"
     "C",
     "TDRV"},
    {"V/s", "x"},
    {"A/s", "x"},
    {"furlong", "x"},
};

void BM_GetScaleFactor(benchmark::State& state)
{
    auto setup = Reference();
    const auto& [unit, name] = kScaleRows[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(unit) + " " + name);
    for (auto _ : state)
        benchmark::DoNotOptimize(GetScaleFactor(setup.get(), unit, name));
}
BENCHMARK(BM_GetScaleFactor)->DenseRange(0, static_cast<int>(kScaleRows.size()) - 1);

} // namespace

BENCHMARK_MAIN();
