#include "Parameter.h"

#include "Errors.h"
#include "Setup.h"

#include <algorithm>
#include <cmath>

CMC_Parameter::CMC_Parameter(CMC_Setup* setup, std::string name, const CMC_UnitType* unitType, int type)
    : CMC_Quantity(setup, std::move(name), unitType), m_type(type)
{
}

int CMC_Parameter::SetValueInInternalUnit(double value)
{
    if (m_type != PT_REGISTER)
        return CMC_Quantity::SetValueInInternalUnit(value);
    const double whole = std::round(value);
    const double held = std::clamp(whole, m_lowest, m_highest);
    const int stored = CMC_Quantity::SetValueInInternalUnit(held);
    if (stored)
        m_clamped = held != whole;
    return stored;
}

void CMC_Parameter::SetRegisterWidth(double lowest, double highest)
{
    if (lowest > highest)
        return;
    m_lowest = lowest;
    m_highest = highest;
}

int CMC_Parameter::SetMinInBaseUnit(double min)
{
    if (RefuseNonFinite(min, "the minimum"))
        return 0;
    m_min = min;
    return 1;
}

int CMC_Parameter::SetMaxInBaseUnit(double max)
{
    if (RefuseNonFinite(max, "the maximum"))
        return 0;
    m_max = max;
    return 1;
}

int CMC_Parameter::WriteToChip()
{
    CMC_ChipLink& link = GetSetup()->GetChipLink();
    if (link.WriteParameter(Name(), GetValueInInternalUnit()))
        return 1;
    SetLastErrorText(link.LastError());
    return 0;
}
