#include "TuningPlan.h"

#include "EngineCore.h"
#include "Setup.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

double Base(const CMC_Setup* s, const char* name)
{
    return s->GetParameterValueInBaseUnit(name);
}

// An eighth of the speed at which the motor's voltage would reach the
// supply's (as the engine reckons it, Vdc / K): most of the supply is left
// for the current loop.
double ProfileSpeed(const CMC_Setup* s)
{
    return Base(s, "Vdc") / Base(s, "K") / 8.0;
}

} // namespace

// The first command, (Kp + Ki) times the step, stays within 85 % of the
// largest phase voltage, so that the drive's dead time weighs least.
double LinearTestCurrent(CMC_Setup* s, double kpScale)
{
    const double toVolts = CurrentScale(s) / VoltageCommandScale(s);
    const double gain = (kpScale * Base(s, "Kp_C_scl") + Base(s, "Ki_C_scl")) * toVolts;
    const double largest = Base(s, "Vdc") / std::sqrt(3.0);
    return std::min(Base(s, "ImaxM"), 0.85 * largest / gain);
}

// The motor's nominal current, and half the test's limit, so that what the
// loop's design leaves out never reaches it.
double CurrentBudget(CMC_Setup* s)
{
    return std::min(Base(s, "In"), 0.5 * Base(s, "TestLimitCurrent"));
}

// The speed loop ramps to the profile speed within one time constant of the
// loop, 1 / w: it then accelerates the rotor at w times the speed, which
// takes J w V / K of current. The bandwidth is the highest that keeps that
// within the budget, and at most a twentieth of the loop's Nyquist frequency,
// where the loop's delay of about a period (the speed is measured over the
// last period, the current asked holds until the next) costs it 9 degrees of
// phase.
ProfilePlan SpeedPlan(CMC_Setup* s)
{
    ProfilePlan plan;
    plan.speed = ProfileSpeed(s);
    const double fastest = 0.05 * std::numbers::pi / SpeedLoopPeriod(s);
    const double affordable = CurrentBudget(s) * Base(s, "K") / (Base(s, "Jt") * plan.speed);
    const CMC_Parameter* bandwidth = s->FindParameter("PB_S");
    plan.bandwidth = std::clamp(std::min(fastest, affordable), bandwidth->GetMinInBaseUnit(),
                                bandwidth->GetMaxInBaseUnit());
    plan.ramp = 1.0 / plan.bandwidth;
    plan.hold = Base(s, "TPS");
    return plan;
}

// The position loop is designed on an ideal speed loop: a quarter of the
// tuned speed loop's bandwidth keeps that true enough. When its ramp starts
// the loop asks for an acceleration of about 2 z w times the ramp's speed
// (through the speed loop), or (2 z + 1) w times it (its derivative, straight
// onto the current): the ramp's speed keeps that current within the budget.
// The error peaks about one time constant after a ramp starts: the ramps
// last that long, and the hold three.
ProfilePlan PositionPlan(CMC_Setup* s, bool onSpeedLoop)
{
    ProfilePlan plan;
    plan.bandwidth = 0.25 * Base(s, "PB_S");
    const double z = Base(s, "Dump_P");
    const double acceleration = (onSpeedLoop ? 2.0 * z : 2.0 * z + 1.0) * plan.bandwidth;
    plan.speed = std::min(ProfileSpeed(s), CurrentBudget(s) * Base(s, "K") / (Base(s, "Jt") * acceleration));
    plan.ramp = 1.0 / plan.bandwidth;
    plan.hold = 3.0 / plan.bandwidth;
    return plan;
}
