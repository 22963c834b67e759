#include "SetupFile.h"

#include "CanSettings.h"
#include "Errors.h"
#include "JsonFields.h"
#include "Setup.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

bool ReadIdentity(const JsonValue& identity, JsonFields& fields, CMC_Setup& setup)
{
    if (!fields.OnlyKnown(
            identity, {"description", "productId", "firmwareId", "applicationId", "e2romSize", "mcVersion"}))
        return false;
    std::string description, productId, firmwareId, applicationId;
    double e2romSize = 0, mcVersion = 0;
    if (!fields.Optional(identity, "description", description) ||
        !fields.Optional(identity, "productId", productId) ||
        !fields.Optional(identity, "firmwareId", firmwareId) ||
        !fields.Optional(identity, "applicationId", applicationId) ||
        !fields.Optional(identity, "e2romSize", e2romSize) ||
        !fields.Optional(identity, "mcVersion", mcVersion))
        return false;
    if (e2romSize < 0 || e2romSize > 4294967295.0 ||
        e2romSize != static_cast<double>(static_cast<long long>(e2romSize)))
        return fields.Fail(identity.Find("e2romSize")->line, "\"e2romSize\" must be a whole number of words");
    if (!(std::abs(mcVersion) <= 2147483647.0) || mcVersion != std::trunc(mcVersion))
        return fields.Fail(identity.Find("mcVersion")->line, "\"mcVersion\" must be a whole number");
    if (applicationId.size() > CMC_Setup::kMaxUserAppIdLength)
        return fields.Fail(identity.Find("applicationId")->line,
                           "\"applicationId\" is longer than 40 characters");
    if (!firmwareId.empty() && !CMC_Setup::IsValidFirmwareID(firmwareId))
        return fields.Fail(identity.Find("firmwareId")->line, "\"firmwareId\" is not a valid firmware ID");
    setup.SetDescription(description);
    setup.SetProductID(productId);
    if (!firmwareId.empty())
        setup.SetFirmwareID(firmwareId);
    setup.SetUserAppID(applicationId);
    setup.SetE2ROMSize(static_cast<unsigned>(e2romSize));
    setup.SetMCVersion(static_cast<int>(mcVersion));
    return true;
}

bool ReadOptions(const JsonValue& options, JsonFields& fields, CMC_Setup& setup)
{
    CaseInsensitiveMap<bool> seen;
    std::vector<std::pair<std::string, std::string>> read;
    for (const auto& [name, value] : options.members) {
        if (!fields.Expect(value, JsonValue::Kind::String, "the option \"" + name + "\""))
            return false;
        if (!seen.emplace(name, true).second)
            return fields.Fail(value.line, "duplicate option \"" + name + "\"");
        if (const CanOption* can = FindCanOption(name); can && !ParseCanOption(*can, value.text))
            return fields.Fail(value.line, "the option \"" + name + "\": " + CanOptionRule(*can));
        read.emplace_back(name, value.text);
    }
    setup.ReplaceOptions(std::move(read));
    return true;
}

// A value the drive holds as is keeps its described unit type: the scales of
// the drive's units read such values, so one of those units would make a
// scale read itself. A drive-scaled value may take another drive unit (rot
// or mm for a load).
bool UnitTypeFits(const CMC_UnitType& described, const CMC_UnitType& chosen)
{
    if (!described.IsDriveScaled())
        return &chosen == &described;
    return chosen.IsDriveScaled();
}

// Selects unit type and display unit as the file says; both must exist.
bool ReadUnits(const JsonValue& entry, JsonFields& fields, CMC_Quantity& quantity)
{
    std::string unitType = quantity.GetUnitType();
    std::string unit;
    if (!fields.Optional(entry, "unitType", unitType) || !fields.Optional(entry, "unit", unit))
        return false;
    const CMC_UnitType* type = quantity.GetSetup()->GetUnits().Find(unitType);
    if (!type)
        return fields.Fail(entry.line,
                           "unknown unit type \"" + unitType + "\" of \"" + quantity.Name() + "\"");
    if (!UnitTypeFits(quantity.UnitType(), *type))
        return fields.Fail(entry.Find("unitType")->line,
                           "the unit type \"" + unitType + "\" does not fit \"" + quantity.Name() +
                               "\" (its unit type is \"" + quantity.GetUnitType() + "\")");
    quantity.ChangeUnitType(unitType.c_str());
    if (entry.Find("unit") && quantity.UnitType().FindUnit(unit) < 0)
        return fields.Fail(entry.Find("unit")->line,
                           "the unit \"" + unit + "\" is not one of the unit type \"" + unitType + "\"");
    if (entry.Find("unit"))
        quantity.ChangeUnit(unit.c_str());
    return true;
}

