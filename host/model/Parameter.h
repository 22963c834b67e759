// A parameter of the setup: a value with an editable range and a type code.
#pragma once

#include "Quantity.h"

#include <limits>

// Type codes of the setup description. Rescaling of loop-dependent values
// skips the computed and read-only ones.
enum CMC_ParameterType {
    PT_VALUE = 0,      // engineering value the user edits
    PT_FLAG = 1,       // yes/no switch, 0 or 1
    PT_CHOICE = 2,     // one of a few numbered choices
    PT_REGISTER = 3,   // drive register, no unit
    PT_DRIVE_DATA = 4, // rating of the drive, edited in service mode
    PT_COMPUTED = 5,   // derived by the engine, never edited
    PT_READ_ONLY = 6,  // constant of the drive or the firmware
};

class CMC_Parameter : public CMC_Quantity {
public:
    CMC_Parameter(CMC_Setup* setup, std::string name, const CMC_UnitType* unitType, int type);

    int GetType() const { return m_type; }

    // A register holds a whole number within its width, as the drive does:
    // its value is rounded when stored (half away from zero) and clamped to
    // the width.
    int SetValueInInternalUnit(double value) override;
    // The width of a register (its described range); others have none.
    void SetRegisterWidth(double lowest, double highest);
    double GetRegisterLowest() const { return m_lowest; }
    double GetRegisterHighest() const { return m_highest; }
    // True when the last value stored lay beyond the width and was clamped to it.
    bool WasClamped() const { return m_clamped; }

    // The editable range [base units]. A non-finite bound is refused.
    double GetMinInBaseUnit() const { return m_min; }
    double GetMaxInBaseUnit() const { return m_max; }
    int SetMinInBaseUnit(double min);
    int SetMaxInBaseUnit(double max);
    bool IsInRange(double baseValue) const { return baseValue >= m_min && baseValue <= m_max; }

    // Sends the value to the connected drive; non-zero on success.
    int WriteToChip();

private:
    int m_type;
    double m_min = -1e300;
    double m_max = 1e300;
    double m_lowest = -std::numeric_limits<double>::infinity();
    double m_highest = std::numeric_limits<double>::infinity();
    bool m_clamped = false;
};
