// Register rows of the control loops: the fixed-point gain pairs, the
// saturations, the current controller's output filter and the feed-forwards.
#include "ParametersToRegisters.h"
#include "ParametersToRegistersRows.h"

#include <algorithm>
#include <cmath>

using namespace p2r;

namespace {

constexpr double kFullScale = 32767.0;

// The shift of a gain pair, from the gain (never from the other register).
int ShiftRow(CMC_Setup* setup, const char* shift, const char* gain)
{
    CMC_Parameter *reg, *g;
    if (!FindParameters(setup, {{shift, &reg}, {gain, &g}}))
        return 0;
    return Write(reg, ShiftOfGain(BaseOf(g)));
}

// The Q15 mantissa of a gain pair.
int MantissaRow(CMC_Setup* setup, const char* mantissa, const char* gain)
{
    CMC_Parameter *reg, *g;
    if (!FindParameters(setup, {{mantissa, &reg}, {gain, &g}}))
        return 0;
    return Write(reg, MantissaOfGain(BaseOf(g)));
}

// The d and q voltage saturations follow the PWM saturation.
int CopySaturationRow(CMC_Setup* setup, const char* target)
{
    CMC_Parameter *reg, *pwm;
    if (!FindParameters(setup, {{target, &reg}, {"SATPWM", &pwm}}))
        return 0;
    return Write(reg, BaseOf(pwm));
}

// The current limit of the speed or position controller, as the drive holds
// it: 32767 less the limit in internal units (range 0 to 32767 first).
int SaturationRow(CMC_Parameter* reg, double limitInternal)
{
    if (!SetParameterRange(reg, 0.0, kFullScale))
        return 0;
    return Write(reg, kFullScale - limitInternal);
}

} // namespace

int Compute_SFTKPI(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKPI", "Kp_C_scl");
}
int Compute_KPI(CMC_Setup* setup)
{
    return MantissaRow(setup, "KPI", "Kp_C_scl");
}
int Compute_SFTKII(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKII", "Ki_C_scl");
}
int Compute_KII(CMC_Setup* setup)
{
    return MantissaRow(setup, "KII", "Ki_C_scl");
}

int Compute_SATID(CMC_Setup* setup)
{
    return CopySaturationRow(setup, "SATID");
}
int Compute_SATIQ(CMC_Setup* setup)
{
    return CopySaturationRow(setup, "SATIQ");
}

int Compute_FILTERQ(CMC_Setup* setup)
{
    CMC_Parameter *reg, *on, *cutoff;
    if (!FindParameters(setup, {{"FILTERQ", &reg},
                                {"isUseFilterOnCrtCtrlOutput", &on},
                                {"FilterOnCurrentControllerOutput", &cutoff}}))
        return 0;
    if (BaseOf(on) == 0.0)
        return Write(reg, kFullScale); // 32767 lets the controller output through unfiltered
    // First-order low pass at the cut-off [rad/s], sampled at the current loop period.
    const double q = (1.0 - std::exp(-BaseOf(cutoff) * CurrentLoopPeriod(setup))) * kFullScale;
    return Write(reg, TruncSettled(q, kFullScale));
}

int Compute_FFL(CMC_Setup* setup)
{
    CMC_Parameter *reg, *offset, *on;
    if (!FindParameters(setup,
                        {{"FFL", &reg}, {"OffsetCurrent", &offset}, {"isCompensateGravitationalLoads", &on}}))
        return 0;
    return Write(reg, WholeOf(on) != 0 ? BaseOf(offset) * CurrentScale(setup) : 0.0);
}

int Compute_SFTKPS(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKPS", "Kp_S_scl");
}
int Compute_KPS(CMC_Setup* setup)
{
    return MantissaRow(setup, "KPS", "Kp_S_scl");
}
int Compute_SFTKIS(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKIS", "Ki_S_scl");
}
int Compute_KIS(CMC_Setup* setup)
{
    return MantissaRow(setup, "KIS", "Ki_S_scl");
}

int Compute_IMAXS(CMC_Setup* setup)
{
    CMC_Parameter *reg, *percent, *limit;
    if (!FindParameters(setup, {{"IMAXS", &reg}, {"IPSatS", &percent}, {"IlimPS", &limit}}))
        return 0;
    return SaturationRow(reg, BaseOf(percent) / 100.0 * BaseOf(limit) * CurrentScale(setup));
}

