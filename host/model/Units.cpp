#include "Units.h"

#include "CaseInsensitive.h"

#include <utility>

CMC_UnitType::CMC_UnitType(std::string name, std::string baseUnit, bool driveScaled,
                           std::vector<CMC_Unit> units)
    : m_name(std::move(name)), m_baseUnit(std::move(baseUnit)), m_driveScaled(driveScaled),
      m_units(std::move(units))
{
    if (m_units.empty())
        m_units.push_back({m_baseUnit, 1.0});
}

int CMC_UnitType::FindUnit(std::string_view unitName) const
{
    for (std::size_t i = 0; i < m_units.size(); ++i)
        if (m_units[i].name == unitName)
            return static_cast<int>(i);
    return -1;
}

CMC_UnitTable::CMC_UnitTable()
{
    m_types.emplace_back("", "", false, std::vector<CMC_Unit>{{"", 1.0}});
}

bool CMC_UnitTable::Add(CMC_UnitType type)
{
    if (type.GetName().empty()) {
        m_types.front() = std::move(type);
        return true;
    }
    if (Find(type.GetName()))
        return false;
    m_types.push_back(std::move(type));
    return true;
}

const CMC_UnitType* CMC_UnitTable::Find(std::string_view name) const
{
    // Exact first: "V" and "V " are different types.
    for (const auto& type : m_types)
        if (type.GetName() == name)
            return &type;
    for (const auto& type : m_types)
        if (EqualsIgnoringCase(type.GetName(), name))
            return &type;
    return nullptr;
}

std::vector<const CMC_UnitType*> CMC_UnitTable::DriveTypesOfBaseUnit(std::string_view baseUnit) const
{
    std::vector<const CMC_UnitType*> found;
    for (const auto& type : m_types)
        if (type.IsDriveScaled() && type.GetBaseUnit() == baseUnit)
            found.push_back(&type);
    return found;
}

const CMC_UnitType* CMC_UnitTable::None() const
{
    return &m_types.front();
}

namespace {
ScaleProvider g_scaleProvider;
}

void RegisterScaleProvider(ScaleProvider provider)
{
    g_scaleProvider = provider;
}

const ScaleProvider& GetScaleProvider()
{
    return g_scaleProvider;
}
