#include "Variable.h"

#include "Errors.h"
#include "Setup.h"

#include <cmath>

int CMC_Variable::ReadFromChip()
{
    CMC_ChipLink& link = GetSetup()->GetChipLink();
    double value = 0.0;
    if (!link.ReadVariable(Name(), value)) {
        SetLastErrorText(link.LastError());
        return 0;
    }
    if (!std::isfinite(value)) {
        SetLastErrorText("The drive returned a value of \"" + Name() + "\" that is not a finite number.");
        return 0;
    }
    SetValueInInternalUnit(value);
    return 1;
}

int CMC_Variable::WriteToChip()
{
    CMC_ChipLink& link = GetSetup()->GetChipLink();
    if (link.WriteVariable(Name(), GetValueInInternalUnit()))
        return 1;
    SetLastErrorText(link.LastError());
    return 0;
}
