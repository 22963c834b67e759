// The setup description: every parameter and drive variable the module and
// the drive know, with unit type, type code, default value and range, and the
// unit table. Read from one data file; the single source of these records.
#pragma once

#include "Units.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CaseInsensitive.h"

struct ParameterDefinition {
    std::string name;
    std::string unitType;
    int type = 0;
    double defaultValue = 0.0; // [internal units]
    double min = 0.0;          // [base units]
    double max = 0.0;          // [base units]
    bool physical = false;     // internal = base even for a drive-scaled unit type
    bool wholeNumber = false;  // a count (pole pairs, resolution): no fractions
    std::string doc;
};

struct VariableDefinition {
    std::string name;
    std::string unitType;
    std::string doc;
};

class SetupDescription {
public:
    // Reads a description file. On failure returns null and sets error to a
    // message naming the file, the line and the problem.
    static std::shared_ptr<const SetupDescription> Load(const std::string& path, std::string& error);
    static std::shared_ptr<const SetupDescription> Parse(std::string_view text, const std::string& fileName,
                                                         std::string& error);
    // The description shipped in the data folder, read once. Throws when it cannot be read.
    static std::shared_ptr<const SetupDescription> Default();

    const CMC_UnitTable& Units() const { return m_units; }
    const std::vector<ParameterDefinition>& Parameters() const { return m_parameters; }
    const std::vector<VariableDefinition>& Variables() const { return m_variables; }
    const ParameterDefinition* FindParameter(std::string_view name) const;
    const VariableDefinition* FindVariable(std::string_view name) const;

private:
    CMC_UnitTable m_units;
    std::vector<ParameterDefinition> m_parameters;
    std::vector<VariableDefinition> m_variables;
    CaseInsensitiveMap<std::size_t> m_parameterIndex;
    CaseInsensitiveMap<std::size_t> m_variableIndex;
};

// The folder of shipped data: $VELMARO_DATA_DIR, else the source tree's data/.
std::string DataDirectory();
