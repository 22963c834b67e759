// Register rows of the load side: software limit switches, the limits of the
// external reference and the analogue reference input.
#include "ParametersToRegisters.h"
#include "ParametersToRegistersRows.h"

#include "Helpers.h"

#include <cmath>

using namespace p2r;

namespace {

constexpr double kFullScale = 32767.0;

double AdcMax(CMC_Setup* setup)
{
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

// A limit switch position in load units [rad or m] times the signed load
// position scale. With a reversing transmission the load's negative limit is
// the drive's positive one, so the registers swap.
int LimitSwitchRow(CMC_Setup* setup, const char* forwardRegister, const char* reversedRegister,
                   const char* position)
{
    const double kp = LoadPositionScale(setup);
    CMC_Parameter *reg, *limit;
    if (!FindParameters(setup, {{kp > 0.0 ? forwardRegister : reversedRegister, &reg}, {position, &limit}}))
        return 0;
    return Write(reg, BaseOf(limit) * kp);
}

// The shift that brings the span of the analogue reference within a Q15 gain.
// The span is negative with a reversing transmission; its magnitude decides.
double AnalogueShift(double span)
{
    const double magnitude = std::fabs(span);
    return magnitude <= kFullScale ? 0.0 : std::ceil(std::log(magnitude / kFullScale) / std::log(2.0));
}

} // namespace

int Compute_SWNEGLS(CMC_Setup* setup)
{
    return LimitSwitchRow(setup, "SWNEGLS", "SWPOSLS", "Negative_SWLS");
}
int Compute_SWPOSLS(CMC_Setup* setup)
{
    return LimitSwitchRow(setup, "SWPOSLS", "SWNEGLS", "Positive_SWLS");
}

int Compute_CACC(CMC_Setup* setup)
{
    CMC_Parameter *reg, *acceleration;
    if (!FindParameters(setup, {{"CACC", &reg}, {"ErefMaxAcceleration", &acceleration}}))
        return 0;
    return Write(reg, BaseOf(acceleration) * std::fabs(LoadAccelerationScale(setup)));
}

int Compute_CSPD(CMC_Setup* setup)
{
    CMC_Parameter *reg, *speed;
    if (!FindParameters(setup, {{"CSPD", &reg}, {"ErefMaxSpeed", &speed}}))
        return 0;
    return Write(reg, BaseOf(speed) * std::fabs(LoadSpeedScale(setup)));
}

int Compute_CADIN(CMC_Setup* setup)
{
    CMC_Parameter* reg;
    if (!FindParameters(setup, {{"CADIN", &reg}}))
        return 0;
    const double span = AnalogueReferenceSpan(setup);
    return WriteInternal(reg, span / std::pow(2.0, AnalogueShift(span)));
}

int Compute_SFTADIN(CMC_Setup* setup)
{
    CMC_Parameter* reg;
    if (!FindParameters(setup, {{"SFTADIN", &reg}}))
        return 0;
    return WriteInternal(reg, AnalogueShift(AnalogueReferenceSpan(setup)));
}

int Compute_AD5OFF(CMC_Setup* setup)
{
    CMC_Parameter *reg, *mode;
    if (!FindParameters(setup, {{"AD5OFF", &reg}, {"ControlMode", &mode}}))
        return 0;
    const char* minimum = nullptr;
    switch (WholeOf(mode)) {
    case 0:
        minimum = "POS_min";
        break;
    case 1:
        minimum = "SPD_min";
        break;
    case 2:
        minimum = "CRT_min";
        break;
    default:
        return 0;
    }
    CMC_Parameter* start;
    if (!FindParameters(setup, {{minimum, &start}}))
        return 0;
    // The converter reading at the low end of the reference range.
    return WriteInternal(reg, InternalOf(start));
}

int Compute_FILTER1(CMC_Setup* setup)
{
    CMC_Parameter *reg, *on, *cutoff, *ts;
    if (!FindParameters(setup, {{"FILTER1", &reg}, {"UseFilter", &on}, {"filter", &cutoff}, {"Ts_S", &ts}}))
        return 0;
    if (BaseOf(on) == 0.0)
        return Write(reg, kFullScale);
    return Write(reg, (1.0 - std::exp(-BaseOf(cutoff) * BaseOf(ts))) * kFullScale);
}

int Compute_LEVEL_AD5(CMC_Setup* setup)
{
    CMC_Parameter *reg, *point, *range;
    if (!FindParameters(setup,
                        {{"LEVEL_AD5", &reg}, {"DeadBand_Point", &point}, {"AnalogueInputsRange", &range}}))
        return 0;
    // A +-10 V input reads 0 at -10 V.
    const double volts = WholeOf(range) == 20 ? BaseOf(point) + 10.0 : BaseOf(point);
    return Write(reg, AdcMax(setup) * volts / BaseOf(range));
}

int Compute_E_LEVEL_AD5(CMC_Setup* setup)
{
    CMC_Parameter *reg, *band, *range;
    if (!FindParameters(setup,
                        {{"E_LEVEL_AD5", &reg}, {"DeadBand_Range", &band}, {"AnalogueInputsRange", &range}}))
        return 0;
    return Write(reg, BaseOf(band) * AdcMax(setup) / BaseOf(range));
}
