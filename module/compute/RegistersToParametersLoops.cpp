// Rows of the control mode, the current, speed and position loops, their
// limits and protections, and the start-up current.
#include "RegistersToParameters.h"

#include "EngineCore.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFull = 32767.0; // Q15 full scale; saturation registers hold 32767 - limit

double Base(const CMC_Parameter* p)
{
    return p->GetValueInBaseUnit();
}

bool IsOne(const CMC_Parameter* p)
{
    return TruncRegister(Base(p)) == 1;
}

// The control mode from bits 8 to 10 of "ACR": bit 10 position, else bit 9 speed, else torque.
double ControlModeOf(double acr)
{
    if (RegisterBit(acr, 10))
        return 0.0;
    return RegisterBit(acr, 9) ? 1.0 : 2.0;
}

// Bit 9 of "ACR" picks the saturation register behind the current limit.
const char* CurrentSaturationRegister(double acr)
{
    return RegisterBit(acr, 9) ? "SATS" : "SATP";
}

// A current register in amperes, with the range 'min' to the smaller of the
// motor's and the drive's peak currents.
int PeakBoundedCurrent(CMC_Setup* setup, const char* target, const char* reg, double min)
{
    CMC_Parameter *current = nullptr, *counts = nullptr, *imaxm = nullptr, *imaxps = nullptr;
    if (!FindParameters(setup, {{target, &current}, {reg, &counts}, {"ImaxM", &imaxm}, {"ImaxPS", &imaxps}}))
        return 0;
    return r2p::WriteInRange(current, min, std::min(Base(imaxm), Base(imaxps)),
                             Base(counts) / CurrentScale(setup));
}

// The share of the integral limit in the output limit, in percent.
int IntegralSaturation(CMC_Setup* setup, const char* target, const char* integral, const char* output)
{
    CMC_Parameter *percent = nullptr, *imax = nullptr, *sat = nullptr;
    if (!FindParameters(setup, {{target, &percent}, {integral, &imax}, {output, &sat}}))
        return 0;
    return r2p::WriteInRange(percent, 0.0, 100.0, (kFull - Base(imax)) * 100.0 / (kFull - Base(sat)));
}

// A delay counted in slow loop periods.
int SlowLoopDelay(CMC_Setup* setup, const char* target, const char* reg)
{
    CMC_Parameter *time = nullptr, *count = nullptr, *slper = nullptr, *pwmper = nullptr, *dsp = nullptr;
    if (!FindParameters(
            setup,
            {{target, &time}, {reg, &count}, {"SLPER", &slper}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}}))
        return 0;
    const double ts = SpeedLoopPeriod(setup);
    return r2p::WriteInRange(time, 0.001, kFull * ts, Base(count) * ts);
}

} // namespace

int Compute_ControlMode(CMC_Setup* setup)
{
    CMC_Parameter *mode = nullptr, *acr = nullptr;
    if (!FindParameters(setup, {{"ControlMode", &mode}, {"ACR", &acr}}))
        return 0;
    return r2p::WriteInRange(mode, 0.0, 2.0, ControlModeOf(Base(acr)));
}

int Compute_ExternalReference(CMC_Setup* setup)
{
    CMC_Parameter *external = nullptr, *acr = nullptr;
    if (!FindParameters(setup, {{"ExternalReference", &external}, {"ACR", &acr}}))
        return 0;
    return r2p::WriteFlag(external, RegisterBit(Base(acr), 7) || RegisterBit(Base(acr), 6));
}

int Compute_IsAutoActivatedAfterPowerOn(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "IsAutoActivatedAfterPowerOn", "ACR", 1);
}

int Compute_Axis_ID_list(CMC_Setup* setup)
{
    CMC_Parameter *axis = nullptr, *aar = nullptr;
    if (!FindParameters(setup, {{"Axis_ID_list", &axis}, {"AAR_table", &aar}}))
        return 0;
    const double address = Base(aar);
    return r2p::WriteInRange(axis, 0.0, 511.0, address != 0.0 ? address - 256.0 : 0.0);
}

