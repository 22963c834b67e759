// The current loop as the drive runs it, sample by sample, for comparing a
// logged current step with what the setup's gains predict; and the shape of
// a step (rise time and peak).
#pragma once

#include "EngineCore.h"
#include "Setup.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace simtest {

// The current every current-loop period after a step of `step` (internal
// units): the PI with the setup's gains on the winding of the setup's R and L
// (a delta's phase: a third of each), its output acting at once or, as the
// drive does, one period later. The inverter's dead time takes deadVolts off
// the voltage along the current's direction (judged at mid-period). The
// winding's inductance is `inductance` when given: the step runs along the
// rotor's flux, where a salient motor has Ld, less than the mean the setup
// holds and the gains are designed for.
inline std::vector<double> ModelStep(CMC_Setup& setup, double step, int samples, bool delayed,
                                     double deadVolts = 0.0, double inductance = 0.0)
{
    const double phases =
        setup.GetParameterValueInInternalUnit("MotorPhaseConnectionType") == 1.0 ? 3.0 : 1.0;
    const double r = setup.GetParameterValueInBaseUnit("R") / phases;
    const double l = (inductance > 0.0 ? inductance : setup.GetParameterValueInBaseUnit("L")) / phases;
    const double ts = CurrentLoopPeriod(&setup);
    const double decay = std::exp(-r * ts / l);
    const double halfDecay = std::exp(-0.5 * r * ts / l);
    const double toCurrent = CurrentScale(&setup) / VoltageCommandScale(&setup) / r; // per command unit
    const double gain = (1.0 - decay) * toCurrent;
    const double halfGain = (1.0 - halfDecay) * toCurrent;
    const double deadCommand = deadVolts * VoltageCommandScale(&setup);
    const double kp = setup.GetParameterValueInBaseUnit("Kp_C_scl");
    const double ki = setup.GetParameterValueInBaseUnit("Ki_C_scl");
    std::vector<double> current(static_cast<std::size_t>(samples), 0.0);
    double integral = 0.0, pending = 0.0;
    for (std::size_t k = 0; k + 1 < current.size(); ++k) {
        const double error = step - current[k];
        integral = std::clamp(integral + ki * error, -32767.0, 32767.0);
        const double voltage = std::clamp(kp * error + integral, -32767.0, 32767.0);
        const double acting = delayed ? std::exchange(pending, voltage) : voltage;
        const double midPeriod = halfDecay * current[k] + halfGain * acting;
        const double loss = midPeriod > 0.0 ? deadCommand : midPeriod < 0.0 ? -deadCommand : 0.0;
        current[k + 1] = decay * current[k] + gain * (acting - loss);
    }
    return current;
}

// Rise time from 10 % to 90 % of the step [samples, interpolated] and the
// peak [fraction of the step].
struct StepShape {
    double rise = 0.0;
    double peak = 0.0;
};

inline StepShape ShapeOf(const std::vector<double>& current, double step)
{
    StepShape shape;
    double at10 = -1.0, at90 = -1.0;
    for (std::size_t k = 1; k < current.size(); ++k) {
        const double before = current[k - 1] / step, now = current[k] / step;
        for (auto [level, at] : {std::pair{0.1, &at10}, std::pair{0.9, &at90}})
            if (*at < 0.0 && before < level && now >= level)
                *at = static_cast<double>(k - 1) + (level - before) / (now - before);
        shape.peak = std::max(shape.peak, now);
    }
    shape.rise = at90 - at10;
    return shape;
}

} // namespace simtest
