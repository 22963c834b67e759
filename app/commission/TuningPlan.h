// What a commissioning engineer asks of each loop, chosen from the motor's
// datasheet and the identified values: the current step of the current
// test, and the speed, ramps and bandwidth of the speed and position tests.
#pragma once

class CMC_Setup;

// A profile run: the speed it moves at, its ramps, and the loop's bandwidth.
struct ProfilePlan {
    double speed = 0.0;     // [rad/s]
    double ramp = 0.0;      // [s]
    double hold = 0.0;      // [s] at the final value
    double bandwidth = 0.0; // [rad/s]
};

// The largest current step the voltage follows without saturating, within
// the motor's peak current [A]. kpScale: for a Kp the user will raise.
double LinearTestCurrent(CMC_Setup* s, double kpScale = 1.0);
// The current a tuning run may use [A].
double CurrentBudget(CMC_Setup* s);
ProfilePlan SpeedPlan(CMC_Setup* s);
ProfilePlan PositionPlan(CMC_Setup* s, bool onSpeedLoop);
