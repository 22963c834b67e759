// The pass, its building blocks, and the motor, timing and drive protection rows.
#include "RegistersToParameters.h"

#include "EngineCore.h"
#include "Helpers.h"

#include <array>
#include <cmath>
#include <limits>

namespace r2p {

int WriteInRange(CMC_Parameter* target, double min, double max, double value)
{
    if (!SetParameterRange(target, min, max))
        return 0;
    target->SetValueInBaseUnit(value);
    return 1;
}

int WriteFlag(CMC_Parameter* target, bool on)
{
    return WriteInRange(target, 0.0, 1.0, on ? 1.0 : 0.0);
}

int FlagFromBit(CMC_Setup* setup, const char* target, const char* reg, int bit, bool inverted)
{
    CMC_Parameter* flag = nullptr;
    CMC_Parameter* source = nullptr;
    if (!FindParameters(setup, {{target, &flag}, {reg, &source}}))
        return 0;
    const bool set = RegisterBit(source->GetValueInBaseUnit(), bit) != 0;
    return WriteFlag(flag, set != inverted);
}

int FlagUnless(CMC_Setup* setup, const char* target, const char* reg, double offValue)
{
    CMC_Parameter* flag = nullptr;
    CMC_Parameter* source = nullptr;
    if (!FindParameters(setup, {{target, &flag}, {reg, &source}}))
        return 0;
    return WriteFlag(flag, source->GetValueInBaseUnit() != offValue);
}

int GainFromRegisters(CMC_Setup* setup, const char* target, const char* mantissa, const char* shift)
{
    CMC_Parameter* gain = nullptr;
    CMC_Parameter* m = nullptr;
    CMC_Parameter* s = nullptr;
    if (!FindParameters(setup, {{target, &gain}, {mantissa, &m}, {shift, &s}}))
        return 0;
    return WriteInRange(gain, 0.0, 16384.0, GainFromPair(m->GetValueInBaseUnit(), s->GetValueInBaseUnit()));
}

int LoadBand(CMC_Setup* setup, const char* target, const char* reg, double (*scale)(CMC_Setup*), double min)
{
    CMC_Parameter* band = nullptr;
    CMC_Parameter* count = nullptr;
    if (!FindParameters(setup, {{target, &band}, {reg, &count}}))
        return 0;
    const double magnitude = std::fabs(scale(setup));
    return WriteInRange(band, min, 32767.0 / magnitude, count->GetValueInBaseUnit() / magnitude);
}

} // namespace r2p

namespace {

constexpr double kTwo26 = 67108864.0;

double Base(const CMC_Parameter* p)
{
    return p->GetValueInBaseUnit();
}

// The register rows of the other direction, evaluated in the same order, so
// that the inverse can pick the current they map to the register exactly.
double DriveI2tLimitOf(double current, double nominal, double ki)
{
    return ki * (current * current - nominal * nominal) * ki * kTwo26 / kQ15 / kQ15;
}

double MotorI2tLimitOf(double current, double nominal, double ki)
{
    return (current * current - nominal * nominal) * ki * ki * 0.0625;
}

// Writes an i2t current computed from its integrator limit. The square root
// lands within a few units in the last place of the current the register was
// written from; of the stored values next to it, take one that the register
// row maps back to the register exactly (through the host's unit conversion,
// as that row reads it), so repeating the two directions never moves either.
template <typename LimitOf>
void WriteSettledCurrent(CMC_Parameter* target, double current, double limit, LimitOf limitOf)
{
    const auto mapsBack = [&](double internal) { return limitOf(target->InternalToBase(internal)) == limit; };
    const double estimate = target->BaseToInternal(current);
    double chosen = estimate;
    if (std::isfinite(estimate) && !mapsBack(estimate)) {
        constexpr double kInf = std::numeric_limits<double>::infinity();
        double below = estimate;
        double above = estimate;
        for (int step = 0; step < 4; ++step) {
            below = std::nextafter(below, -kInf);
            above = std::nextafter(above, kInf);
            if (mapsBack(below) || mapsBack(above)) {
                chosen = mapsBack(below) ? below : above;
                break;
            }
        }
    }
    target->SetValueInInternalUnit(chosen);
}

} // namespace