int Compute_SATS(CMC_Setup* setup)
{
    CMC_Parameter *reg, *limit;
    if (!FindParameters(setup, {{"SATS", &reg}, {"IlimPS", &limit}}))
        return 0;
    return SaturationRow(reg, BaseOf(limit) * CurrentScale(setup));
}

int Compute_SFTKPP(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKPP", "Kp_P_scl");
}
int Compute_KPP(CMC_Setup* setup)
{
    return MantissaRow(setup, "KPP", "Kp_P_scl");
}
int Compute_SFTKIP(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKIP", "Ki_P_scl");
}
int Compute_KIP(CMC_Setup* setup)
{
    return MantissaRow(setup, "KIP", "Ki_P_scl");
}
int Compute_SFTKDP(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKDP", "Kd_P_scl");
}
int Compute_KDP(CMC_Setup* setup)
{
    return MantissaRow(setup, "KDP", "Kd_P_scl");
}

int Compute_KDFP(CMC_Setup* setup)
{
    CMC_Parameter *reg, *fraction;
    if (!FindParameters(setup, {{"KDFP", &reg}, {"filter_D", &fraction}}))
        return 0;
    return Write(reg, BaseOf(fraction) * kFullScale);
}

int Compute_SFTKPTHT(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKPTHT", "Kp_T_scl");
}
int Compute_KPTHT(CMC_Setup* setup)
{
    return MantissaRow(setup, "KPTHT", "Kp_T_scl");
}
int Compute_SFTKITHT(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTKITHT", "Ki_T_scl");
}
int Compute_KITHT(CMC_Setup* setup)
{
    return MantissaRow(setup, "KITHT", "Ki_T_scl");
}

int Compute_IMAXP(CMC_Setup* setup)
{
    CMC_Parameter *reg, *positionType, *mode, *speedLimit, *percent, *currentLimit;
    if (!FindParameters(setup, {{"IMAXP", &reg},
                                {"PositionControlType", &positionType},
                                {"ControlMode", &mode},
                                {"Limit_Speed", &speedLimit},
                                {"IPSatP", &percent},
                                {"IlimPS", &currentLimit}}))
        return 0;
    // The position controller's output is a speed reference when a speed loop
    // runs inside it, else a current reference.
    const double fraction = BaseOf(percent) / 100.0;
    const double limit = IsCascadedPosition(positionType, mode)
                             ? BaseOf(speedLimit) * fraction * std::fabs(LoadSpeedScale(setup))
                             : BaseOf(currentLimit) * fraction * std::fabs(CurrentScale(setup));
    return SaturationRow(reg, limit);
}

int Compute_SATP(CMC_Setup* setup)
{
    CMC_Parameter *reg, *positionType, *mode, *speedLimit, *currentLimit;
    if (!FindParameters(setup, {{"SATP", &reg},
                                {"PositionControlType", &positionType},
                                {"ControlMode", &mode},
                                {"Limit_Speed", &speedLimit},
                                {"IlimPS", &currentLimit}}))
        return 0;
    const CMC_Parameter* limit = IsCascadedPosition(positionType, mode) ? speedLimit : currentLimit;
    return SaturationRow(reg, InternalOf(limit));
}

int Compute_SFTSFFW(CMC_Setup* setup)
{
    return ShiftRow(setup, "SFTSFFW", "KFFS_scl");
}
int Compute_KFFS(CMC_Setup* setup)
{
    return MantissaRow(setup, "KFFS", "KFFS_scl");
}

// The acceleration feed-forward shifts by up to 11 in "SFTAFFW" and by the rest in "SFTKFF".
int Compute_SFTAFFW(CMC_Setup* setup)
{
    CMC_Parameter *reg, *gain;
    if (!FindParameters(setup, {{"SFTAFFW", &reg}, {"KFFA_scl", &gain}}))
        return 0;
    return Write(reg, std::min(FeedForwardShift(setup), 11.0));
}

int Compute_SFTKFF(CMC_Setup* setup)
{
    CMC_Parameter *reg, *gain;
    if (!FindParameters(setup, {{"SFTKFF", &reg}, {"KFFA_scl", &gain}}))
        return 0;
    const double f = FeedForwardShift(setup);
    return Write(reg, f > 11.0 ? f - 11.0 : 0.0);
}

int Compute_KFFA(CMC_Setup* setup)
{
    CMC_Parameter *reg, *gain;
    if (!FindParameters(setup, {{"KFFA", &reg}, {"KFFA_scl", &gain}}))
        return 0;
    return Write(reg, BaseOf(gain) * kFullScale / std::pow(2.0, FeedForwardShift(setup)));
}
