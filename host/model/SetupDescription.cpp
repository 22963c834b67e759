#include "SetupDescription.h"

#include "JsonFields.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr const char* kFormat = "velmaro-setup-description";
constexpr int kVersion = 1;

bool ReadUnitType(const JsonValue& entry, JsonFields& fields, CMC_UnitTable& table)
{
    if (!fields.Expect(entry, JsonValue::Kind::Object, "a unit type") ||
        !fields.OnlyKnown(entry, {"name", "base", "driveScaled", "units"}))
        return false;
    const JsonValue* name = fields.Require(entry, "name", JsonValue::Kind::String);
    const JsonValue* base = name ? fields.Require(entry, "base", JsonValue::Kind::String) : nullptr;
    const JsonValue* units = base ? fields.Require(entry, "units", JsonValue::Kind::Array) : nullptr;
    bool driveScaled = false;
    if (!units || !fields.Optional(entry, "driveScaled", driveScaled))
        return false;
    std::vector<CMC_Unit> list;
    for (const JsonValue& unit : units->items) {
        if (!unit.IsArray() || unit.items.size() != 2 || !unit.items[0].IsString() ||
            !unit.items[1].IsNumber() || unit.items[1].number == 0.0)
            return fields.Fail(unit.line,
                               "a unit is [\"name\", factor to the base unit], with a factor other than 0");
        list.push_back({unit.items[0].text, unit.items[1].number});
    }
    if (!table.Add(CMC_UnitType(name->text, base->text, driveScaled, std::move(list))))
        return fields.Fail(name->line, "duplicate unit type \"" + name->text + "\"");
    return true;
}

bool ReadParameter(const JsonValue& entry, JsonFields& fields, const CMC_UnitTable& units,
                   ParameterDefinition& def)
{
    if (!fields.Expect(entry, JsonValue::Kind::Object, "a parameter") ||
        !fields.OnlyKnown(
            entry, {"name", "unitType", "type", "default", "min", "max", "physical", "wholeNumber", "doc"}))
        return false;
    const JsonValue* name = fields.Require(entry, "name", JsonValue::Kind::String);
    const JsonValue* type = name ? fields.Require(entry, "type", JsonValue::Kind::Number) : nullptr;
    if (!type)
        return false;
    def.name = name->text;
    def.type = type->number >= 0 && type->number <= 6 ? static_cast<int>(type->number) : -1;
    def.min = -1e300;
    def.max = 1e300;
    if (!fields.Optional(entry, "unitType", def.unitType) ||
        !fields.Optional(entry, "default", def.defaultValue) || !fields.Optional(entry, "min", def.min) ||
        !fields.Optional(entry, "max", def.max) || !fields.Optional(entry, "physical", def.physical) ||
        !fields.Optional(entry, "wholeNumber", def.wholeNumber) || !fields.Optional(entry, "doc", def.doc))
        return false;
    if (def.name.empty())
        return fields.Fail(name->line, "a parameter needs a name");
    if (type->number != def.type || def.type < 0 || def.type > 6)
        return fields.Fail(type->line, "the type of \"" + def.name + "\" must be a whole number from 0 to 6");
    if (!units.Find(def.unitType))
        return fields.Fail(entry.line, "unknown unit type \"" + def.unitType + "\" of \"" + def.name + "\"");
    if (def.min > def.max)
        return fields.Fail(entry.line, "the minimum of \"" + def.name + "\" is above its maximum");
    return true;
}

bool ReadVariable(const JsonValue& entry, JsonFields& fields, const CMC_UnitTable& units,
                  VariableDefinition& def)
{
    if (!fields.Expect(entry, JsonValue::Kind::Object, "a variable") ||
        !fields.OnlyKnown(entry, {"name", "unitType", "doc"}))
        return false;
    const JsonValue* name = fields.Require(entry, "name", JsonValue::Kind::String);
    if (!name || !fields.Optional(entry, "unitType", def.unitType) || !fields.Optional(entry, "doc", def.doc))
        return false;
    def.name = name->text;
    if (def.name.empty())
        return fields.Fail(name->line, "a variable needs a name");
    if (!units.Find(def.unitType))
        return fields.Fail(entry.line, "unknown unit type \"" + def.unitType + "\" of \"" + def.name + "\"");
    return true;
}

} // namespace

std::shared_ptr<const SetupDescription>
SetupDescription::Parse(std::string_view text, const std::string& fileName, std::string& error)
{
    error.clear();
    std::string problem;
    JsonValue root;
    if (!ParseJson(text, root, problem)) {
        error = fileName + ":" + problem;
        return nullptr;
    }
    JsonFields fields(problem);
    auto description = std::shared_ptr<SetupDescription>(new SetupDescription());
    const JsonValue* unitTypes = nullptr;
    const JsonValue* parameters = nullptr;
    const JsonValue* variables = nullptr;
    bool ok = fields.CheckFormat(root, kFormat, kVersion) &&
              fields.OnlyKnown(root, {"format", "version", "unitTypes", "parameters", "variables"}) &&
              (unitTypes = fields.Require(root, "unitTypes", JsonValue::Kind::Array)) &&
              (parameters = fields.Require(root, "parameters", JsonValue::Kind::Array)) &&
              (variables = fields.Require(root, "variables", JsonValue::Kind::Array));
    for (std::size_t i = 0; ok && i < unitTypes->items.size(); ++i)
        ok = ReadUnitType(unitTypes->items[i], fields, description->m_units);
    for (std::size_t i = 0; ok && i < parameters->items.size(); ++i) {
        ParameterDefinition def;
        ok = ReadParameter(parameters->items[i], fields, description->m_units, def);
        if (ok && !description->m_parameterIndex.emplace(def.name, description->m_parameters.size()).second)
            ok = fields.Fail(parameters->items[i].line, "duplicate parameter \"" + def.name + "\"");
        if (ok)
            description->m_parameters.push_back(std::move(def));
    }
    for (std::size_t i = 0; ok && i < variables->items.size(); ++i) {
        VariableDefinition def;
        ok = ReadVariable(variables->items[i], fields, description->m_units, def);
        if (ok && !description->m_variableIndex.emplace(def.name, description->m_variables.size()).second)
            ok = fields.Fail(variables->items[i].line, "duplicate variable \"" + def.name + "\"");
        if (ok)
            description->m_variables.push_back(std::move(def));
    }
    if (!ok) {
        error = fileName + ":" + problem;
        return nullptr;
    }
    return description;
}

std::shared_ptr<const SetupDescription> SetupDescription::Load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened";
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str(), path, error);
}

std::shared_ptr<const SetupDescription> SetupDescription::Default()
{
    static const std::shared_ptr<const SetupDescription> description = [] {
        std::string error;
        auto loaded = Load(DataDirectory() + "/setup-description.json", error);
        if (!loaded)
            throw std::runtime_error("The setup description cannot be read: " + error);
        return loaded;
    }();
    return description;
}

const ParameterDefinition* SetupDescription::FindParameter(std::string_view name) const
{
    auto it = m_parameterIndex.find(name);
    return it == m_parameterIndex.end() ? nullptr : &m_parameters[it->second];
}

const VariableDefinition* SetupDescription::FindVariable(std::string_view name) const
{
    auto it = m_variableIndex.find(name);
    return it == m_variableIndex.end() ? nullptr : &m_variables[it->second];
}

std::string DataDirectory()
{
    if (const char* dir = std::getenv("VELMARO_DATA_DIR"); dir && *dir)
        return dir;
    return VELMARO_DATA_DIR;
}
