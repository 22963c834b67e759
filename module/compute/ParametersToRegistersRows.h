// Helpers shared by the rows of the register pass (not part of the engine's interface).
#pragma once

#include "EngineCore.h"

namespace p2r {

inline double BaseOf(const CMC_Parameter* p)
{
    return p->GetValueInBaseUnit();
}
inline double InternalOf(const CMC_Parameter* p)
{
    return p->GetValueInInternalUnit();
}

// A flag or choice as the drive reads it: its whole part.
inline std::int64_t WholeOf(const CMC_Parameter* p)
{
    return TruncRegister(p->GetValueInBaseUnit());
}
inline bool IsOne(const CMC_Parameter* p)
{
    return WholeOf(p) == 1;
}

// Writes the value and reports whether the setup took it (it refuses non-finite values).
inline int Write(CMC_Parameter* target, double value)
{
    return target->SetValueInBaseUnit(value) ? 1 : 0;
}
inline int WriteInternal(CMC_Parameter* target, double value)
{
    return target->SetValueInInternalUnit(value) ? 1 : 0;
}

// A whole register value as the double the setup stores.
inline double AsRegister(std::int64_t value)
{
    return static_cast<double>(value);
}

// Position mode with the position controller driving a speed loop.
inline bool IsCascadedPosition(const CMC_Parameter* positionControlType, const CMC_Parameter* controlMode)
{
    return WholeOf(positionControlType) == 1 && WholeOf(controlMode) == 0;
}

} // namespace p2r
