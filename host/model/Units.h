// Unit types and display units of the setup model.
//
// A unit type groups the display units of one quantity. Its base unit is the
// SI unit that values are converted through. A drive-scaled unit type takes the
// factor between the drive's internal units and its base unit from the scale
// provider that the loaded module registers; a physical unit type holds
// internal = base. Display units are fixed multiples of the base unit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CMC_Setup;

struct CMC_Unit {
    std::string name;
    double toBase = 1.0; // value in base unit = value in this unit x toBase
};

class CMC_UnitType {
public:
    CMC_UnitType(std::string name, std::string baseUnit, bool driveScaled, std::vector<CMC_Unit> units);

    const std::string& GetName() const { return m_name; }
    // Unit name handed to the scale provider, e.g. "rad/s" for the type "rpm".
    const std::string& GetBaseUnit() const { return m_baseUnit; }
    bool IsDriveScaled() const { return m_driveScaled; }
    const std::vector<CMC_Unit>& GetUnits() const { return m_units; }
    // Index of the display unit of exactly this name, or -1: letter case
    // matters ("mA" is not "MA").
    int FindUnit(std::string_view unitName) const;

private:
    std::string m_name;
    std::string m_baseUnit;
    bool m_driveScaled;
    std::vector<CMC_Unit> m_units; // the first one is the default display unit
};

// All unit types a setup description knows, looked up by name ignoring case.
class CMC_UnitTable {
public:
    // Adds a type; returns false when a type of that name exists already.
    bool Add(CMC_UnitType type);
    const CMC_UnitType* Find(std::string_view name) const;
    // The drive-scaled types whose base unit is the given one, in table order.
    std::vector<const CMC_UnitType*> DriveTypesOfBaseUnit(std::string_view baseUnit) const;
    const std::vector<CMC_UnitType>& Types() const { return m_types; }
    // The dimensionless type (name ""), always present.
    const CMC_UnitType* None() const;

    CMC_UnitTable();

private:
    std::vector<CMC_UnitType> m_types;
};

// The drive's scale for a unit, as the module exports it: value in the unit =
// (internal value + offset) x factor. Registered once when the module is loaded.
using ScaleFactorFn = double (*)(CMC_Setup* setup, const char* unitName, const char* name);
using ScaleOffsetFn = double (*)(CMC_Setup* setup, const char* unitName);

struct ScaleProvider {
    ScaleFactorFn factor = nullptr;
    ScaleOffsetFn offset = nullptr;
};

// Without a provider drive-scaled values convert with factor 1 and offset 0.
void RegisterScaleProvider(ScaleProvider provider);
const ScaleProvider& GetScaleProvider();
