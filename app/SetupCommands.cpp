#include "SetupCommands.h"

#include "SetupChecks.h"
#include "SetupDiff.h"

#include "Commands.h"
#include "Errors.h"
#include "ModuleLoader.h"
#include "Setup.h"
#include "SetupFile.h"

#include <fnmatch.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <ostream>
#include <regex>

std::string SetupOption::Path() const
{
    return path.empty() ? ReferenceSetupPath() : path;
}

void AddSetupOption(CLI::App& command, SetupOption& option)
{
    command.add_option("--setup", option.path, "Setup file (default: the reference setup)");
}

bool TakeSetupFile(SetupOption& option, const std::string& file, std::ostream& err)
{
    if (file.empty())
        return true;
    if (!option.path.empty() && !SamePath(option.path, file)) {
        err << "velmaro: two setups given (--setup " << option.path << " and " << file << "); give one\n";
        return false;
    }
    option.path = file;
    return true;
}

bool SamePath(const std::string& a, const std::string& b)
{
    std::error_code error;
    return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

bool RefusesReferenceTarget(const std::string& target, std::ostream& err)
{
    if (!SamePath(target, ReferenceSetupPath()))
        return false;
    err << "velmaro: the reference setup is not changed; save to another file\n";
    return true;
}

const ModuleLoader* HostModule(std::ostream& err)
{
    // Drive-scaled values convert through the module, as in any host: load it
    // once, before the first setup, and keep it for the life of the program.
    static std::unique_ptr<ModuleLoader> module;
    std::string error;
    if (!module && !(module = ModuleLoader::Load("", error)))
        err << "velmaro: " << error << '\n';
    return module.get();
}

std::unique_ptr<CMC_Setup> LoadChosenSetup(const SetupOption& option, std::ostream& err)
{
    if (!HostModule(err))
        return nullptr;
    std::string error;
    auto description = SetupDescription::Load(DataDirectory() + "/setup-description.json", error);
    if (!description) {
        err << "velmaro: " << error << '\n';
        return nullptr;
    }
    SetupLoadResult loaded = LoadSetupFile(option.Path(), description);
    if (!loaded.setup)
        err << "velmaro: " << loaded.error << '\n';
    return std::move(loaded.setup);
}

namespace {

std::string ValueWithUnit(const CMC_Quantity& q)
{
    const std::string unit = q.GetUnitName();
    return unit.empty() ? q.PrintValue() : q.PrintValue() + " " + unit;
}

// One summary line per group; names the setup lacks are left out.
void PrintGroup(std::ostream& out, const CMC_Setup& setup, const char* title,
                std::initializer_list<const char*> names)
{
    QuietLookup quiet;
    out << title << ':';
    for (const char* name : names)
        if (const CMC_Parameter* p = setup.FindParameter(name))
            out << "  " << p->Name() << " = " << ValueWithUnit(*p);
    out << '\n';
}

void PrintSummary(std::ostream& out, const CMC_Setup& setup, const std::string& path)
{
    out << "Setup:        " << path << '\n'
        << "Drive:        " << setup.GetDescription() << "  (product " << setup.GetProductID()
        << ", firmware " << setup.GetFirmwareID() << ", MC version " << setup.GetMCVersion() << ", E2ROM "
        << (setup.GetE2ROMSize() >> 10) << " Kwords)\n"
        << "Contents:     " << setup.GetParameters().size() << " parameters, " << setup.GetVariables().size()
        << " drive variables, " << setup.GetOptions().size() << " options\n";
    PrintGroup(out, setup, "Drive ratings", {"InPS", "ImaxPS", "VdcMaxMeasurable", "Vdc"});
    PrintGroup(out, setup, "Motor", {"In", "ImaxM", "pp", "R", "L", "K", "Jm", "Resolution"});
    PrintGroup(out, setup, "Loops", {"PWM_freq", "Ts_C", "Ts_S", "ControlMode", "PositionControlType"});
    PrintGroup(out, setup, "Current loop", {"Kp_C_scl", "Ki_C_scl"});
    PrintGroup(out, setup, "Speed loop", {"Kp_S_scl", "Ki_S_scl"});
    PrintGroup(out, setup, "Position loop", {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"});
}

// Finds a parameter for a command, with a clear message when it is missing.
CMC_Parameter* FindForCommand(const CMC_Setup& setup, const std::string& name, std::ostream& err)
{
    QuietLookup quiet;
    CMC_Parameter* p = setup.FindParameter(name);
    if (!p)
        err << "velmaro: the setup has no parameter \"" << name << "\"\n";
    return p;
}

// The factor of a display unit of the parameter's type, or 0 when it has none of that name.
double UnitFactor(const CMC_Parameter& p, const std::string& unit, std::ostream& err)
{
    const int index = p.UnitType().FindUnit(unit);
    if (index < 0) {
        err << "velmaro: \"" << unit << "\" is not a unit of \"" << p.Name() << "\" (unit type \""
            << p.GetUnitType() << "\"; units:";
        for (const auto& u : p.UnitType().GetUnits())
            err << " \"" << u.name << '"';
        err << ")\n";
        return 0.0;
    }
    return p.UnitType().GetUnits()[index].toBase;
}

// A decimal number as a user writes it: a sign, digits with a point, an
// exponent; no blanks, no hexadecimal, nothing after it. A number too small
// for a double is still a number (it reads as a subnormal or zero).
bool ParseNumber(const std::string& text, double& value, std::string& problem)
{
    static const std::regex decimal(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    if (!std::regex_match(text, decimal)) {
        problem = "is not a number (write it in decimal, e.g. 2.5 or -1e-3)";
        return false;
    }
    value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value)) {
        problem = "is not a finite number";
        return false;
    }
    return true;
}

// Flags, choices and registers hold whole counts, as do the parameters the
// description marks as whole numbers (pole pairs, resolution).
bool TakesWholeNumbers(const CMC_Parameter& p)
{
    const int type = p.GetType();
    if (type == PT_FLAG || type == PT_CHOICE || type == PT_REGISTER)
        return true;
    const ParameterDefinition* definition = p.GetSetup()->Description().FindParameter(p.Name());
    return definition != nullptr && definition->wholeNumber;
}

// Why a command may not set the parameter; empty when it may.
std::string WhyNotSettable(const CMC_Parameter& p)
{
    if (p.GetType() == PT_COMPUTED)
        return "is computed from other parameters";
    if (p.GetType() == PT_READ_ONLY)
        return "is a constant of the drive";
    return {};
}

bool IsWhole(double value)
{
    return std::isfinite(value) && value == std::round(value);
}

// The VALUE of set, also when it starts with a minus that is not a number's
// (CLI11 takes "-inf" for an option): false, with the message, when it is
// missing or more is left over.
bool TakeValueArgument(const CLI::App& command, std::string& value, std::ostream& err)
{
    std::vector<std::string> extras = command.remaining();
    if (value.empty() && !extras.empty()) {
        value = extras.front();
        extras.erase(extras.begin());
    }
    if (value.empty()) {
        err << "velmaro: set needs a VALUE\n";
        return false;
    }
    if (!extras.empty()) {
        err << "velmaro: unexpected argument \"" << extras.front() << "\"\n";
        return false;
    }
    return true;
}

std::string PrintNumber(double value)
{
    std::ostringstream s;
    s << std::setprecision(15) << value;
    return s.str();
}

// A command over the chosen setup: the --setup option, and a body that runs
// once the setup is read; a setup that does not read exits 1.
CLI::App* AddCommandOnSetup(CLI::App& app, const char* name, const char* description, std::ostream& err,
                            int& exitCode, std::function<void(CMC_Setup&, const SetupOption&)> body)
{
    auto* command = app.add_subcommand(name, description);
    auto option = std::make_shared<SetupOption>();
    AddSetupOption(*command, *option);
    command->callback([&err, &exitCode, option, body = std::move(body)] {
        auto setup = LoadChosenSetup(*option, err);
        if (!setup) {
            exitCode = 1;
            return;
        }
        body(*setup, *option);
    });
    return command;
}

} // namespace

void AddInfoCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    AddCommandOnSetup(
        app, "info", "Print a summary of the setup", err, exitCode,
        [&out](CMC_Setup& setup, const SetupOption& option) { PrintSummary(out, setup, option.Path()); });
}

void AddListCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    auto pattern = std::make_shared<std::string>("*");
    auto* command =
        AddCommandOnSetup(app, "list", "List the parameters whose names match a pattern (* and ?)", err,
                          exitCode, [&out, &err, &exitCode, pattern](CMC_Setup& setup, const SetupOption&) {
                              int shown = 0;
                              for (const auto& p : setup.GetParameters()) {
                                  if (fnmatch(pattern->c_str(), p->GetName(), FNM_CASEFOLD) != 0)
                                      continue;
                                  out << std::left << std::setw(34) << p->Name() << ' ' << std::setw(24)
                                      << ValueWithUnit(*p) << " [" << PrintNumber(p->GetMinInBaseUnit())
                                      << ", " << PrintNumber(p->GetMaxInBaseUnit()) << "] type "
                                      << p->GetType() << '\n';
                                  ++shown;
                              }
                              if (shown == 0) {
                                  err << "velmaro: no parameter matches \"" << *pattern << "\"\n";
                                  exitCode = 1;
                              }
                          });
    command->add_option("PATTERN", *pattern, "Name pattern, letter case ignored");
}

void AddGetCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    struct Args {
        SetupOption setup;
        std::string name, unit;
        bool internal = false;
    };
    auto args = std::make_shared<Args>();
    auto* command = app.add_subcommand("get", "Print a parameter's value");
    command->add_option("NAME", args->name, "Parameter name")->required();
    command->add_option("--unit", args->unit, "Display unit (default: the parameter's own)");
    command->add_flag("--internal", args->internal, "Print the value in the drive's internal units");
    AddSetupOption(*command, args->setup);
    command->callback([&out, &err, &exitCode, args] {
        auto setup = LoadChosenSetup(args->setup, err);
        CMC_Parameter* p = setup ? FindForCommand(*setup, args->name, err) : nullptr;
        if (!p) {
            exitCode = 1;
            return;
        }
        if (args->internal) {
            out << PrintNumber(p->GetValueInInternalUnit()) << '\n';
            return;
        }
        if (args->unit.empty()) {
            out << PrintNumber(p->GetValue()) << (*p->GetUnitName() ? " " : "") << p->GetUnitName() << '\n';
            return;
        }
        const double factor = UnitFactor(*p, args->unit, err);
        if (factor == 0.0) {
            exitCode = 1;
            return;
        }
        out << PrintNumber(p->GetValueInBaseUnit() / factor) << ' ' << args->unit << '\n';
    });
}

void AddSetCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    struct Args {
        SetupOption setup;
        std::string name, value, unit, output;
    };
    auto args = std::make_shared<Args>();
    auto* command = app.add_subcommand("set", "Change a parameter and save the setup");
    command->add_option("NAME", args->name, "Parameter name")->required();
    command->add_option("VALUE", args->value, "New value");
    command->add_option("--unit", args->unit, "Unit of VALUE (default: the parameter's own)");
    command->add_option("-o,--output", args->output, "Save to this file (default: the --setup file)");
    AddSetupOption(*command, args->setup);
    command->allow_extras(); // a VALUE like -inf reads as an option; it is judged as a number below
    command->callback([&out, &err, &exitCode, args, command] {
        exitCode = 1;
        if (!TakeValueArgument(*command, args->value, err))
            return;
        if (args->output.empty() && args->setup.IsReference()) {
            err << "velmaro: the reference setup is not changed; give --setup FILE or -o FILE\n";
            return;
        }
        const std::string target = args->output.empty() ? args->setup.Path() : args->output;
        if (RefusesReferenceTarget(target, err))
            return;
        auto setup = LoadChosenSetup(args->setup, err);
        CMC_Parameter* p = setup ? FindForCommand(*setup, args->name, err) : nullptr;
        if (!p)
            return;
        if (const std::string why = WhyNotSettable(*p); !why.empty()) {
            err << "velmaro: \"" << p->Name() << "\" " << why << " and cannot be set\n";
            return;
        }
        double value = 0.0;
        std::string problem;
        if (!ParseNumber(args->value, value, problem)) {
            err << "velmaro: \"" << args->value << "\" " << problem << '\n';
            return;
        }
        const double factor = args->unit.empty() ? p->DisplayToBase(1.0) : UnitFactor(*p, args->unit, err);
        if (factor == 0.0)
            return;
        const double base = value * factor;
        if (!p->IsInRange(base)) {
            err << "velmaro: " << args->value << ' ' << (args->unit.empty() ? p->GetUnitName() : args->unit)
                << " is outside the range of \"" << p->Name() << "\" (" << PrintNumber(p->GetMinInBaseUnit())
                << " to " << PrintNumber(p->GetMaxInBaseUnit()) << " in base units); nothing was changed\n";
            return;
        }
        if (TakesWholeNumbers(*p) && !IsWhole(p->GetType() == PT_VALUE ? base : p->BaseToInternal(base))) {
            err << "velmaro: \"" << p->Name() << "\" takes whole numbers only; " << args->value
                << " is not one; nothing was changed\n";
            return;
        }
        if (const std::string defect = DefectOfChange(p, base); !defect.empty()) {
            err << "velmaro: " << defect << "; nothing was changed\n";
            return;
        }
        if (!p->SetValueInBaseUnit(base))
            return;
        if (const std::string limit = RegistersAtLimit(setup.get(), {p->GetName()}); !limit.empty())
            err << "velmaro: " << limit << '\n';
        std::string error;
        if (!SaveSetupFile(*setup, target, error)) {
            err << "velmaro: " << error << '\n';
            return;
        }
        out << p->Name() << " = " << ValueWithUnit(*p) << "  (saved to " << target << ")\n";
        exitCode = 0;
    });
}

void AddValidateCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    AddCommandOnSetup(app, "validate", "Check that a setup file reads and its values lie in their ranges",
                      err, exitCode, [&out, &err, &exitCode](CMC_Setup& setup, const SetupOption& option) {
                          for (const std::string& defect : SetupDefects(&setup)) {
                              err << "velmaro: " << option.Path() << ": " << defect << '\n';
                              exitCode = 1;
                          }
                          if (exitCode != 0)
                              return;
                          int outside = 0;
                          for (const auto& p : setup.GetParameters()) {
                              const double value = p->GetValueInBaseUnit();
                              if (!std::isfinite(value) || p->IsInRange(value))
                                  continue;
                              out << "warning: " << p->Name() << " = " << PrintNumber(value)
                                  << " lies outside [" << PrintNumber(p->GetMinInBaseUnit()) << ", "
                                  << PrintNumber(p->GetMaxInBaseUnit()) << "]\n";
                              ++outside;
                          }
                          out << option.Path() << ": valid, " << setup.GetParameters().size()
                              << " parameters, " << setup.GetVariables().size() << " drive variables, "
                              << outside << " values outside their ranges\n";
                      });
}

namespace {

std::string Shown(bool exists, double value, const std::string& unit)
{
    if (!exists)
        return "(none)";
    return PrintNumber(value) + (unit.empty() ? "" : " " + unit);
}

} // namespace

void AddDiffCommand(CLI::App& app, std::ostream& out, std::ostream& err, int& exitCode)
{
    struct Args {
        std::string a, b;
    };
    auto args = std::make_shared<Args>();
    auto* command = app.add_subcommand("diff", "Print the parameters in which two setups differ");
    command->add_option("A", args->a, "First setup file")->required();
    command->add_option("B", args->b, "Second setup file")->required();
    command->callback([&out, &err, &exitCode, args] {
        auto a = LoadChosenSetup(SetupOption{args->a}, err);
        auto b = a ? LoadChosenSetup(SetupOption{args->b}, err) : nullptr;
        if (!b) {
            exitCode = 2;
            return;
        }
        const std::vector<ParameterDifference> differences = SetupDifferences(*a, *b);
        std::size_t width = 9;
        for (const ParameterDifference& d : differences)
            width = std::max(width, d.name.size());
        for (const ParameterDifference& d : differences) {
            const std::string left = Shown(d.inA, d.a, d.unitA);
            out << std::left << std::setw(static_cast<int>(width) + 2) << d.name << std::setw(28) << left
                << Shown(d.inB, d.b, d.unitB) << '\n';
        }
        exitCode = differences.empty() ? 0 : 1;
    });
}