int Compute_IlimPS(CMC_Setup* setup)
{
    CMC_Parameter *limit = nullptr, *acr = nullptr, *imaxps = nullptr, *imaxm = nullptr;
    if (!FindParameters(setup, {{"IlimPS", &limit}, {"ACR", &acr}, {"ImaxPS", &imaxps}, {"ImaxM", &imaxm}}))
        return 0;
    if (!SetParameterRange(limit, 0.001, std::min(Base(imaxps), Base(imaxm))))
        return 0;
    // The saturation register is looked up only now; the range stays when it is missing.
    const CMC_Parameter* sat = setup->FindParameter(CurrentSaturationRegister(Base(acr)));
    if (!sat)
        return 0;
    limit->SetValueInBaseUnit((kFull - Base(sat)) / CurrentScale(setup));
    return 1;
}

int Compute_Kp_C_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Kp_C_scl", "KPI", "SFTKPI");
}

int Compute_Ki_C_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Ki_C_scl", "KII", "SFTKII");
}

int Compute_TestCurrent(CMC_Setup* setup)
{
    CMC_Parameter *test = nullptr, *in = nullptr, *inps = nullptr;
    if (!FindParameters(setup, {{"TestCurrent", &test}, {"In", &in}, {"InPS", &inps}}))
        return 0;
    const double half = std::min(0.5 * Base(in), 0.5 * Base(inps));
    return r2p::WriteInRange(test, 0.001, 1.8 * half, half);
}

int Compute_TestProtectionCurrent(CMC_Setup* setup)
{
    return PeakBoundedCurrent(setup, "TestProtectionCurrent", "IMAXPROT", 0.0);
}

int Compute_isUseFilterOnCrtCtrlOutput(CMC_Setup* setup)
{
    return r2p::FlagUnless(setup, "isUseFilterOnCrtCtrlOutput", "FILTERQ", kFull);
}

int Compute_FilterOnCurrentControllerOutput(CMC_Setup* setup)
{
    CMC_Parameter *cutoff = nullptr, *filterq = nullptr, *dsp = nullptr, *clper = nullptr, *pwmper = nullptr;
    if (!FindParameters(setup, {{"FilterOnCurrentControllerOutput", &cutoff},
                                {"FILTERQ", &filterq},
                                {"DSP_freq", &dsp},
                                {"CLPER", &clper},
                                {"PWMPER", &pwmper}}))
        return 0;
    const double q = Base(filterq);
    const double value =
        q == kFull ? 5000.0 : -std::log(1.0 - q / kFull) * Base(dsp) / Base(clper) * 0.5 / Base(pwmper);
    return r2p::WriteInRange(cutoff, 0.0, Base(dsp) * 0.25 / Base(clper) / Base(pwmper), value);
}

int Compute_isCompensateGravitationalLoads(CMC_Setup* setup)
{
    return r2p::FlagUnless(setup, "isCompensateGravitationalLoads", "FFL", 0.0);
}

int Compute_OffsetCurrent(CMC_Setup* setup)
{
    CMC_Parameter *offset = nullptr, *ffl = nullptr, *in = nullptr;
    if (!FindParameters(setup, {{"OffsetCurrent", &offset}, {"FFL", &ffl}, {"In", &in}}))
        return 0;
    return r2p::WriteInRange(offset, -Base(in), Base(in), Base(ffl) / CurrentScale(setup));
}

int Compute_Kp_S_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Kp_S_scl", "KPS", "SFTKPS");
}

int Compute_Ki_S_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Ki_S_scl", "KIS", "SFTKIS");
}

int Compute_IPSatS(CMC_Setup* setup)
{
    return IntegralSaturation(setup, "IPSatS", "IMAXS", "SATS");
}

int Compute_KFFA_scl(CMC_Setup* setup)
{
    CMC_Parameter *gain = nullptr, *kffa = nullptr, *sftaffw = nullptr, *sftkff = nullptr;
    if (!FindParameters(setup,
                        {{"KFFA_scl", &gain}, {"KFFA", &kffa}, {"SFTAFFW", &sftaffw}, {"SFTKFF", &sftkff}}))
        return 0;
    // The shift is split over two registers.
    return r2p::WriteInRange(gain, 0.0, 4194304.0, GainFromPair(Base(kffa), Base(sftkff) + Base(sftaffw)));
}

