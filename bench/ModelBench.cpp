// Lookup, conversion and reading costs of the setup model.
#include "ReferenceSetup.h"
#include "Setup.h"
#include "SetupFile.h"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>

namespace {

double TrivialFactor(CMC_Setup*, const char*, const char*)
{
    return 0.5;
}
double TrivialOffset(CMC_Setup*, const char*)
{
    return 0.0;
}

void BM_FindParameter(benchmark::State& state)
{
    auto setup = LoadReferenceSetup();
    const char* names[] = {"Kp_C_scl",  "kpi",      "IMAXPROT", "isMotorI2t",
                           "TestSpeed", "PWM_freq", "SFTKPS",   "Jt"};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(setup->FindParameter(names[i]));
        i = (i + 1) & 7;
    }
}
BENCHMARK(BM_FindParameter);

void BM_DriveScaledBaseRead(benchmark::State& state)
{
    auto setup = LoadReferenceSetup();
    RegisterScaleProvider({&TrivialFactor, &TrivialOffset});
    const CMC_Parameter* p = nullptr;
    for (const auto& candidate : setup->GetParameters())
        if (candidate->IsDriveScaled()) {
            p = candidate.get();
            break;
        }
    if (!p)
        throw std::runtime_error("the reference setup has no drive-scaled parameter");
    for (auto _ : state)
        benchmark::DoNotOptimize(p->GetValueInBaseUnit());
    RegisterScaleProvider({});
}
BENCHMARK(BM_DriveScaledBaseRead);

// A setup file whose options hold many names: reading must stay linear in
// the size of the file (a hostile file of 1 MB reads in well under a second).
void BM_ReadSetupWithManyOptions(benchmark::State& state)
{
    std::string text = R"({"format": "velmaro-setup", "version": 1, "identity": {}, "options": {)";
    for (long i = 0; i < state.range(0); ++i)
        text += (i ? ", \"k" : "\"k") + std::to_string(i) + "\": \"1\"";
    text += R"(}, "parameters": {}, "variables": {}})";
    const auto description = SetupDescription::Default();
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseSetup(text, "options.json", description));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadSetupWithManyOptions)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

} // namespace

BENCHMARK_MAIN();
