// Editable ranges that depend on other parameters, the closed-loop options,
// the load-side units of a rotary or linear load, and speed feed-forward.
//
// Limits are written with SetMinInBaseUnit/SetMaxInBaseUnit directly, minimum
// first, even when the minimum exceeds the maximum (unlike SetParameterRange).
// Values used as limits are read by name in base units; a missing source reads
// as the host's by-name read gives it (0, reported when g_bShowErrors is set).
// Each Limit_ function returns 1 when it set its range and 0, touching nothing,
// when its target is missing. They do not test the condition of their row in
// ComputeParameterLimits: a caller that runs one alone has checked it.
// All run on the host's user interface thread.
#pragma once

class CMC_Setup;

// Every limit row below in order, each only when its condition holds.
void ComputeParameterLimits(CMC_Setup* setup);

// The rows, callable one by one.
int Limit_ERR_speed(CMC_Setup* setup);                 // max 32767 / |KS|
int Limit_ERR_position(CMC_Setup* setup);              // max 32767 / |KP|
int Limit_time_ERR_spd(CMC_Setup* setup);              // max 32767 x TS
int Limit_time_ERR_pos(CMC_Setup* setup);              // max 32767 x TS
int Limit_PB_C(CMC_Setup* setup);                      // "PB_C_minim" to "PB_C_maxim"
int Limit_PB_S(CMC_Setup* setup);                      // "PB_S_minim" to "PB_S_maxim"
int Limit_PB_P(CMC_Setup* setup);                      // "PB_P_minim" to "PB_P_maxim"
int Limit_PositionProfileTimes(CMC_Setup* setup);      // "TPP", "TNP": TS to 65535 x TS
int Limit_PositionAccelerationTimes(CMC_Setup* setup); // "TaPP", "TaNP": 2 TS to 65535 x TS
int Limit_SpeedProfileTimes(CMC_Setup* setup);         // "TPS", "TNS", "TaPS", "TaNS": TS to 65535 x TS
int Limit_TestPosition(CMC_Setup* setup);
int Limit_TestSpeed(CMC_Setup* setup);
int Limit_MAX_CURRENT(CMC_Setup* setup);
int Limit_filter(CMC_Setup* setup);
int Limit_DeadBand_Point(CMC_Setup* setup);
int Limit_DeadBand_Range(CMC_Setup* setup); // needs "DeadBand_Point" as well
int Limit_POS_max(CMC_Setup* setup);
int Limit_POS_min(CMC_Setup* setup);
int Limit_SPD_max(CMC_Setup* setup);
int Limit_SPD_min(CMC_Setup* setup);
int Limit_CRT_max(CMC_Setup* setup);
int Limit_CRT_min(CMC_Setup* setup);
int Limit_BiquadFrequencies(CMC_Setup* setup); // "BQFilterF1n", "BQFilterF2n": max 0.5 / TS

// Writes the options "IsClosedPosition", "IsClosedSpeed", "IsClosedCurrent"
// ("0" or "1", in that order) from "ControlMode" and "PositionControlType".
// Returns 0 and changes nothing for a mode outside the known ones or when
// "ControlMode" (or, in position mode, "PositionControlType") is missing.
int UpdateClosedLoopOptions(CMC_Setup* setup);

// Gives the load-side parameters and drive variables the unit types of a
// linear ("TransmissionType" not 0) or a rotary load. Names the setup does not
// hold are skipped without a report; a missing "TransmissionType" changes nothing.
void UpdateTransmissionUnits(CMC_Setup* setup);

// Speed feed-forward on ("SpeedForward" 1, bit 14 of "ACR") in every mode but
// position control through a speed loop. Returns 0 when a parameter is missing.
int EnforceSpeedFeedForward(CMC_Setup* setup);