int Compute_TestLimitCurrent(CMC_Setup* setup)
{
    CMC_Parameter *current = nullptr, *sats = nullptr, *satp = nullptr, *acr = nullptr, *imaxps = nullptr,
                  *imaxm = nullptr;
    if (!FindParameters(setup, {{"TestLimitCurrent", &current},
                                {"SATS", &sats},
                                {"SATP", &satp},
                                {"ACR", &acr},
                                {"ImaxPS", &imaxps},
                                {"ImaxM", &imaxm}}))
        return 0;
    const CMC_Parameter* sat = RegisterBit(Base(acr), 9) ? sats : satp;
    return r2p::WriteInRange(current, 0.0, std::min(Base(imaxps), Base(imaxm)),
                             (kFull - Base(sat)) / CurrentScale(setup));
}

namespace {

// The start-up voltage "REFTST" as a current in percent of "In": the part that
// only makes up for the inverter dead time is removed, the rest divided by the
// voltage that "In" drives through the phase resistance.
int StartCurrentPercent(CMC_Setup* setup, const char* target)
{
    CMC_Parameter *percent = nullptr, *reftst = nullptr, *r = nullptr, *in = nullptr, *dsp = nullptr,
                  *pwmper = nullptr, *vdc = nullptr, *connection = nullptr;
    if (!FindParameters(setup, {{target, &percent},
                                {"REFTST", &reftst},
                                {"R", &r},
                                {"In", &in},
                                {"DSP_freq", &dsp},
                                {"PWMPER", &pwmper},
                                {"Vdc", &vdc},
                                {"MotorPhaseConnectionType", &connection}}))
        return 0;
    if (!SetParameterRange(percent, 0.0, 300.0))
        return 0;
    const double kv = VoltageCommandScale(setup);
    const double resistance = IsOne(connection) ? Base(r) / 3.0 : Base(r); // delta: a third
    const double deadTimeVoltage = Base(dsp) / (2.0 * Base(pwmper)) * DeadTime(setup) * Base(vdc) * kv;
    percent->SetValueInBaseUnit((Base(reftst) - deadTimeVoltage) * 100.0 / (kv * Base(in) * resistance));
    return 1;
}

} // namespace

int Compute_TestStartCurrent(CMC_Setup* setup)
{
    return StartCurrentPercent(setup, "TestStartCurrent");
}

int Compute_StartCurrent(CMC_Setup* setup)
{
    return StartCurrentPercent(setup, "StartCurrent");
}

int Compute_Jload_over_J(CMC_Setup* setup)
{
    CMC_Parameter *ratio = nullptr, *jt = nullptr, *jm = nullptr;
    if (!FindParameters(setup, {{"Jload_over_J", &ratio}, {"Jt", &jt}, {"Jm", &jm}}))
        return 0;
    return r2p::WriteInRange(ratio, 0.0, 100.0, Base(jt) / Base(jm) - 1.0);
}

int Compute_Kp_P_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Kp_P_scl", "KPP", "SFTKPP");
}

int Compute_Ki_P_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Ki_P_scl", "KIP", "SFTKIP");
}

int Compute_Kd_P_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Kd_P_scl", "KDP", "SFTKDP");
}

int Compute_Kp_T_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Kp_T_scl", "KPTHT", "SFTKPTHT");
}

int Compute_Ki_T_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "Ki_T_scl", "KITHT", "SFTKITHT");
}

int Compute_filter_D(CMC_Setup* setup)
{
    CMC_Parameter *fraction = nullptr, *kdfp = nullptr;
    if (!FindParameters(setup, {{"filter_D", &fraction}, {"KDFP", &kdfp}}))
        return 0;
    return r2p::WriteInRange(fraction, 0.0, 1.0, Base(kdfp) / kFull);
}

int Compute_IPSatP(CMC_Setup* setup)
{
    return IntegralSaturation(setup, "IPSatP", "IMAXP", "SATP");
}

