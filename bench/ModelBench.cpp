// Lookup and conversion costs of the setup model on the reference setup.
#include "Setup.h"
#include "SetupFile.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

std::unique_ptr<CMC_Setup> LoadReference()
{
    SetupLoadResult loaded =
        LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
    if (!loaded.setup)
        throw std::runtime_error(loaded.error);
    return std::move(loaded.setup);
}

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
    auto setup = LoadReference();
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
    auto setup = LoadReference();
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

} // namespace

BENCHMARK_MAIN();
