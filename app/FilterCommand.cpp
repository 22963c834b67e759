#include "FilterCommand.h"

#include "Biquad.h"
#include "EngineCore.h"
#include "ModuleLoader.h"
#include "ParametersToRegisters.h"
#include "Setup.h"
#include "SetupCommands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <numbers>
#include <ostream>
#include <sstream>

namespace {

constexpr const char* kCountNames[] = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};

struct ResponsePoint {
    double frequency;   // [Hz]
    double magnitudeDb; // -inf where the filter blocks the frequency completely
    double phaseDeg;
};

struct SlotReport {
    int slot = 0;
    bool used = false;
    int filter = 0;
    int location = 0;
    int type = 0;
    double f1 = 0.0; // [Hz]
    double f2 = 0.0; // [Hz], lead-lags only
    double q = 0.0;
    BiquadCoefficients registers;
    double sf = 0.0;
    std::vector<ResponsePoint> response;
};

struct FilterReport {
    std::string path;
    double period = 0.0; // [s] the speed loop's, at which the filters run
    double counts[3] = {0.0, 0.0, 0.0};
    std::vector<SlotReport> slots;
};

bool IsLeadLag(int type)
{
    return type == BQ_LEAD_LAG_1 || type == BQ_LEAD_LAG_2;
}

double QuietValue(const CMC_Setup& setup, const std::string& name)
{
    const CMC_Parameter* p = FindQuietly(&setup, name.c_str());
    return p ? p->GetValueInBaseUnit() : 0.0;
}

// A few round frequencies, the filter's own, and the highest the loop can carry.
std::vector<double> FrequenciesOf(const SlotReport& slot, double period)
{
    const double nyquist = 0.5 / period;
    std::vector<double> candidates = {10.0, 100.0, 1000.0, slot.f1, nyquist};
    if (IsLeadLag(slot.type))
        candidates.push_back(slot.f2);
    std::vector<double> frequencies;
    for (double f : candidates)
        if (f > 0.0 && f <= nyquist)
            frequencies.push_back(f);
    std::sort(frequencies.begin(), frequencies.end());
    frequencies.erase(std::unique(frequencies.begin(), frequencies.end()), frequencies.end());
    return frequencies;
}

FilterReport BuildReport(CMC_Setup& setup, const std::string& path)
{
    FilterReport report;
    report.path = path;
    report.period = QuietValue(setup, "Ts_S");
    for (int i = 0; i < 3; ++i)
        report.counts[i] = QuietValue(setup, kCountNames[i]);
    const std::vector<BiquadSlot> used = AssignBiquadSlots(&setup);
    for (int k = 1; k <= kBiquadSlots; ++k) {
        SlotReport slot;
        slot.slot = k;
        slot.registers = SlotRegisters(&setup, k, slot.sf);
        const auto it =
            std::find_if(used.begin(), used.end(), [k](const BiquadSlot& s) { return s.slot == k; });
        if (it != used.end()) {
            const std::string n = std::to_string(it->filter);
            slot.used = true;
            slot.filter = it->filter;
            slot.location = it->location;
            slot.type = static_cast<int>(TruncRegister(QuietValue(setup, "BQFilterType" + n)));
            slot.f1 = QuietValue(setup, "BQFilterF1" + n);
            slot.f2 = QuietValue(setup, "BQFilterF2" + n);
            slot.q = QuietValue(setup, "BQFilterQ" + n);
            const BiquadCoefficients c = CoefficientsFromRegisters(slot.registers, slot.sf);
            for (double f : FrequenciesOf(slot, report.period)) {
                const std::complex<double> h = BiquadResponse(c, f * report.period);
                slot.response.push_back(
                    {f, 20.0 * std::log10(std::abs(h)), std::arg(h) * 180.0 / std::numbers::pi});
            }
        }
        report.slots.push_back(slot);
    }
    return report;
}

std::string Number(double value, int precision = 6)
{
    std::ostringstream text;
    text << std::setprecision(precision) << value;
    return text.str();
}

std::string Fixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

