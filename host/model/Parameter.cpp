#include "Parameter.h"

#include "Errors.h"
#include "Setup.h"

#include <cmath>

CMC_Parameter::CMC_Parameter(CMC_Setup* setup, std::string name, const CMC_UnitType* unitType, int type)
    : CMC_Quantity(setup, std::move(name), unitType), m_type(type)
{
}

int CMC_Parameter::SetValueInInternalUnit(double value)
{
    return CMC_Quantity::SetValueInInternalUnit(m_type == PT_REGISTER ? std::round(value) : value);
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
