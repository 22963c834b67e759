// Register values -> engineering parameters.
//
// Each conversion is a function of the setup named after the parameter it
// writes. It looks up every parameter it names first and returns 0, writing
// nothing, when one is missing; it sets the target's editable range before the
// value and returns 0 when the range is refused (min > max). Otherwise it
// writes the value unrounded and returns 1. Values are read and written in base
// units unless the row says internal. Divisions by a zero period or scale are
// not tested; the host refuses the non-finite result.
//
// All functions run on the host's user interface thread.
#pragma once

#include <span>

class CMC_Parameter;
class CMC_Setup;

// Runs every row of the table below, in order. Running it twice in a row
// gives the same setup as running it once.
void ComputeParametersFromRegisters(CMC_Setup* setup);

struct RegisterToParameterRow {
    const char* target;            // the parameter the row writes
    bool (*condition)(CMC_Setup*); // null: always run
    int (*compute)(CMC_Setup*);    // 1 written, 0 skipped
};

// The pass, in the order it runs.
std::span<const RegisterToParameterRow> RegisterToParameterRows();

// Motor, loop timing and the drive's protections.
int Compute_pp(CMC_Setup* setup);
int Compute_Resolution(CMC_Setup* setup);
int Compute_isMotorTemperatureSensor(CMC_Setup* setup);
int Compute_Motor_TempSensor_Type(CMC_Setup* setup);
int Compute_PWM_freq(CMC_Setup* setup);
int Compute_PWMperiod(CMC_Setup* setup);
int Compute_Ts_C(CMC_Setup* setup);
int Compute_Ts_S(CMC_Setup* setup);
int Compute_isDriveTemperatureSensor(CMC_Setup* setup);
int Compute_isOverVoltage(CMC_Setup* setup);
int Compute_UMAX_PROT(CMC_Setup* setup);
int Compute_isUnderVoltage(CMC_Setup* setup);
int Compute_UMIN_PROT(CMC_Setup* setup);
int Compute_isDriveOverTemp(CMC_Setup* setup);
int Compute_Temp_2(CMC_Setup* setup);
int Compute_isDriveI2t(CMC_Setup* setup);
int Compute_I_I2t_D(CMC_Setup* setup);
int Compute_t_I2t_D(CMC_Setup* setup);

// Control mode, current and speed loops.
int Compute_ControlMode(CMC_Setup* setup);
int Compute_ExternalReference(CMC_Setup* setup);
int Compute_IsAutoActivatedAfterPowerOn(CMC_Setup* setup);
int Compute_Axis_ID_list(CMC_Setup* setup);
int Compute_IlimPS(CMC_Setup* setup);
int Compute_Kp_C_scl(CMC_Setup* setup);
int Compute_Ki_C_scl(CMC_Setup* setup);
int Compute_TestCurrent(CMC_Setup* setup);
int Compute_TestProtectionCurrent(CMC_Setup* setup);
int Compute_isUseFilterOnCrtCtrlOutput(CMC_Setup* setup);
int Compute_FilterOnCurrentControllerOutput(CMC_Setup* setup);
int Compute_isCompensateGravitationalLoads(CMC_Setup* setup);
int Compute_OffsetCurrent(CMC_Setup* setup);
int Compute_Kp_S_scl(CMC_Setup* setup);
int Compute_Ki_S_scl(CMC_Setup* setup);
int Compute_IPSatS(CMC_Setup* setup);
int Compute_KFFA_scl(CMC_Setup* setup);
int Compute_TestLimitCurrent(CMC_Setup* setup);
int Compute_TestStartCurrent(CMC_Setup* setup);
int Compute_Jload_over_J(CMC_Setup* setup);

// Position loop and the protections of the loops.
int Compute_Kp_P_scl(CMC_Setup* setup);
int Compute_Ki_P_scl(CMC_Setup* setup);
int Compute_Kd_P_scl(CMC_Setup* setup);
int Compute_Kp_T_scl(CMC_Setup* setup);
int Compute_Ki_T_scl(CMC_Setup* setup);
int Compute_filter_D(CMC_Setup* setup);
int Compute_IPSatP(CMC_Setup* setup);
int Compute_Limit_Speed(CMC_Setup* setup);
int Compute_TestMaxSpeed(CMC_Setup* setup);
int Compute_KFFS_scl(CMC_Setup* setup);
int Compute_isOverCurrent(CMC_Setup* setup);
int Compute_Imax_Prot(CMC_Setup* setup);
int Compute_time_Imax_Prot(CMC_Setup* setup);
int Compute_isPositionControlError(CMC_Setup* setup);
int Compute_ERR_position(CMC_Setup* setup);
int Compute_time_ERR_pos(CMC_Setup* setup);
int Compute_isSpeedControlError(CMC_Setup* setup);
int Compute_ERR_speed(CMC_Setup* setup);
int Compute_time_ERR_spd(CMC_Setup* setup);
int Compute_isMotorOverTemp(CMC_Setup* setup);
int Compute_isMotori2t(CMC_Setup* setup);
int Compute_I_I2t_M(CMC_Setup* setup);
int Compute_t_I2t_M(CMC_Setup* setup);
int Compute_isBrakeResistor(CMC_Setup* setup);
int Compute_Vbrake(CMC_Setup* setup);

