// Rows of the inputs, the software limit switches, start-up, the external
// reference and the optional features (brake, freeze control, feed-forward).
#include "RegistersToParameters.h"

#include "EngineCore.h"
#include "Helpers.h"
#include "Limits.h"

#include <cmath>

namespace {

double Base(const CMC_Parameter* p)
{
    return p->GetValueInBaseUnit();
}

double AdcMax(CMC_Setup* setup)
{
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

// The load's direction: -1 when the transmission ratio reverses it.
double Direction(CMC_Setup* setup)
{
    return LoadPositionScale(setup) > 0.0 ? 1.0 : -1.0;
}

// A software limit in load units. With a negative transmission the drive's
// positive limit is the load's negative one; the value keeps its sign.
int SoftwareLimit(CMC_Setup* setup, const char* target, bool positive)
{
    CMC_Parameter *limit = nullptr, *swposls = nullptr, *swnegls = nullptr;
    if (!FindParameters(setup, {{target, &limit}, {"SWPOSLS", &swposls}, {"SWNEGLS", &swnegls}}))
        return 0;
    const double kp = LoadPositionScale(setup);
    const CMC_Parameter* reg = positive == (kp > 0.0) ? swposls : swnegls;
    const double magnitude = std::fabs(kp);
    return r2p::WriteInRange(limit, -2147483648.0 / magnitude, 2147483647.0 / magnitude, Base(reg) / kp);
}

// The top of the analogue reference range [internal]: "AD5OFF" plus the span
// the gain "CADIN" x 2^"SFTADIN" gives over the converter's full scale.
int AnalogueReferenceTop(CMC_Setup* setup, const char* target, int (*limits)(CMC_Setup*))
{
    CMC_Parameter *top = nullptr, *cadin = nullptr, *sftadin = nullptr, *offset = nullptr;
    if (!FindParameters(setup,
                        {{target, &top}, {"CADIN", &cadin}, {"SFTADIN", &sftadin}, {"AD5OFF", &offset}}))
        return 0;
    limits(setup);
    const double span = cadin->GetValueInInternalUnit() * 2.0 * Direction(setup) * AdcMax(setup) *
                        std::pow(2.0, -16) * std::pow(2.0, sftadin->GetValueInInternalUnit());
    top->SetValueInInternalUnit(offset->GetValueInInternalUnit() + span);
    return 1;
}

// The bottom of the analogue reference range [internal]: "AD5OFF".
int AnalogueReferenceBottom(CMC_Setup* setup, const char* target, int (*limits)(CMC_Setup*))
{
    CMC_Parameter *bottom = nullptr, *offset = nullptr;
    if (!FindParameters(setup, {{target, &bottom}, {"AD5OFF", &offset}}))
        return 0;
    if (limits)
        limits(setup);
    bottom->SetValueInInternalUnit(offset->GetValueInInternalUnit());
    return 1;
}

// A delay of the drive counted in slow loop periods, with the parameter "Ts_S".
int DelayOfTsS(CMC_Setup* setup, const char* target, const char* reg)
{
    CMC_Parameter *time = nullptr, *count = nullptr, *ts = nullptr;
    if (!FindParameters(setup, {{target, &time}, {reg, &count}, {"Ts_S", &ts}}))
        return 0;
    time->SetValueInBaseUnit(Base(ts) * Base(count));
    return 1;
}

} // namespace

int Compute_isSWLS(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isSWLS", "ASR", 12);
}

int Compute_Negative_SWLS(CMC_Setup* setup)
{
    return SoftwareLimit(setup, "Negative_SWLS", false);
}

int Compute_Positive_SWLS(CMC_Setup* setup)
{
    return SoftwareLimit(setup, "Positive_SWLS", true);
}

int Compute_isSpeedEstimator(CMC_Setup* setup)
{
    CMC_Parameter *flag = nullptr, *scr = nullptr;
    if (!FindParameters(setup, {{"isSpeedEstimator", &flag}, {"SCR", &scr}}))
        return 0;
    // Bits 3 to 5 read 110.
    return r2p::WriteFlag(flag, (TruncRegister(Base(scr)) & 0x38) == 0x30);
}

int Compute_StartMode(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "StartMode", "OSR", 3);
}

