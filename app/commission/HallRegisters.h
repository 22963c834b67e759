// The Hall registers that commission a motor's sensors exactly: each signal
// scaled to the same amplitude about its own offset.
#pragma once

#include "MotorModel.h"

#include <array>
#include <cmath>

struct HallRegisters {
    std::array<double, 3> gain{};   // 16384 is a gain of one
    std::array<double, 3> offset{}; // converter counts
};

// adcMax: the converter's full count at 5 V.
inline HallRegisters IdealHallRegisters(const MotorModel& motor, double adcMax)
{
    HallRegisters r;
    for (std::size_t k = 0; k < 3; ++k) {
        r.gain[k] = std::round(16384.0 * 1.25 / motor.halls[k].amplitude);
        r.offset[k] = std::round(motor.halls[k].offset / 5.0 * adcMax);
    }
    return r;
}
