// Register rows of the motor sensors, the power stage, the protections and the
// start-up procedure.
#include "ParametersToRegisters.h"
#include "ParametersToRegistersRows.h"

#include "Helpers.h"

#include <cmath>

using namespace p2r;

namespace {

constexpr double kTwoPow26 = 67108864.0;
constexpr double kTwoPow32 = 4294967296.0;

double AdcMax(CMC_Setup* setup)
{
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

// The warning limit of an i2t integrator: the level it reaches two seconds
// before its limit, over the time its scale register holds ("SFI2T" =
// Ts x 2^26 / time). Taken from the whole limit and scale registers, so it
// stays put when the time and the current are read back from them.
int WarningLimitRow(CMC_Setup* setup, const char* target, const char* scale, const char* limit)
{
    CMC_Parameter *reg, *ts, *sf, *lim;
    if (!FindParameters(setup, {{target, &reg}, {"Ts_S", &ts}, {scale, &sf}, {limit, &lim}}))
        return 0;
    return Write(reg, (1.0 - 2.0 * BaseOf(sf) / (BaseOf(ts) * kTwoPow26)) * BaseOf(lim));
}

// Register = value / "Ts_S": a time counted in speed-loop periods.
int SpeedLoopCountRow(CMC_Setup* setup, const char* target, const char* time)
{
    CMC_Parameter *reg, *t, *ts;
    if (!FindParameters(setup, {{target, &reg}, {time, &t}, {"Ts_S", &ts}}))
        return 0;
    return Write(reg, BaseOf(t) / BaseOf(ts));
}

// Register = value / "Ts_S" while the protection is on, else 65535 (never trips).
int ErrorTimeRow(CMC_Setup* setup, const char* target, const char* time, const char* enabled)
{
    CMC_Parameter *reg, *t, *on, *ts;
    if (!FindParameters(setup, {{target, &reg}, {time, &t}, {enabled, &on}, {"Ts_S", &ts}}))
        return 0;
    return Write(reg, IsOne(on) ? BaseOf(t) / BaseOf(ts) : 65535.0);
}

// The time base of "T1ONA"/"T1ONB": 1/100 s per count when bit 9 of "UPGRADE" is set, else 1/65535 s.
int StartTimeRow(CMC_Setup* setup, const char* target)
{
    CMC_Parameter *reg, *time, *upgrade;
    if (!FindParameters(setup, {{target, &reg}, {"time_AB", &time}, {"UPGRADE", &upgrade}}))
        return 0;
    const double countsPerSecond = RegisterBit(BaseOf(upgrade), 9) ? 100.0 : 65535.0;
    return Write(reg, BaseOf(time) * countsPerSecond);
}

// The voltage reference of the start-up procedure: "StartCurrent" percent of
// "In" through the phase resistance, plus what compensates the dead time.
int StartVoltageRow(CMC_Setup* setup, const char* target)
{
    CMC_Parameter *reg, *start, *in, *r, *connection, *pwm, *vdc;
    if (!FindParameters(setup, {{target, &reg},
                                {"StartCurrent", &start},
                                {"In", &in},
                                {"R", &r},
                                {"MotorPhaseConnectionType", &connection},
                                {"PWM_freq", &pwm},
                                {"Vdc", &vdc}}))
        return 0;
    const double phaseR = BaseOf(connection) == 1.0 ? BaseOf(r) / 3.0 : BaseOf(r); // delta: a third
    const double kv = VoltageCommandScale(setup);
    const double value = kv * (BaseOf(start) * (BaseOf(in) * phaseR)) / 100.0 +
                         BaseOf(pwm) * DeadTime(setup) * BaseOf(vdc) * kv;
    return Write(reg, value);
}

} // namespace

int Compute_MECRESL(CMC_Setup* setup)
{
    CMC_Parameter *reg, *resolution;
    if (!FindParameters(setup, {{"MECRESL", &reg}, {"Resolution", &resolution}}))
        return 0;
    return Write(reg, BaseOf(resolution));
}

int Compute_ENC2THL(CMC_Setup* setup)
{
    CMC_Parameter *reg, *pp, *resolution;
    if (!FindParameters(setup, {{"ENC2THL", &reg}, {"pp", &pp}, {"Resolution", &resolution}}))
        return 0;
    return Write(reg, BaseOf(pp) * kTwoPow32 / BaseOf(resolution));
}

int Compute_DBTTH(CMC_Setup* setup)
{
    CMC_Parameter *reg, *resolution, *pp;
    if (!FindParameters(setup, {{"DBTTH", &reg}, {"Resolution", &resolution}, {"pp", &pp}}))
        return 0;
    return Write(reg, 16.0 - std::log(BaseOf(resolution) / BaseOf(pp)) / std::log(2.0));
}

int Compute_PWMPER(CMC_Setup* setup)
{
    CMC_Parameter *reg, *dsp, *pwm;
    if (!FindParameters(setup, {{"PWMPER", &reg}, {"DSP_freq", &dsp}, {"PWM_freq", &pwm}}))
        return 0;
    return Write(reg, BaseOf(dsp) * 0.5 / BaseOf(pwm));
}

int Compute_AD4OFF(CMC_Setup* setup)
{
    CMC_Parameter *reg, *dsp, *pwm;
    if (!FindParameters(setup, {{"AD4OFF", &reg}, {"DSP_freq", &dsp}, {"PWM_freq", &pwm}}))
        return 0;
    return Write(reg, BaseOf(dsp) * 0.25 / BaseOf(pwm));
}

int Compute_CVDC(CMC_Setup* setup)
{
    CMC_Parameter *reg, *dsp, *pwm;
    if (!FindParameters(setup, {{"CVDC", &reg}, {"DSP_freq", &dsp}, {"PWM_freq", &pwm}}))
        return 0;
    return Write(reg, BaseOf(dsp) * 0.25 / BaseOf(pwm));
}

int Compute_T2MAXPROT(CMC_Setup* setup)
{
    CMC_Parameter *reg, *at0, *gain, *temp, *range;
    if (!FindParameters(setup, {{"T2MAXPROT", &reg},
                                {"DriveTempOutputAt0oC", &at0},
                                {"DriveTempSensorGain", &gain},
                                {"Temp_2", &temp},
                                {"ADCrange", &range}}))
        return 0;
    return Write(reg, AdcMax(setup) * (BaseOf(at0) + BaseOf(gain) * BaseOf(temp)) / BaseOf(range));
}

int Compute_UMAXPROT(CMC_Setup* setup)
{
    CMC_Parameter *reg, *volts;
    if (!FindParameters(setup, {{"UMAXPROT", &reg}, {"UMAX_PROT", &volts}}))
        return 0;
    return Write(reg, TruncSettled(BaseOf(volts) * DcBusVoltageScale(setup), 65535.0));
}

int Compute_UMINPROT(CMC_Setup* setup)
{
    CMC_Parameter *reg, *volts;
    if (!FindParameters(setup, {{"UMINPROT", &reg}, {"UMIN_PROT", &volts}}))
        return 0;
    return Write(reg, BaseOf(volts) * DcBusVoltageScale(setup));
}

int Compute_II2TPROT_D(CMC_Setup* setup)
{
    CMC_Parameter *reg, *in;
    if (!FindParameters(setup, {{"II2TPROT_D", &reg}, {"InPS", &in}}))
        return 0;
    return WriteInternal(reg, BaseOf(in) * CurrentScale(setup));
}

int Compute_SFI2T_D(CMC_Setup* setup)
{
    CMC_Parameter *reg, *ts, *t;
    if (!FindParameters(setup, {{"SFI2T_D", &reg}, {"Ts_S", &ts}, {"t_I2t_D", &t}}))
        return 0;
    return Write(reg, BaseOf(ts) * kTwoPow26 / BaseOf(t));
}

int Compute_I2TINTLIM_D(CMC_Setup* setup)
{
    CMC_Parameter *reg, *i, *in;
    if (!FindParameters(setup, {{"I2TINTLIM_D", &reg}, {"I_I2t_D", &i}, {"InPS", &in}}))
        return 0;
    const double ki = CurrentScale(setup);
    const double excess = BaseOf(i) * BaseOf(i) - BaseOf(in) * BaseOf(in); // [A^2]
    return Write(reg, ki * excess * ki * kTwoPow26 / kQ15 / kQ15);
}

int Compute_II2TWARLIM_D(CMC_Setup* setup)
{
    return WarningLimitRow(setup, "II2TWARLIM_D", "SFI2T_D", "I2TINTLIM_D");
}

int Compute_SATPWM(CMC_Setup* setup)
{
    CMC_Parameter *reg, *pwm, *measurement;
    if (!FindParameters(setup,
                        {{"SATPWM", &reg}, {"PWM_freq", &pwm}, {"CurrentMeasurementType", &measurement}}))
        return 0;
    return Write(reg, BaseOf(measurement) != 0.0 ? BaseOf(pwm) * 0.13107 : 0.0);
}

int Compute_MTSTYPE(CMC_Setup* setup)
{
    CMC_Parameter *reg, *type;
    if (!FindParameters(setup, {{"MTSTYPE", &reg}, {"Motor_TempSensor_Type", &type}}))
        return 0;
    return Write(reg, IsOne(type) ? 1.0 : 0.0);
}

int Compute_AAR_table(CMC_Setup* setup)
{
    CMC_Parameter *reg, *axis;
    if (!FindParameters(setup, {{"AAR_table", &reg}, {"Axis_ID_list", &axis}}))
        return 0;
    return Write(reg, WholeOf(axis) != 0 ? BaseOf(axis) + 256.0 : 0.0);
}

int Compute_IMAXPROT(CMC_Setup* setup)
{
    CMC_Parameter *reg, *current;
    if (!FindParameters(setup, {{"IMAXPROT", &reg}, {"Imax_Prot", &current}}))
        return 0;
    return Write(reg, BaseOf(current) * CurrentScale(setup));
}

int Compute_TIMAXPROT(CMC_Setup* setup)
{
    return SpeedLoopCountRow(setup, "TIMAXPROT", "time_Imax_Prot");
}

int Compute_ERRMAX(CMC_Setup* setup)
{
    CMC_Parameter *reg, *error;
    if (!FindParameters(setup, {{"ERRMAX", &reg}, {"ERR_position", &error}}))
        return 0;
    return Write(reg, BaseOf(error) * std::fabs(LoadPositionScale(setup)));
}

int Compute_TERRMAX(CMC_Setup* setup)
{
    return ErrorTimeRow(setup, "TERRMAX", "time_ERR_pos", "isPositionControlError");
}

int Compute_SERRMAX(CMC_Setup* setup)
{
    CMC_Parameter *reg, *error;
    if (!FindParameters(setup, {{"SERRMAX", &reg}, {"ERR_speed", &error}}))
        return 0;
    return Write(reg, BaseOf(error) * std::fabs(LoadSpeedScale(setup)));
}

int Compute_TSERRMAX(CMC_Setup* setup)
{
    return ErrorTimeRow(setup, "TSERRMAX", "time_ERR_spd", "isSpeedControlError");
}

int Compute_T1MAXPROT(CMC_Setup* setup)
{
    CMC_Parameter* reg;
    if (!FindParameters(setup, {{"T1MAXPROT", &reg}}))
        return 0;
    return Write(reg, 32767.0);
}

int Compute_II2TPROT_M(CMC_Setup* setup)
{
    CMC_Parameter *reg, *in;
    if (!FindParameters(setup, {{"II2TPROT_M", &reg}, {"In", &in}}))
        return 0;
    return Write(reg, BaseOf(in) * CurrentScale(setup));
}

int Compute_SFI2T_M(CMC_Setup* setup)
{
    CMC_Parameter *reg, *ts, *t;
    if (!FindParameters(setup, {{"SFI2T_M", &reg}, {"Ts_S", &ts}, {"t_I2t_M", &t}}))
        return 0;
    return Write(reg, BaseOf(ts) * kTwoPow26 / BaseOf(t));
}

int Compute_I2TINTLIM_M(CMC_Setup* setup)
{
    CMC_Parameter *reg, *i, *in;
    if (!FindParameters(setup, {{"I2TINTLIM_M", &reg}, {"I_I2t_M", &i}, {"In", &in}}))
        return 0;
    const double ki = CurrentScale(setup);
    return Write(reg, (BaseOf(i) * BaseOf(i) - BaseOf(in) * BaseOf(in)) * ki * ki * 0.0625);
}

int Compute_I2TWARLIM_M(CMC_Setup* setup)
{
    return WarningLimitRow(setup, "I2TWARLIM_M", "SFI2T_M", "I2TINTLIM_M");
}

int Compute_GEAR(CMC_Setup* setup)
{
    CMC_Parameter *reg, *slave, *master;
    if (!FindParameters(setup, {{"GEAR", &reg}, {"GEARSLAVE", &slave}, {"GEARMASTER", &master}}))
        return 0;
    return Write(reg, BaseOf(slave) / BaseOf(master));
}

int Compute_T1ONA(CMC_Setup* setup)
{
    return StartTimeRow(setup, "T1ONA");
}
int Compute_T1ONB(CMC_Setup* setup)
{
    return StartTimeRow(setup, "T1ONB");
}
int Compute_REFTST(CMC_Setup* setup)
{
    return StartVoltageRow(setup, "REFTST");
}
int Compute_RINCTST(CMC_Setup* setup)
{
    return StartVoltageRow(setup, "RINCTST");
}

int Compute_BRAKELIM(CMC_Setup* setup)
{
    CMC_Parameter *reg, *volts;
    if (!FindParameters(setup, {{"BRAKELIM", &reg}, {"Vbrake", &volts}}))
        return 0;
    return Write(reg, BaseOf(volts) * DcBusVoltageScale(setup));
}

int Compute_BRAKEAPPLYDELAY(CMC_Setup* setup)
{
    return SpeedLoopCountRow(setup, "BRAKEAPPLYDELAY", "MotorBrake_applytime");
}

int Compute_BRAKERELEASEDELAY(CMC_Setup* setup)
{
    return SpeedLoopCountRow(setup, "BRAKERELEASEDELAY", "MotorBrake_releasetime");
}

int Compute_POSOKLIM_FC(CMC_Setup* setup)
{
    CMC_Parameter *reg, *band;
    if (!FindParameters(setup, {{"POSOKLIM_FC", &reg}, {"FreezeControl_errband", &band}}))
        return 0;
    return Write(reg, BaseOf(band) * std::fabs(LoadPositionScale(setup)));
}

int Compute_TONPOSOK_FC(CMC_Setup* setup)
{
    return SpeedLoopCountRow(setup, "TONPOSOK_FC", "FreezeControl_time");
}

int Compute_TRANSMISSION(CMC_Setup* setup)
{
    CMC_Parameter *reg, *motor, *load;
    if (!FindParameters(
            setup, {{"TRANSMISSION", &reg}, {"Motor_transmission", &motor}, {"Load_transmission", &load}}))
        return 0;
    return Write(reg, BaseOf(motor) / BaseOf(load) < 0.0 ? -1.0 : 1.0);
}

int Compute_ABSTART_MINMOVE(CMC_Setup* setup)
{
    CMC_Parameter *reg, *resolution, *pp;
    if (!FindParameters(setup, {{"ABSTART_MINMOVE", &reg}, {"Resolution", &resolution}, {"pp", &pp}}))
        return 0;
    // A third of an electrical period, in position increments, times the percentage.
    return Write(reg, BaseOf(resolution) / BaseOf(pp) / 3.0 * StartMinimumMovePercent(setup) / 100.0);
}