// A register's value must lie within its width, as the drive holds it.
bool FitsRegister(const CMC_Parameter& p, double value, int line, JsonFields& fields)
{
    const double whole = std::round(value);
    if (p.GetType() != PT_REGISTER || (whole >= p.GetRegisterLowest() && whole <= p.GetRegisterHighest()))
        return true;
    return fields.Fail(line, "\"" + p.Name() + "\" = " + JsonNumber(value) + " does not fit its register (" +
                                 JsonNumber(p.GetRegisterLowest()) + " to " +
                                 JsonNumber(p.GetRegisterHighest()) + ")");
}

bool ReadParameter(const std::string& name, const JsonValue& entry, JsonFields& fields, CMC_Setup& setup)
{
    if (!setup.Description().FindParameter(name))
        return fields.Fail(entry.line, "unknown parameter \"" + name + "\"");
    QuietLookup quiet;
    if (setup.FindParameter(name) != nullptr)
        return fields.Fail(entry.line, "duplicate parameter \"" + name + "\" (names ignore letter case)");
    CMC_Parameter* p = setup.AddParameter(name);
    if (entry.IsNumber())
        return FitsRegister(*p, entry.number, entry.line, fields) &&
               p->SetValueInInternalUnit(entry.number) != 0;
    if (!fields.Expect(entry, JsonValue::Kind::Object, "the parameter \"" + name + "\"") ||
        !fields.OnlyKnown(entry, {"value", "min", "max", "unitType", "unit"}))
        return false;
    double value = p->GetValueInInternalUnit(), min = p->GetMinInBaseUnit(), max = p->GetMaxInBaseUnit();
    if (!fields.Optional(entry, "value", value) || !fields.Optional(entry, "min", min) ||
        !fields.Optional(entry, "max", max) || !ReadUnits(entry, fields, *p) ||
        !FitsRegister(*p, value, entry.Find("value") ? entry.Find("value")->line : entry.line, fields))
        return false;
    p->SetValueInInternalUnit(value);
    p->SetMinInBaseUnit(min);
    p->SetMaxInBaseUnit(max);
    return true;
}

bool ReadVariable(const std::string& name, const JsonValue& entry, JsonFields& fields, CMC_Setup& setup)
{
    if (!setup.Description().FindVariable(name))
        return fields.Fail(entry.line, "unknown variable \"" + name + "\"");
    if (setup.FindVariable(name, 0) != nullptr)
        return fields.Fail(entry.line, "duplicate variable \"" + name + "\" (names ignore letter case)");
    if (!fields.Expect(entry, JsonValue::Kind::Object, "the variable \"" + name + "\"") ||
        !fields.OnlyKnown(entry, {"unitType", "unit"}))
        return false;
    return ReadUnits(entry, fields, *setup.AddVariable(name));
}

bool ReadSetup(const JsonValue& root, JsonFields& fields, CMC_Setup& setup)
{
    if (!fields.CheckFormat(root, kSetupFormatName, kSetupFormatVersion) ||
        !fields.OnlyKnown(root, {"format", "version", "identity", "options", "parameters", "variables"}))
        return false;
    const JsonValue* identity = fields.Require(root, "identity", JsonValue::Kind::Object);
    const JsonValue* options = identity ? fields.Require(root, "options", JsonValue::Kind::Object) : nullptr;
    const JsonValue* parameters =
        options ? fields.Require(root, "parameters", JsonValue::Kind::Object) : nullptr;
    const JsonValue* variables =
        parameters ? fields.Require(root, "variables", JsonValue::Kind::Object) : nullptr;
    if (!variables || !ReadIdentity(*identity, fields, setup) || !ReadOptions(*options, fields, setup))
        return false;
    for (const auto& [name, entry] : parameters->members)
        if (!ReadParameter(name, entry, fields, setup))
            return false;
    for (const auto& [name, entry] : variables->members)
        if (!ReadVariable(name, entry, fields, setup))
            return false;
    return true;
}

} // namespace

