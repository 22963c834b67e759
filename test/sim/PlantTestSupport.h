// The plant as its closed-form checks take it: the reference motor without
// friction, on a supply without internal resistance.
#pragma once

#include "Plant.h"

namespace simtest {

inline MotorModel FrictionlessMotor()
{
    MotorModel motor = MotorModel::Reference();
    motor.viscous = motor.coulomb = 0.0;
    return motor;
}

inline PlantOptions StiffSupply()
{
    PlantOptions options;
    options.supplyResistance = 0.0;
    return options;
}

} // namespace simtest
