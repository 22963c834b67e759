// Controller gains from a desired bandwidth and damping and the identified
// plant. Each design reads its parameters by name and returns 0, writing
// nothing, when one is missing; otherwise it writes the engineering gains
// ("_scl", in drive units, unrounded) and returns 1. The caller turns them
// into mantissa and shift registers. Zero divisors ("R", "K", "Jt", a loop
// period) are not tested: the host refuses the non-finite gains they give.
#pragma once

class CMC_Setup;

// PI of the current loop from "PB_C" [rad/s], "Dump_C", "R" [ohm], "L" [H] and
// "MotorPhaseConnectionType" (delta: a third of the resistance); writes
// "Kp_C_scl", "Ki_C_scl".
int DesignCurrentController(CMC_Setup* setup);

// PI of the speed loop from "PB_S" [rad/s], "Dump_S", "Jt" [kg m^2] and
// "K" [N m/A]; writes "Ki_S_scl", "Kp_S_scl".
int DesignSpeedController(CMC_Setup* setup);

// Position controller from "PB_P" [rad/s] and "Dump_P": a PID on the current
// reference, or a PI on the speed reference when "PositionControlType" is 1
// ("Kd_P_scl" 0 then); writes "Ki_P_scl", "Kp_P_scl", "Kd_P_scl".
int DesignPositionController(CMC_Setup* setup);