double DriveI2tCurrentFromLimit(double limit, double nominal, double ki)
{
    const double nominalCounts = nominal * ki;
    return std::sqrt(limit * kQ15 * kQ15 / kTwo26 + nominalCounts * nominalCounts) / ki;
}

double MotorI2tCurrentFromLimit(double limit, double nominal, double ki)
{
    const double nominalCounts = nominal * ki;
    return std::sqrt(16.0 * limit + nominalCounts * nominalCounts) / ki;
}

int Compute_pp(CMC_Setup* setup)
{
    CMC_Parameter *pp = nullptr, *enc2thl = nullptr, *mecresl = nullptr;
    if (!FindParameters(setup, {{"pp", &pp}, {"ENC2THL", &enc2thl}, {"MECRESL", &mecresl}}))
        return 0;
    pp->SetValueInBaseUnit(Base(mecresl) * Base(enc2thl) * std::pow(2.0, -32));
    return 1;
}

int Compute_Resolution(CMC_Setup* setup)
{
    CMC_Parameter *resolution = nullptr, *dbtth = nullptr, *pp = nullptr;
    if (!FindParameters(setup, {{"Resolution", &resolution}, {"DBTTH", &dbtth}, {"pp", &pp}}))
        return 0;
    resolution->SetValueInBaseUnit(Base(pp) * std::pow(2.0, 16.0 - Base(dbtth)));
    return 1;
}

int Compute_isMotorTemperatureSensor(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isMotorTemperatureSensor", "SCR", 7);
}

int Compute_Motor_TempSensor_Type(CMC_Setup* setup)
{
    CMC_Parameter *type = nullptr, *mtstype = nullptr;
    if (!FindParameters(setup, {{"Motor_TempSensor_Type", &type}, {"MTSTYPE", &mtstype}}))
        return 0;
    return r2p::WriteInRange(type, 0.0, 1.0, static_cast<double>(TruncRegister(Base(mtstype))));
}

int Compute_PWM_freq(CMC_Setup* setup)
{
    CMC_Parameter *freq = nullptr, *dsp = nullptr, *pwmper = nullptr;
    if (!FindParameters(setup, {{"PWM_freq", &freq}, {"DSP_freq", &dsp}, {"PWMPER", &pwmper}}))
        return 0;
    freq->SetValueInBaseUnit(Base(dsp) * 0.5 / Base(pwmper));
    return 1;
}

int Compute_PWMperiod(CMC_Setup* setup)
{
    CMC_Parameter *period = nullptr, *dsp = nullptr, *pwmper = nullptr;
    if (!FindParameters(setup, {{"PWMperiod", &period}, {"DSP_freq", &dsp}, {"PWMPER", &pwmper}}))
        return 0;
    period->SetValueInBaseUnit(Base(pwmper) * 2.0 / Base(dsp));
    return 1;
}

namespace {

// A loop period from its divider: divider x 2 x "PWMPER" / "DSP_freq".
int LoopPeriod(CMC_Setup* setup, const char* target, const char* divider)
{
    CMC_Parameter *period = nullptr, *per = nullptr, *pwmper = nullptr, *dsp = nullptr;
    if (!FindParameters(setup, {{target, &period}, {divider, &per}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}}))
        return 0;
    period->SetValueInBaseUnit(Base(per) * 2.0 * Base(pwmper) / Base(dsp));
    return 1;
}

// A converter threshold in volts of the DC bus.
int BusVoltage(CMC_Setup* setup, const char* target, const char* reg)
{
    CMC_Parameter *volts = nullptr, *counts = nullptr;
    if (!FindParameters(setup, {{target, &volts}, {reg, &counts}}))
        return 0;
    return r2p::WriteInRange(volts, 1.0, 2000.0, Base(counts) / DcBusVoltageScale(setup));
}

} // namespace

int Compute_Ts_C(CMC_Setup* setup)
{
    return LoopPeriod(setup, "Ts_C", "CLPER");
}

int Compute_Ts_S(CMC_Setup* setup)
{
    return LoopPeriod(setup, "Ts_S", "SLPER");
}

int Compute_isDriveTemperatureSensor(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isDriveTemperatureSensor", "SCR", 8);
}

int Compute_isOverVoltage(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isOverVoltage", "PCR", 4);
}

int Compute_UMAX_PROT(CMC_Setup* setup)
{
    return BusVoltage(setup, "UMAX_PROT", "UMAXPROT");
}

