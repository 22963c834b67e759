#include "ComputeCommands.h"

#include "Commands.h"
#include "ControllerDesign.h"
#include "Errors.h"
#include "JsonReader.h"
#include "Limits.h"
#include "ModuleLoader.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "Setup.h"
#include "SetupChecks.h"
#include "SetupCommands.h"
#include "SetupFile.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>

namespace {

using Pass = std::function<void(CMC_Setup*)>;

// The passes a user may run one by one, by name.
const std::map<std::string, Pass>& Passes()
{
    static const std::map<std::string, Pass> passes = {
        {"parameters", [](CMC_Setup* s) { ComputeParametersFromRegisters(s); }},
        {"registers", [](CMC_Setup* s) { ComputeRegistersFromParameters(s); }},
        {"limits", [](CMC_Setup* s) { ComputeParameterLimits(s); }},
        {"closed-loop", [](CMC_Setup* s) { UpdateClosedLoopOptions(s); }},
        {"transmission", [](CMC_Setup* s) { UpdateTransmissionUnits(s); }},
        {"feedforward", [](CMC_Setup* s) { EnforceSpeedFeedForward(s); }},
    };
    return passes;
}

struct Design {
    int (*run)(CMC_Setup*);
    std::vector<const char*> gains; // read back through their registers afterwards
};

const std::map<std::string, Design>& Designs()
{
    static const std::map<std::string, Design> designs = {
        {"current", {&DesignCurrentController, {"Kp_C_scl", "Ki_C_scl"}}},
        {"speed", {&DesignSpeedController, {"Kp_S_scl", "Ki_S_scl"}}},
        {"position", {&DesignPositionController, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}}},
    };
    return designs;
}

template <typename Map> std::vector<std::string> KeysOf(const Map& map)
{
    std::vector<std::string> keys;
    for (const auto& entry : map)
        keys.push_back(entry.first);
    return keys;
}

struct ComputeArgs {
    SetupOption setup;
    std::string file; // the positional FILE, as --setup
    std::string output;
    bool json = false;
    std::vector<std::string> passes, changed, designs;
};

// One step of the command line, in the order the user gave them.
struct Step {
    enum Kind { kPass, kChanged, kDesign } kind;
    std::string name;
};

std::vector<Step> StepsInOrder(const CLI::App& command, const ComputeArgs& args, const CLI::Option* pass,
                               const CLI::Option* changed, const CLI::Option* design)
{
    std::vector<Step> steps;
    std::size_t next[3] = {0, 0, 0};
    for (const CLI::Option* option : command.parse_order()) {
        if (option == pass && next[0] < args.passes.size())
            steps.push_back({Step::kPass, args.passes[next[0]++]});
        else if (option == changed && next[1] < args.changed.size())
            steps.push_back({Step::kChanged, args.changed[next[1]++]});
        else if (option == design && next[2] < args.designs.size())
            steps.push_back({Step::kDesign, args.designs[next[2]++]});
    }
    return steps;
}

bool RunStep(CMC_Setup* setup, const Step& step, std::ostream& err)
{
    switch (step.kind) {
    case Step::kPass:
        Passes().at(step.name)(setup);
        return true;
    case Step::kChanged: {
        QuietLookup quiet;
        if (!setup->FindParameter(step.name)) {
            err << "velmaro: the setup has no parameter \"" << step.name << "\"\n";
            return false;
        }
        ParameterChangeDispatch(setup, step.name.c_str());
        return true;
    }
    case Step::kDesign: {
        const Design& design = Designs().at(step.name);
        if (!design.run(setup)) {
            err << "velmaro: the " << step.name << " controller design needs a parameter the setup lacks\n";
            return false;
        }
        // The gains go through their registers and back, so they read as the drive holds them.
        for (const char* gain : design.gains)
            ParameterChangeDispatch(setup, gain);
        return true;
    }
    }
    return false;
}

std::string MachineReadable(const CMC_Setup& setup)
{
    nlohmann::ordered_json doc;
    nlohmann::ordered_json parameters = nlohmann::ordered_json::array();
    for (const auto& p : setup.GetParameters())
        parameters.push_back({{"name", p->Name()},
                              {"internal", p->GetValueInInternalUnit()},
                              {"base", p->GetValueInBaseUnit()},
                              {"unitType", p->GetUnitType()},
                              {"unit", p->GetUnitName()},
                              {"baseUnit", p->UnitType().GetBaseUnit()},
                              {"min", p->GetMinInBaseUnit()},
                              {"max", p->GetMaxInBaseUnit()}});
    nlohmann::ordered_json variables = nlohmann::ordered_json::array();
    for (const auto& v : setup.GetVariables())
        variables.push_back({{"name", v->Name()}, {"unitType", v->GetUnitType()}});
    nlohmann::ordered_json options = nlohmann::ordered_json::object();
    for (const auto& [name, text] : setup.GetOptions())
        options[name] = text;
    doc["parameters"] = std::move(parameters);
    doc["variables"] = std::move(variables);
    doc["options"] = std::move(options);
    return doc.dump(2) + "\n";
}