void PrintText(std::ostream& out, const FilterReport& report)
{
    const CBiquadDesign types;
    out << "Setup:        " << report.path << '\n'
        << "Sampling:     speed loop, Ts_S = " << Number(report.period) << " s ("
        << Number(1.0 / report.period) << " Hz)\n"
        << "Slot counts:  ";
    for (int i = 0; i < 3; ++i)
        out << (i ? ", " : "") << kCountNames[i] << " = " << Number(report.counts[i]);
    out << '\n';
    for (const SlotReport& slot : report.slots) {
        out << "\nSlot " << slot.slot << ": ";
        if (slot.used) {
            out << "filter " << slot.filter << ", " << types.TypeName(slot.type) << " on the "
                << BiquadLocationName(slot.location) << ", F1 = " << Number(slot.f1) << " Hz";
            if (IsLeadLag(slot.type))
                out << ", F2 = " << Number(slot.f2) << " Hz";
            else if (slot.type != BQ_LOW_PASS_1)
                out << ", Q = " << Number(slot.q);
            out << '\n';
        } else {
            out << "unused\n";
        }
        const BiquadCoefficients& r = slot.registers;
        out << "  B0 = " << Number(r.b0, 12) << "  B1 = " << Number(r.b1, 12) << "  B2 = " << Number(r.b2, 12)
            << "  A1 = " << Number(r.a1, 12) << "  A2 = " << Number(r.a2, 12)
            << "  SF = " << Number(slot.sf, 12) << '\n';
        if (slot.response.empty())
            continue;
        out << "  " << std::setw(14) << "frequency [Hz]" << std::setw(16) << "magnitude [dB]" << std::setw(14)
            << "phase [deg]" << '\n';
        for (const ResponsePoint& p : slot.response)
            out << "  " << std::setw(14) << Number(p.frequency) << std::setw(16) << Fixed(p.magnitudeDb, 3)
                << std::setw(14) << Fixed(p.phaseDeg, 2) << '\n';
    }
}

// JSON has no infinity: a frequency the filter blocks completely reads null.
nlohmann::json Finite(double value)
{
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json();
}

void PrintJson(std::ostream& out, const FilterReport& report)
{
    const CBiquadDesign types;
    nlohmann::json root;
    root["setup"] = report.path;
    root["speedLoopPeriod"] = report.period;
    for (int i = 0; i < 3; ++i)
        root["counts"][kCountNames[i]] = report.counts[i];
    root["slots"] = nlohmann::json::array();
    for (const SlotReport& slot : report.slots) {
        nlohmann::json s;
        s["slot"] = slot.slot;
        s["used"] = slot.used;
        if (slot.used) {
            s["filter"] = slot.filter;
            s["location"] = slot.location;
            s["locationName"] = BiquadLocationName(slot.location);
            s["type"] = slot.type;
            s["typeName"] = types.TypeName(slot.type);
            s["F1"] = slot.f1;
            if (IsLeadLag(slot.type))
                s["F2"] = slot.f2;
            else
                s["Q"] = slot.q;
        }
        const BiquadCoefficients& r = slot.registers;
        s["registers"] = {{"B0", r.b0}, {"B1", r.b1}, {"B2", r.b2},
                          {"A1", r.a1}, {"A2", r.a2}, {"SF", slot.sf}};
        s["response"] = nlohmann::json::array();
        for (const ResponsePoint& p : slot.response)
            s["response"].push_back({{"frequency", p.frequency},
                                     {"magnitudeDb", Finite(p.magnitudeDb)},
                                     {"phaseDeg", Finite(p.phaseDeg)}});
        root["slots"].push_back(s);
    }
    out << root.dump(2) << '\n';
}

int RunFilters(const SetupOption& option, bool json, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto module = ModuleLoader::Load("", error);
    if (!module) {
        err << "velmaro: " << error << '\n';
        return 1;
    }
    auto setup = LoadChosenSetup(option, err);
    if (!setup)
        return 1;
    if (!HasBiquadFilters(setup.get())) {
        err << "velmaro: the setup " << option.Path() << " has no biquad filters\n";
        return 1;
    }
    ComputeRegistersFromParameters(setup.get());
    const FilterReport report = BuildReport(*setup, option.Path());
    if (json)
        PrintJson(out, report);
    else
        PrintText(out, report);
    return 0;
}

} // namespace

void AddFiltersCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    struct Args {
        SetupOption setup;
        bool json = false;
    };
    auto args = std::make_shared<Args>();
    auto* command = app.add_subcommand(
        "filters", "Show the biquad filter registers after the register pass, and each slot's response");
    AddSetupOption(*command, args->setup);
    command->add_flag("--json", args->json, "Print the registers and responses as JSON");
    command->callback(
        [&out, &err, &exitCode, args] { exitCode = RunFilters(args->setup, args->json, out, err); });
}