int Compute_isUnderVoltage(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isUnderVoltage", "PCR", 5);
}

int Compute_UMIN_PROT(CMC_Setup* setup)
{
    return BusVoltage(setup, "UMIN_PROT", "UMINPROT");
}

int Compute_isDriveOverTemp(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isDriveOverTemp", "PCR", 3);
}

int Compute_Temp_2(CMC_Setup* setup)
{
    CMC_Parameter *temp = nullptr, *counts = nullptr, *at0 = nullptr, *gain = nullptr, *range = nullptr;
    if (!FindParameters(setup, {{"Temp_2", &temp},
                                {"T2MAXPROT", &counts},
                                {"DriveTempOutputAt0oC", &at0},
                                {"DriveTempSensorGain", &gain},
                                {"ADCrange", &range}}))
        return 0;
    const double adcMax = Compute_ADCMaxValue(setup);
    const double volts = Base(range) * Base(counts) / adcMax;
    return r2p::WriteInRange(temp, -100.0, 1000.0, (volts - Base(at0)) / Base(gain));
}

int Compute_isDriveI2t(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isDriveI2t", "PCR", 7);
}

int Compute_I_I2t_D(CMC_Setup* setup)
{
    CMC_Parameter *current = nullptr, *limit = nullptr, *inps = nullptr, *imaxps = nullptr;
    if (!FindParameters(
            setup, {{"I_I2t_D", &current}, {"I2TINTLIM_D", &limit}, {"InPS", &inps}, {"ImaxPS", &imaxps}}))
        return 0;
    const double nominal = Base(inps);
    if (!SetParameterRange(current, nominal, Base(imaxps)))
        return 0;
    const double ki = CurrentScale(setup);
    const double reg = limit->GetValueInInternalUnit();
    WriteSettledCurrent(current, DriveI2tCurrentFromLimit(reg, nominal, ki), reg,
                        [&](double i) { return DriveI2tLimitOf(i, nominal, ki); });
    return 1;
}

int Compute_t_I2t_D(CMC_Setup* setup)
{
    CMC_Parameter *time = nullptr, *ts = nullptr, *sfi2t = nullptr, *slper = nullptr, *pwmper = nullptr,
                  *dsp = nullptr;
    if (!FindParameters(setup, {{"t_I2t_D", &time},
                                {"Ts_S", &ts},
                                {"SFI2T_D", &sfi2t},
                                {"SLPER", &slper},
                                {"PWMPER", &pwmper},
                                {"DSP_freq", &dsp}}))
        return 0;
    // SFI2T from 32768 down to 1; the value reads the period as the parameter.
    const double period = SpeedLoopPeriod(setup);
    return r2p::WriteInRange(time, period * 2048.0, period * kTwo26, Base(ts) * kTwo26 / Base(sfi2t));
}

int Compute_t_I2t_M(CMC_Setup* setup)
{
    CMC_Parameter *time = nullptr, *slper = nullptr, *pwmper = nullptr, *dsp = nullptr, *sfi2t = nullptr;
    if (!FindParameters(setup, {{"t_I2t_M", &time},
                                {"SLPER", &slper},
                                {"PWMPER", &pwmper},
                                {"DSP_freq", &dsp},
                                {"SFI2T_M", &sfi2t}}))
        return 0;
    const double period = SpeedLoopPeriod(setup);
    return r2p::WriteInRange(time, period * 2048.0, period * kTwo26,
                             Base(slper) * 2.0 * kTwo26 * Base(pwmper) / Base(dsp) / Base(sfi2t));
}

int Compute_I_I2t_M(CMC_Setup* setup)
{
    CMC_Parameter *current = nullptr, *limit = nullptr, *in = nullptr, *imaxm = nullptr;
    if (!FindParameters(setup,
                        {{"I_I2t_M", &current}, {"I2TINTLIM_M", &limit}, {"In", &in}, {"ImaxM", &imaxm}}))
        return 0;
    const double nominal = Base(in);
    if (!SetParameterRange(current, 1.1 * nominal, Base(imaxm)))
        return 0;
    const double ki = CurrentScale(setup);
    const double reg = Base(limit);
    WriteSettledCurrent(current, MotorI2tCurrentFromLimit(reg, nominal, ki), reg,
                        [&](double i) { return MotorI2tLimitOf(i, nominal, ki); });
    return 1;
}