// Inputs, start-up, external reference and the optional features.
int Compute_EnablePolarity(CMC_Setup* setup);
int Compute_LSPPolarity(CMC_Setup* setup);
int Compute_LSNPolarity(CMC_Setup* setup);
int Compute_isSWLS(CMC_Setup* setup);
int Compute_Negative_SWLS(CMC_Setup* setup);
int Compute_Positive_SWLS(CMC_Setup* setup);
int Compute_isSpeedEstimator(CMC_Setup* setup);
int Compute_StartMode(CMC_Setup* setup);
int Compute_StartCurrent(CMC_Setup* setup);
int Compute_time_AB(CMC_Setup* setup);
int Compute_DeadBand_Point(CMC_Setup* setup);
int Compute_DeadBand_Range(CMC_Setup* setup);
int Compute_UseFilter(CMC_Setup* setup);
int Compute_filter(CMC_Setup* setup);
int Compute_POS_max(CMC_Setup* setup);
int Compute_POS_min(CMC_Setup* setup);
int Compute_SPD_max(CMC_Setup* setup);
int Compute_SPD_min(CMC_Setup* setup);
int Compute_CRT_max(CMC_Setup* setup);
int Compute_CRT_min(CMC_Setup* setup);
int Compute_isLimitMaximum(CMC_Setup* setup);
int Compute_ErefMaxSpeed(CMC_Setup* setup);
int Compute_ErefMaxAcceleration(CMC_Setup* setup);
int Compute_isAnalogueReference(CMC_Setup* setup);
int Compute_DigitalReferenceType(CMC_Setup* setup);
int Compute_save_CAN_baudrate(CMC_Setup* setup);
int Compute_save_axis_id(CMC_Setup* setup);
int Compute_isMotorBrake(CMC_Setup* setup);
int Compute_MotorBrake_output(CMC_Setup* setup);
int Compute_MotorBrake_releasetime(CMC_Setup* setup);
int Compute_MotorBrake_applytime(CMC_Setup* setup);
int Compute_SpeedForward(CMC_Setup* setup);
int Compute_isFreezeControl(CMC_Setup* setup);
int Compute_FreezeControl_errband(CMC_Setup* setup);
int Compute_FreezeControl_time(CMC_Setup* setup);
int Compute_InputsPolarityType(CMC_Setup* setup);

// The i2t currents from their integrator limits, the inverses of the register
// rows of the other direction:
//   drive: limit = KI x (I^2 - In^2) x KI x 2^26 / 32767 / 32767
//   motor: limit = (I^2 - In^2) x KI^2 x 0.0625
// KI [internal units per A], currents [A], limit [register counts]. The rows
// then store, of the values within a few units in the last place, one that the
// register row maps back to the register exactly, so the passes settle.
double DriveI2tCurrentFromLimit(double limit, double nominal, double ki);
double MotorI2tCurrentFromLimit(double limit, double nominal, double ki);

// Building blocks shared by the rows.
namespace r2p {

// SetParameterRange, then the value in base units. 0 when the range is refused.
int WriteInRange(CMC_Parameter* target, double min, double max, double value);
// A yes/no flag with the range 0 to 1.
int WriteFlag(CMC_Parameter* target, bool on);
// Target = bit of a register (or its complement when inverted), range 0 to 1.
int FlagFromBit(CMC_Setup* setup, const char* target, const char* reg, int bit, bool inverted = false);
// Target = 1 when the register is not the given value (a filter or a time that is switched off).
int FlagUnless(CMC_Setup* setup, const char* target, const char* reg, double offValue);
// Target = mantissa x 2^shift / 32767, range 0 to 16384.
int GainFromRegisters(CMC_Setup* setup, const char* target, const char* mantissa, const char* shift);
// A magnitude held in a 16-bit register, in load units: register / |scale|,
// range min to 32767 / |scale|. The scale is read after the lookups.
int LoadBand(CMC_Setup* setup, const char* target, const char* reg, double (*scale)(CMC_Setup*),
             double min = 0.0);

} // namespace r2p
