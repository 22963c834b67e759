#include "Quantity.h"

#include "Errors.h"
#include "Setup.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

CMC_Quantity::CMC_Quantity(CMC_Setup* setup, std::string name, const CMC_UnitType* unitType)
    : m_setup(setup), m_name(std::move(name)), m_unitType(unitType)
{
}

bool CMC_Quantity::RefuseNonFinite(double value, const char* what) const
{
    if (std::isfinite(value))
        return false;
    ReportError("Refused to set " + std::string(what) + " of \"" + m_name +
                "\" to a value that is not a finite number.");
    return true;
}

int CMC_Quantity::SetValueInInternalUnit(double value)
{
    if (RefuseNonFinite(value, "the value"))
        return 0;
    m_value = value;
    return 1;
}

namespace {

// Marks a computation as running for as long as it lives; Entered() is false
// when it was running already.
class ReentryGuard {
public:
    explicit ReentryGuard(bool& busy) : m_busy(busy), m_entered(!busy) { m_busy = true; }
    ~ReentryGuard()
    {
        if (m_entered)
            m_busy = false;
    }
    ReentryGuard(const ReentryGuard&) = delete;
    ReentryGuard& operator=(const ReentryGuard&) = delete;
    bool Entered() const { return m_entered; }

private:
    bool& m_busy;
    bool m_entered;
};

} // namespace

double CMC_Quantity::CircularScale() const
{
    ReportError("The scale of \"" + m_name + "\" in \"" + m_unitType->GetName() + "\" reads \"" + m_name +
                "\" itself; the unit type does not fit it.");
    return std::numeric_limits<double>::quiet_NaN();
}

double CMC_Quantity::ScaleFactor() const
{
    const ScaleProvider& provider = GetScaleProvider();
    if (!provider.factor)
        return 1.0;
    const ReentryGuard guard(m_scaling);
    if (!guard.Entered())
        return CircularScale();
    return provider.factor(m_setup, m_unitType->GetBaseUnit().c_str(), m_name.c_str());
}

double CMC_Quantity::ScaleOffset() const
{
    const ScaleProvider& provider = GetScaleProvider();
    if (!provider.offset)
        return 0.0;
    const ReentryGuard guard(m_scaling);
    if (!guard.Entered())
        return CircularScale();
    return provider.offset(m_setup, m_unitType->GetBaseUnit().c_str());
}

double CMC_Quantity::InternalToBase(double internal) const
{
    if (!IsDriveScaled())
        return internal;
    return (internal + ScaleOffset()) * ScaleFactor();
}

double CMC_Quantity::BaseToInternal(double base) const
{
    if (!IsDriveScaled())
        return base;
    return base / ScaleFactor() - ScaleOffset();
}

double CMC_Quantity::GetValueInBaseUnit() const
{
    return InternalToBase(m_value);
}

int CMC_Quantity::SetValueInBaseUnit(double value)
{
    if (RefuseNonFinite(value, "the value"))
        return 0;
    return SetValueInInternalUnit(BaseToInternal(value));
}

double CMC_Quantity::DisplayToBase(double display) const
{
    return display * m_unitType->GetUnits()[m_unit].toBase;
}

double CMC_Quantity::BaseToDisplay(double base) const
{
    return base / m_unitType->GetUnits()[m_unit].toBase;
}

double CMC_Quantity::GetValue() const
{
    return BaseToDisplay(GetValueInBaseUnit());
}

int CMC_Quantity::SetValue(double valueInDisplayUnit)
{
    return SetValueInBaseUnit(DisplayToBase(valueInDisplayUnit));
}

int CMC_Quantity::ChangeUnitType(const char* unitTypeName)
{
    const CMC_UnitType* type = m_setup->GetUnits().Find(unitTypeName ? unitTypeName : "");
    if (!type) {
        ReportError("Unknown unit type \"" + std::string(unitTypeName ? unitTypeName : "") + "\" for \"" +
                    m_name + "\".");
        return 0;
    }
    m_unitType = type;
    m_unit = 0;
    return 1;
}

int CMC_Quantity::ChangeUnit(const char* unitName)
{
    const int index = m_unitType->FindUnit(unitName ? unitName : "");
    if (index < 0) {
        ReportError("The unit \"" + std::string(unitName ? unitName : "") +
                    "\" does not belong to the unit type \"" + m_unitType->GetName() + "\" of \"" + m_name +
                    "\".");
        return 0;
    }
    m_unit = index;
    return 1;
}

const char* CMC_Quantity::GetUnitName() const
{
    return m_unitType->GetUnits()[m_unit].name.c_str();
}

int CMC_Quantity::HasSelectedUnit() const
{
    return m_unitType->GetName().empty() ? 0 : 1;
}

std::string CMC_Quantity::PrintValue() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", GetValue());
    return text;
}
