// The engine on the reference setup, called through the plug-in's exports as
// the host calls them on every edit and redisplay.
//
// The register and parameter pass is timed against its floor: the same
// lookups by name, in the same kind of case-insensitive index the setup keeps,
// plus as many floating-point operations as the pass executes, and nothing
// else. The ratio pass / floor is held to at most 2. Each unit scale is held
// to 300 ns.
#include "CaseInsensitive.h"
#include "Exports.h"
#include "ParametersToRegisters.h"
#include "ReferenceSetup.h"
#include "RegistersToParameters.h"
#include "Setup.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Scalar floating-point instructions that one pass executes on the reference
// setup (libm included), counted with scripts/count-pass-arithmetic.sh.
constexpr long kPassArithmetic = 4538;
constexpr double kPassLimit = 2.0;
constexpr double kScaleLimitNs = 300.0;

std::unique_ptr<CMC_Setup> Reference()
{
    RegisterScaleProvider({&GetScaleFactor, &GetScaleOffset});
    return LoadReferenceSetup();
}

void RunPass(CMC_Setup* setup)
{
    ComputeRegistersFromParameters(setup);
    ComputeParametersFromRegisters(setup);
}

void BM_ComputeAllOptions(benchmark::State& state)
{
    auto setup = Reference();
    for (auto _ : state)
        ComputeAllOptions(setup.get());
}
BENCHMARK(BM_ComputeAllOptions);

struct Lookup {
    CMC_Setup::LookupKind kind;
    std::string name;
};

// Every lookup by name of one pass, in order, after a first pass has settled
// the setup.
std::vector<Lookup> LookupsOfAPass(CMC_Setup* setup)
{
    RunPass(setup);
    std::vector<Lookup> heard;
    setup->SetLookupObserver([&heard](CMC_Setup::LookupKind kind, std::string_view name) {
        heard.push_back({kind, std::string(name)});
    });
    RunPass(setup);
    setup->SetLookupObserver({});
    return heard;
}

// The least a pass can cost: its lookups, each reading the value found, and
// its arithmetic.
class PassFloor {
public:
    PassFloor(const CMC_Setup& setup, std::vector<Lookup> lookups) : m_lookups(std::move(lookups))
    {
        for (const auto& p : setup.GetParameters())
            m_parameters.emplace(p->Name(), p.get());
        for (const auto& v : setup.GetVariables())
            m_variables.emplace(v->Name(), v.get());
    }

    std::size_t Lookups() const { return m_lookups.size(); }

    double Run() const
    {
        double sum = 0.0;
        for (const Lookup& lookup : m_lookups)
            sum += ValueOf(lookup); // one addition each
        return Arithmetic(sum, kPassArithmetic - static_cast<long>(m_lookups.size()));
    }

private:
    double ValueOf(const Lookup& lookup) const
    {
        const std::string_view name = lookup.name;
        if (lookup.kind == CMC_Setup::LookupKind::Variable) {
            auto it = m_variables.find(name);
            return it == m_variables.end() ? 0.0 : it->second->GetValueInInternalUnit();
        }
        auto it = m_parameters.find(name);
        return it == m_parameters.end() ? 0.0 : it->second->GetValueInInternalUnit();
    }

    // `operations` multiplications and additions, on two independent chains
    // as a pass's short formulas are.
    static double Arithmetic(double seed, long operations)
    {
        double a = seed, b = seed + 1.0;
        for (long i = 0; i + 4 <= operations; i += 4) {
            a = a * 0.5 + 1.0;
            b = b * 0.25 + 2.0;
        }
        return a + b;
    }

    CaseInsensitiveMap<const CMC_Parameter*> m_parameters;
    CaseInsensitiveMap<const CMC_Variable*> m_variables;
    std::vector<Lookup> m_lookups;
};

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Reported time: the pass alone. The floor runs after it in each iteration,
// so that both see the same load on the machine.
void BM_RegisterAndParameterPasses(benchmark::State& state)
{
    auto setup = Reference();
    const PassFloor floor(*setup, LookupsOfAPass(setup.get()));
    double passSeconds = 0.0, floorSeconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        RunPass(setup.get());
        const auto passed = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(floor.Run());
        const auto floored = std::chrono::steady_clock::now();
        state.SetIterationTime(Seconds(passed - start));
        passSeconds += Seconds(passed - start);
        floorSeconds += Seconds(floored - passed);
    }
    state.SetLabel("pass against " + std::to_string(floor.Lookups()) + " lookups + " +
                   std::to_string(kPassArithmetic) + " flops");
    state.counters["floor_us"] = benchmark::Counter(floorSeconds * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = floorSeconds > 0.0 ? passSeconds / floorSeconds : 0.0;
    state.counters["ratio_max"] = kPassLimit;
}
BENCHMARK(BM_RegisterAndParameterPasses)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One case per row of the unit table and per spelling of its units, with the
// slowest name of each row (the last of its list).
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
    {"rad/s^2", "CACC"},
    {"m/s^2", "CACC"},
    {"rad/s^3", "JERK"},
    {"m/s^3", "JERK"},
    {"\xB0"
     "C",
     "TDRV"},
    {"\xC2\xB0"
     "C",
     "TDRV"},
    {"V/s", "x"},
    {"A/s", "x"},
    {"furlong", "x"},
};

std::string ScaleRowLabel(const char* unit, const char* name)
{
    std::string label = unit;
    if (label == "\xB0"
                 "C")
        label = "\xC2\xB0"
                "C (1 byte)";
    return "\"" + label + "\" " + name;
}

void BM_GetScaleFactor(benchmark::State& state)
{
    auto setup = Reference();
    const auto& [unit, name] = kScaleRows[static_cast<std::size_t>(state.range(0))];
    for (auto _ : state)
        benchmark::DoNotOptimize(GetScaleFactor(setup.get(), unit, name));
    state.SetLabel(ScaleRowLabel(unit, name));
    state.counters["limit_ns"] = kScaleLimitNs;
}
BENCHMARK(BM_GetScaleFactor)->DenseRange(0, static_cast<int>(kScaleRows.size()) - 1);

} // namespace

BENCHMARK_MAIN();