namespace {

constexpr std::array kRows = std::to_array<RegisterToParameterRow>({
    {"pp", nullptr, &Compute_pp},
    {"Resolution", nullptr, &Compute_Resolution},
    {"isMotorTemperatureSensor", nullptr, &Compute_isMotorTemperatureSensor},
    {"Motor_TempSensor_Type", nullptr, &Compute_Motor_TempSensor_Type},
    {"PWM_freq", nullptr, &Compute_PWM_freq},
    {"PWMperiod", nullptr, &Compute_PWMperiod},
    {"Ts_C", nullptr, &Compute_Ts_C},
    {"Ts_S", nullptr, &Compute_Ts_S},
    {"isDriveTemperatureSensor", nullptr, &Compute_isDriveTemperatureSensor},
    {"isOverVoltage", nullptr, &Compute_isOverVoltage},
    {"UMAX_PROT", nullptr, &Compute_UMAX_PROT},
    {"isUnderVoltage", nullptr, &Compute_isUnderVoltage},
    {"UMIN_PROT", nullptr, &Compute_UMIN_PROT},
    {"isDriveOverTemp", nullptr, &Compute_isDriveOverTemp},
    {"Temp_2", nullptr, &Compute_Temp_2},
    {"isDriveI2t", nullptr, &Compute_isDriveI2t},
    {"I_I2t_D", nullptr, &Compute_I_I2t_D},
    {"t_I2t_D", nullptr, &Compute_t_I2t_D},
    {"ControlMode", nullptr, &Compute_ControlMode},
    {"ExternalReference", nullptr, &Compute_ExternalReference},
    {"IsAutoActivatedAfterPowerOn", nullptr, &Compute_IsAutoActivatedAfterPowerOn},
    {"Axis_ID_list", nullptr, &Compute_Axis_ID_list},
    {"IlimPS", nullptr, &Compute_IlimPS},
    {"Kp_C_scl", nullptr, &Compute_Kp_C_scl},
    {"Ki_C_scl", nullptr, &Compute_Ki_C_scl},
    {"TestCurrent", nullptr, &Compute_TestCurrent},
    {"TestProtectionCurrent", nullptr, &Compute_TestProtectionCurrent},
    {"isUseFilterOnCrtCtrlOutput", nullptr, &Compute_isUseFilterOnCrtCtrlOutput},
    {"FilterOnCurrentControllerOutput", nullptr, &Compute_FilterOnCurrentControllerOutput},
    {"isCompensateGravitationalLoads", &HasGravityCompensation, &Compute_isCompensateGravitationalLoads},
    {"OffsetCurrent", &HasGravityCompensation, &Compute_OffsetCurrent},
    {"Kp_S_scl", nullptr, &Compute_Kp_S_scl},
    {"Ki_S_scl", nullptr, &Compute_Ki_S_scl},
    {"IPSatS", nullptr, &Compute_IPSatS},
    {"KFFA_scl", nullptr, &Compute_KFFA_scl},
    {"TestLimitCurrent", nullptr, &Compute_TestLimitCurrent},
    {"TestStartCurrent", nullptr, &Compute_TestStartCurrent},
    {"Jload_over_J", nullptr, &Compute_Jload_over_J},
    {"Kp_P_scl", nullptr, &Compute_Kp_P_scl},
    {"Ki_P_scl", nullptr, &Compute_Ki_P_scl},
    {"Kd_P_scl", nullptr, &Compute_Kd_P_scl},
    {"Kp_T_scl", &HasThetaController, &Compute_Kp_T_scl},
    {"Ki_T_scl", &HasThetaController, &Compute_Ki_T_scl},
    {"filter_D", nullptr, &Compute_filter_D},
    {"IPSatP", nullptr, &Compute_IPSatP},
    {"Limit_Speed", nullptr, &Compute_Limit_Speed},
    {"TestMaxSpeed", nullptr, &Compute_TestMaxSpeed},
    {"KFFS_scl", nullptr, &Compute_KFFS_scl},
    {"isOverCurrent", nullptr, &Compute_isOverCurrent},
    {"Imax_Prot", nullptr, &Compute_Imax_Prot},
    {"time_Imax_Prot", nullptr, &Compute_time_Imax_Prot},
    {"isPositionControlError", nullptr, &Compute_isPositionControlError},
    {"ERR_position", nullptr, &Compute_ERR_position},
    {"time_ERR_pos", nullptr, &Compute_time_ERR_pos},
    {"isSpeedControlError", nullptr, &Compute_isSpeedControlError},
    {"ERR_speed", nullptr, &Compute_ERR_speed},
    {"time_ERR_spd", nullptr, &Compute_time_ERR_spd},
    {"isMotorOverTemp", nullptr, &Compute_isMotorOverTemp},
    {"isMotori2t", nullptr, &Compute_isMotori2t},
    {"I_I2t_M", nullptr, &Compute_I_I2t_M},
    {"t_I2t_M", nullptr, &Compute_t_I2t_M},
    {"isBrakeResistor", nullptr, &Compute_isBrakeResistor},
    {"Vbrake", nullptr, &Compute_Vbrake},
    {"EnablePolarity", nullptr, &Compute_EnablePolarity},
    {"LSPPolarity", nullptr, &Compute_LSPPolarity},
    {"LSNPolarity", nullptr, &Compute_LSNPolarity},
    {"isSWLS", &HasSoftwareLimitSwitches, &Compute_isSWLS},
    {"Negative_SWLS", &HasSoftwareLimitSwitches, &Compute_Negative_SWLS},
    {"Positive_SWLS", &HasSoftwareLimitSwitches, &Compute_Positive_SWLS},
    {"isSpeedEstimator", &HasSpeedEstimatorOption, &Compute_isSpeedEstimator},
    {"StartMode", nullptr, &Compute_StartMode},
    {"StartCurrent", nullptr, &Compute_StartCurrent},
    {"time_AB", nullptr, &Compute_time_AB},
    {"DeadBand_Point", &HasAnalogueInput, &Compute_DeadBand_Point},
    {"DeadBand_Range", &HasAnalogueInput, &Compute_DeadBand_Range},
    {"UseFilter", &HasAnalogueInput, &Compute_UseFilter},
    {"filter", &HasAnalogueInput, &Compute_filter},
    {"POS_max", &HasAnalogueInput, &Compute_POS_max},
    {"POS_min", &HasAnalogueInput, &Compute_POS_min},
    {"SPD_max", &HasAnalogueInput, &Compute_SPD_max},
    {"SPD_min", &HasAnalogueInput, &Compute_SPD_min},
    {"CRT_max", &HasAnalogueInput, &Compute_CRT_max},
    {"CRT_min", &HasAnalogueInput, &Compute_CRT_min},
    {"isLimitMaximum", nullptr, &Compute_isLimitMaximum},
    {"ErefMaxSpeed", nullptr, &Compute_ErefMaxSpeed},
    {"ErefMaxAcceleration", nullptr, &Compute_ErefMaxAcceleration},
    {"isAnalogueReference", nullptr, &Compute_isAnalogueReference},
    {"DigitalReferenceType", nullptr, &Compute_DigitalReferenceType},
    {"save_CAN_baudrate", &HasCommunicationSaveOptions, &Compute_save_CAN_baudrate},
    {"save_axis_id", &HasCommunicationSaveOptions, &Compute_save_axis_id},
    {"isMotorBrake", &HasMotorBrake, &Compute_isMotorBrake},
    {"MotorBrake_output", &HasMotorBrake, &Compute_MotorBrake_output},
    {"MotorBrake_releasetime", &HasMotorBrake, &Compute_MotorBrake_releasetime},
    {"MotorBrake_applytime", &HasMotorBrake, &Compute_MotorBrake_applytime},
    {"SpeedForward", &HasSpeedForward, &Compute_SpeedForward},
    {"isFreezeControl", &HasFreezeControl, &Compute_isFreezeControl},
    {"FreezeControl_errband", &HasFreezeControl, &Compute_FreezeControl_errband},
    {"FreezeControl_time", &HasFreezeControl, &Compute_FreezeControl_time},
    {"InputsPolarityType", &HasInputsPolarityType, &Compute_InputsPolarityType},
});

} // namespace

std::span<const RegisterToParameterRow> RegisterToParameterRows()
{
    return kRows;
}

void ComputeParametersFromRegisters(CMC_Setup* setup)
{
    for (const RegisterToParameterRow& row : kRows)
        if (!row.condition || row.condition(setup))
            row.compute(setup);
}