SetupLoadResult ParseSetup(std::string_view text, const std::string& fileName,
                           std::shared_ptr<const SetupDescription> description)
{
    SetupLoadResult result;
    std::string problem;
    JsonValue root;
    if (!ParseJson(text, root, problem)) {
        result.error = fileName + ":" + problem;
        return result;
    }
    auto setup = std::make_unique<CMC_Setup>(std::move(description));
    JsonFields fields(problem);
    if (!ReadSetup(root, fields, *setup)) {
        result.error = fileName + ":" + problem;
        return result;
    }
    result.setup = std::move(setup);
    return result;
}

SetupLoadResult LoadSetupFile(const std::string& path, std::shared_ptr<const SetupDescription> description)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        SetupLoadResult result;
        result.error = path + ": cannot be opened: " + std::strerror(errno);
        return result;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseSetup(text.str(), path, std::move(description));
}

namespace {

void WriteUnits(std::ostringstream& out, const CMC_Quantity& q)
{
    out << "\"unitType\": " << JsonQuote(q.GetUnitType()) << ", \"unit\": " << JsonQuote(q.GetUnitName());
}

} // namespace

std::string SerializeSetup(const CMC_Setup& setup)
{
    std::ostringstream out;
    out << "{\n  \"format\": " << JsonQuote(kSetupFormatName) << ",\n  \"version\": " << kSetupFormatVersion
        << ",\n";
    out << "  \"identity\": {\n"
        << "    \"description\": " << JsonQuote(setup.GetDescription()) << ",\n"
        << "    \"productId\": " << JsonQuote(setup.GetProductID()) << ",\n"
        << "    \"firmwareId\": " << JsonQuote(setup.GetFirmwareID()) << ",\n"
        << "    \"applicationId\": " << JsonQuote(setup.GetUserAppID()) << ",\n"
        << "    \"e2romSize\": " << setup.GetE2ROMSize() << ",\n"
        << "    \"mcVersion\": " << setup.GetMCVersion() << "\n  },\n";
    out << "  \"options\": {";
    const auto& options = setup.GetOptions();
    for (std::size_t i = 0; i < options.size(); ++i)
        out << (i ? ",\n    " : "\n    ") << JsonQuote(options[i].first) << ": "
            << JsonQuote(options[i].second);
    out << (options.empty() ? "},\n" : "\n  },\n");
    out << "  \"parameters\": {";
    const auto& parameters = setup.GetParameters();
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const CMC_Parameter& p = *parameters[i];
        out << (i ? ",\n    " : "\n    ") << JsonQuote(p.Name())
            << ": {\"value\": " << JsonNumber(p.GetValueInInternalUnit())
            << ", \"min\": " << JsonNumber(p.GetMinInBaseUnit())
            << ", \"max\": " << JsonNumber(p.GetMaxInBaseUnit()) << ", ";
        WriteUnits(out, p);
        out << "}";
    }
    out << (parameters.empty() ? "},\n" : "\n  },\n");
    out << "  \"variables\": {";
    const auto& variables = setup.GetVariables();
    for (std::size_t i = 0; i < variables.size(); ++i) {
        out << (i ? ",\n    " : "\n    ") << JsonQuote(variables[i]->Name()) << ": {";
        WriteUnits(out, *variables[i]);
        out << "}";
    }
    out << (variables.empty() ? "}\n" : "\n  }\n");
    out << "}\n";
    return out.str();
}

bool SaveSetupFile(const CMC_Setup& setup, const std::string& path, std::string& error)
{
    return WriteFileAtomically(path, SerializeSetup(setup), error);
}
