// A named value held in the drive's internal units, with a unit type and a
// selected display unit. Parameters and drive variables are both quantities.
#pragma once

#include "Units.h"

#include <string>

class CMC_Setup;

class CMC_Quantity {
public:
    CMC_Quantity(CMC_Setup* setup, std::string name, const CMC_UnitType* unitType);
    virtual ~CMC_Quantity() = default;
    CMC_Quantity(const CMC_Quantity&) = delete;
    CMC_Quantity& operator=(const CMC_Quantity&) = delete;

    const char* GetName() const { return m_name.c_str(); }
    const std::string& Name() const { return m_name; }

    double GetValueInInternalUnit() const { return m_value; }
    // Refuses a non-finite value: the old value stays and the error sink hears of it.
    virtual int SetValueInInternalUnit(double value);
    double GetValueInBaseUnit() const;
    int SetValueInBaseUnit(double value);
    // The value in the selected display unit.
    double GetValue() const;
    int SetValue(double valueInDisplayUnit);

    // Base value <-> internal value with this quantity's current scale.
    double InternalToBase(double internal) const;
    double BaseToInternal(double base) const;

    // Switches to the named unit type and selects its first display unit. The
    // internal value stays: the drive holds the same number.
    int ChangeUnitType(const char* unitTypeName);
    // Selects a display unit of the current unit type.
    int ChangeUnit(const char* unitName);
    const char* GetUnitName() const;
    const char* GetUnitType() const { return m_unitType->GetName().c_str(); }
    const CMC_UnitType& UnitType() const { return *m_unitType; }
    // True when the quantity has a unit other than the drive's bare internal units.
    int HasSelectedUnit() const;
    // The value in the display unit as text, with up to 6 significant digits.
    std::string PrintValue() const;

    // Physical quantities hold internal = base even when their unit type is
    // drive-scaled (ratings and transmission lengths).
    bool IsPhysical() const { return m_physical; }
    void SetPhysical(bool physical) { m_physical = physical; }
    bool IsDriveScaled() const { return m_unitType->IsDriveScaled() && !m_physical; }

    CMC_Setup* GetSetup() const { return m_setup; }

    // Display unit <-> base unit with the selected display unit.
    double DisplayToBase(double display) const;
    double BaseToDisplay(double base) const;

protected:
    bool RefuseNonFinite(double value, const char* what) const;

private:
    double ScaleFactor() const;
    double ScaleOffset() const;
    // NaN and a message: the scale of this quantity's unit type reads the
    // quantity itself (a unit type that does not fit it).
    double CircularScale() const;

    CMC_Setup* m_setup;
    std::string m_name;
    const CMC_UnitType* m_unitType;
    int m_unit = 0;       // index into the unit type's display units
    double m_value = 0.0; // [internal units]
    bool m_physical = false;
    mutable bool m_scaling = false; // a scale of this quantity is being computed
};