int Compute_time_AB(CMC_Setup* setup)
{
    CMC_Parameter *time = nullptr, *upgrade = nullptr, *t1ona = nullptr;
    if (!FindParameters(setup, {{"time_AB", &time}, {"UPGRADE", &upgrade}, {"T1ONA", &t1ona}}))
        return 0;
    // Bit 9 of "UPGRADE": 1/100 s per count, else 1/65535 s.
    if (RegisterBit(Base(upgrade), 9))
        return r2p::WriteInRange(time, 0.01, 655.35, Base(t1ona) / 100.0);
    return r2p::WriteInRange(time, 0.01, 1.0, Base(t1ona) / 65535.0);
}

int Compute_DeadBand_Point(CMC_Setup* setup)
{
    CMC_Parameter *point = nullptr, *level = nullptr, *range = nullptr;
    if (!FindParameters(setup,
                        {{"DeadBand_Point", &point}, {"LEVEL_AD5", &level}, {"AnalogueInputsRange", &range}}))
        return 0;
    Limit_DeadBand_Point(setup);
    const double span = Base(range);
    double volts = span * Base(level) / AdcMax(setup);
    if (TruncRegister(span) == 20)
        volts -= 10.0; // a -10 V to +10 V input
    point->SetValueInBaseUnit(volts);
    return 1;
}

int Compute_DeadBand_Range(CMC_Setup* setup)
{
    CMC_Parameter *width = nullptr, *level = nullptr, *range = nullptr;
    if (!FindParameters(
            setup, {{"DeadBand_Range", &width}, {"E_LEVEL_AD5", &level}, {"AnalogueInputsRange", &range}}))
        return 0;
    Limit_DeadBand_Range(setup);
    width->SetValueInBaseUnit(Base(range) * Base(level) / AdcMax(setup));
    return 1;
}

int Compute_UseFilter(CMC_Setup* setup)
{
    return r2p::FlagUnless(setup, "UseFilter", "FILTER1", 32767.0);
}

int Compute_filter(CMC_Setup* setup)
{
    CMC_Parameter *cutoff = nullptr, *filter1 = nullptr, *dsp = nullptr, *slper = nullptr, *pwmper = nullptr,
                  *use = nullptr;
    if (!FindParameters(setup, {{"filter", &cutoff},
                                {"FILTER1", &filter1},
                                {"DSP_freq", &dsp},
                                {"SLPER", &slper},
                                {"PWMPER", &pwmper},
                                {"UseFilter", &use}}))
        return 0;
    const double ts = SpeedLoopPeriod(setup);
    const double q = Base(filter1);
    return r2p::WriteInRange(cutoff, 0.0, 0.5 / ts, q == 32767.0 ? 50.0 : -std::log(1.0 - q / 32767.0) / ts);
}

int Compute_POS_max(CMC_Setup* setup)
{
    return AnalogueReferenceTop(setup, "POS_max", &Limit_POS_max);
}

int Compute_POS_min(CMC_Setup* setup)
{
    return AnalogueReferenceBottom(setup, "POS_min", &Limit_POS_min);
}

int Compute_SPD_max(CMC_Setup* setup)
{
    return AnalogueReferenceTop(setup, "SPD_max", &Limit_SPD_max);
}

int Compute_SPD_min(CMC_Setup* setup)
{
    return AnalogueReferenceBottom(setup, "SPD_min", &Limit_SPD_min);
}

int Compute_CRT_max(CMC_Setup* setup)
{
    return AnalogueReferenceTop(setup, "CRT_max", &Limit_CRT_max);
}

int Compute_CRT_min(CMC_Setup* setup)
{
    return AnalogueReferenceBottom(setup, "CRT_min", nullptr);
}

int Compute_isLimitMaximum(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isLimitMaximum", "UPGRADE", 2);
}

int Compute_ErefMaxSpeed(CMC_Setup* setup)
{
    return r2p::LoadBand(setup, "ErefMaxSpeed", "CSPD", &LoadSpeedScale);
}