int Compute_Limit_Speed(CMC_Setup* setup)
{
    CMC_Parameter *limit = nullptr, *type = nullptr, *mode = nullptr;
    if (!FindParameters(setup,
                        {{"Limit_Speed", &limit}, {"PositionControlType", &type}, {"ControlMode", &mode}}))
        return 0;
    // Only position control through a speed loop limits the speed.
    if (!IsOne(type) || TruncRegister(Base(mode)) != 0)
        return 1;
    CMC_Parameter *satp = nullptr, *vdc = nullptr, *k = nullptr;
    if (!FindParameters(setup, {{"SATP", &satp}, {"Vdc", &vdc}, {"K", &k}}))
        return 0;
    return r2p::WriteInRange(limit, 0.0, Base(vdc) / Base(k),
                             (kFull - Base(satp)) / std::fabs(LoadSpeedScale(setup)));
}

int Compute_TestMaxSpeed(CMC_Setup* setup)
{
    CMC_Parameter *speed = nullptr, *vdc = nullptr, *k = nullptr;
    if (!FindParameters(setup, {{"TestMaxSpeed", &speed}, {"Vdc", &vdc}, {"K", &k}}))
        return 0;
    const double noLoadSpeed = Base(vdc) / Base(k);
    return r2p::WriteInRange(speed, 0.0, noLoadSpeed, noLoadSpeed / 3.0);
}

int Compute_KFFS_scl(CMC_Setup* setup)
{
    return r2p::GainFromRegisters(setup, "KFFS_scl", "KFFS", "SFTSFFW");
}

int Compute_isOverCurrent(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isOverCurrent", "PCR", 0);
}

int Compute_Imax_Prot(CMC_Setup* setup)
{
    return PeakBoundedCurrent(setup, "Imax_Prot", "IMAXPROT", 0.001);
}

int Compute_time_Imax_Prot(CMC_Setup* setup)
{
    return SlowLoopDelay(setup, "time_Imax_Prot", "TIMAXPROT");
}

int Compute_isPositionControlError(CMC_Setup* setup)
{
    return r2p::FlagUnless(setup, "isPositionControlError", "TERRMAX", 65535.0);
}

int Compute_ERR_position(CMC_Setup* setup)
{
    return r2p::LoadBand(setup, "ERR_position", "ERRMAX", &LoadPositionScale);
}

int Compute_time_ERR_pos(CMC_Setup* setup)
{
    return SlowLoopDelay(setup, "time_ERR_pos", "TERRMAX");
}

int Compute_isSpeedControlError(CMC_Setup* setup)
{
    return r2p::FlagUnless(setup, "isSpeedControlError", "TSERRMAX", 65535.0);
}

int Compute_ERR_speed(CMC_Setup* setup)
{
    return r2p::LoadBand(setup, "ERR_speed", "SERRMAX", &LoadSpeedScale, 0.001);
}

int Compute_time_ERR_spd(CMC_Setup* setup)
{
    return SlowLoopDelay(setup, "time_ERR_spd", "TSERRMAX");
}

int Compute_isMotorOverTemp(CMC_Setup* setup)
{
    CMC_Parameter *flag = nullptr, *pcr = nullptr;
    if (!FindParameters(setup, {{"isMotorOverTemp", &flag}, {"PCR", &pcr}}))
        return 0;
    const double max = setup->GetIntOption("DisableMotorTemperature") != 0 ? 0.0 : 1.0;
    return r2p::WriteInRange(flag, 0.0, max, RegisterBit(Base(pcr), 2));
}

int Compute_isMotori2t(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isMotori2t", "PCR", 1);
}

int Compute_isBrakeResistor(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "isBrakeResistor", "OSR", 9);
}

int Compute_Vbrake(CMC_Setup* setup)
{
    CMC_Parameter *volts = nullptr, *brakelim = nullptr, *vmax = nullptr;
    if (!FindParameters(setup, {{"Vbrake", &volts}, {"BRAKELIM", &brakelim}, {"VdcMaxMeasurable", &vmax}}))
        return 0;
    return r2p::WriteInRange(volts, 1.0, Base(vmax), Base(brakelim) / DcBusVoltageScale(setup));
}

int Compute_EnablePolarity(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "EnablePolarity", "DIGIN_ACTIVE_LEVEL", 15);
}

int Compute_LSPPolarity(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "LSPPolarity", "DIGIN_ACTIVE_LEVEL", 13);
}

int Compute_LSNPolarity(CMC_Setup* setup)
{
    return r2p::FlagFromBit(setup, "LSNPolarity", "DIGIN_ACTIVE_LEVEL", 14);
}