// A setup file already there: the JSON listing is not a setup and must not replace one.
bool HoldsASetup(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    JsonValue root;
    std::string error;
    if (!in || !ParseJson(text.str(), root, error) || !root.IsObject())
        return false;
    const JsonValue* format = root.Find("format");
    return format != nullptr && format->IsString() && format->text == kSetupFormatName;
}

int RunCompute(ComputeArgs args, const std::vector<Step>& steps, std::ostream& out, std::ostream& err)
{
    if (!TakeSetupFile(args.setup, args.file, err))
        return 1;
    if (!args.output.empty() && RefusesReferenceTarget(args.output, err))
        return 1;
    if (args.json && !args.output.empty() && HoldsASetup(args.output)) {
        err << "velmaro: " << args.output
            << " is a setup; --json writes a listing, not a setup: write it to another file\n";
        return 1;
    }
    std::string error;
    auto module = ModuleLoader::Load("", error);
    if (!module) {
        err << "velmaro: " << error << '\n';
        return 1;
    }
    auto setup = LoadChosenSetup(args.setup, err);
    if (!setup)
        return 1;
    if (steps.empty())
        module->ComputeAllOptions(setup.get());
    for (const Step& step : steps)
        if (!RunStep(setup.get(), step, err))
            return 1;
    if (const std::string limit = RegistersAtLimit(setup.get()); !limit.empty())
        err << "velmaro: warning: " << limit << '\n';

    const std::string text = args.json ? MachineReadable(*setup) : SerializeSetup(*setup);
    if (args.output.empty()) {
        out << text;
        return 0;
    }
    const bool saved =
        args.json ? WriteFileAtomically(args.output, text, error) : SaveSetupFile(*setup, args.output, error);
    if (!saved) {
        err << "velmaro: " << error << '\n';
        return 1;
    }
    return 0;
}

// False, with the message, when the setup's description has no unit of that
// name or the setup no variable or parameter of that name.
bool KnowsUnitAndName(const CMC_Setup& setup, const std::string& unit, const std::string& name,
                      std::ostream& err)
{
    bool known = false;
    for (const CMC_UnitType& type : setup.GetUnits().Types())
        known = known || type.FindUnit(unit) >= 0;
    if (!known) {
        err << "velmaro: \"" << unit << "\" is not a unit of the setup description\n";
        return false;
    }
    QuietLookup quiet;
    if (!name.empty() && setup.FindVariable(name.c_str(), 0) == nullptr &&
        setup.FindParameter(name) == nullptr) {
        err << "velmaro: the setup has no variable or parameter \"" << name << "\"\n";
        return false;
    }
    return true;
}

std::string Shortest(double value)
{
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

} // namespace

void AddComputeCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    auto args = std::make_shared<ComputeArgs>();
    auto* command = app.add_subcommand(
        "compute", "Recompute the derived values of a setup with the module (ComputeAllOptions by default)");
    AddSetupOption(*command, args->setup);
    command->add_option("FILE", args->file, "Setup file, as --setup");
    command->add_option("-o,--output", args->output, "Write the result to this file (default: print it)");
    command->add_flag(
        "--json", args->json,
        "Print every parameter, drive variable unit type and option as JSON instead of the setup");
    auto* pass =
        command->add_option("--pass", args->passes, "Run this pass instead (repeatable, run in order)")
            ->check(CLI::IsMember(KeysOf(Passes())))
            ->allow_extra_args(false);
    auto* changed =
        command->add_option("--changed", args->changed, "Run the editor's change handling for this parameter")
            ->allow_extra_args(false);
    auto* design =
        command->add_option("--design", args->designs, "Design a controller and quantise its gains")
            ->check(CLI::IsMember(KeysOf(Designs())))
            ->allow_extra_args(false);
    command->callback([&out, &err, &exitCode, args, command, pass, changed, design] {
        exitCode = RunCompute(*args, StepsInOrder(*command, *args, pass, changed, design), out, err);
    });
}

void AddScaleCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    struct Args {
        SetupOption setup;
        std::string unit, name;
    };
    auto args = std::make_shared<Args>();
    auto* command = app.add_subcommand(
        "scale", "Print the module's factor and offset of a unit: value = (internal + offset) x factor");
    command->add_option("UNIT", args->unit, "Unit name, e.g. A, rad/s, \"V \" (bus volts), °C")->required();
    command->add_option("NAME", args->name, "Name of the variable or parameter converted");
    AddSetupOption(*command, args->setup);
    command->callback([&out, &err, &exitCode, args] {
        exitCode = 1;
        std::string error;
        auto module = ModuleLoader::Load("", error);
        if (!module) {
            err << "velmaro: " << error << '\n';
            return;
        }
        auto setup = LoadChosenSetup(args->setup, err);
        if (!setup || !KnowsUnitAndName(*setup, args->unit, args->name, err))
            return;
        out << "factor "
            << Shortest(module->GetScaleFactor(setup.get(), args->unit.c_str(), args->name.c_str()))
            << "\noffset " << Shortest(module->GetScaleOffset(setup.get(), args->unit.c_str())) << '\n';
        exitCode = 0;
    });
}