int Compute_ErefMaxAcceleration(CMC_Setup* setup)
{
    return r2p::LoadBand(setup, "ErefMaxAcceleration", "CACC", &LoadAccelerationScale);
}

int Compute_isAnalogueReference(CMC_Setup* setup)
{
    CMC_Parameter *flag = nullptr, *acr = nullptr;
    if (!FindParameters(setup, {{"isAnalogueReference", &flag}, {"ACR", &acr}}))
        return 0;
    // Without an analogue input the flag can only be off.
    const double max = HasAnalogueInput(setup) ? 1.0 : 0.0;
    return r2p::WriteInRange(flag, 0.0, max, RegisterBit(Base(acr), 6));
}

int Compute_DigitalReferenceType(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "DigitalReferenceType", "ACR", 2, true);
}

int Compute_save_CAN_baudrate(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "save_CAN_baudrate", "LSS_Active", 1, true);
}

int Compute_save_axis_id(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "save_axis_id", "LSS_Active", 0, true);
}

int Compute_isMotorBrake(CMC_Setup* setup)
{
    CMC_Parameter *flag = nullptr, *brakecfg = nullptr;
    if (!FindParameters(setup, {{"isMotorBrake", &flag}, {"BRAKECFG", &brakecfg}}))
        return 0;
    if (!SetParameterRange(flag, 0.0, 1.0))
        return 0;
    flag->SetValueInInternalUnit(RegisterBit(brakecfg->GetValueInInternalUnit(), 0));
    return 1;
}

int Compute_MotorBrake_output(CMC_Setup* setup)
{
    CMC_Parameter *port = nullptr, *brakecfg = nullptr;
    if (!FindParameters(setup, {{"MotorBrake_output", &port}, {"BRAKECFG", &brakecfg}}))
        return 0;
    const auto pin = static_cast<int>((TruncRegister(brakecfg->GetValueInInternalUnit()) >> 8) & 0xFF);
    port->SetValueInInternalUnit(GetIOPortFromPin(pin));
    return 1;
}

int Compute_MotorBrake_releasetime(CMC_Setup* setup)
{
    return DelayOfTsS(setup, "MotorBrake_releasetime", "BRAKERELEASEDELAY");
}

int Compute_MotorBrake_applytime(CMC_Setup* setup)
{
    return DelayOfTsS(setup, "MotorBrake_applytime", "BRAKEAPPLYDELAY");
}

int Compute_SpeedForward(CMC_Setup* setup)
{
    CMC_Parameter *forward = nullptr, *acr = nullptr;
    if (!FindParameters(setup, {{"SpeedForward", &forward}, {"ACR", &acr}}))
        return 0;
    forward->SetValueInInternalUnit(RegisterBit(Base(acr), 14));
    return 1;
}

int Compute_isFreezeControl(CMC_Setup* setup)
{
    CMC_Parameter *flag = nullptr, *mode = nullptr, *acr = nullptr;
    if (!FindParameters(setup, {{"isFreezeControl", &flag}, {"ControlMode", &mode}, {"ACR", &acr}}))
        return 0;
    if (!SetParameterRange(flag, 0.0, 1.0))
        return 0;
    // Counted in position mode only.
    const bool on = RegisterBit(acr->GetValueInInternalUnit(), 4) && TruncRegister(Base(mode)) == 0;
    flag->SetValueInInternalUnit(on ? 1.0 : 0.0);
    return 1;
}

int Compute_FreezeControl_errband(CMC_Setup* setup)
{
    return r2p::LoadBand(setup, "FreezeControl_errband", "POSOKLIM_FC", &LoadPositionScale);
}

int Compute_FreezeControl_time(CMC_Setup* setup)
{
    CMC_Parameter *time = nullptr, *count = nullptr, *ts = nullptr;
    if (!FindParameters(setup, {{"FreezeControl_time", &time}, {"TONPOSOK_FC", &count}, {"Ts_S", &ts}}))
        return 0;
    return r2p::WriteInRange(time, 0.0, Base(ts) * 65535.0, Base(ts) * Base(count));
}

int Compute_InputsPolarityType(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "InputsPolarityType", "ASR", 2, true);
}
