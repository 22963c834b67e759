#include "ScaleFactors.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "Helpers.h"

#include <array>
#include <cmath>
#include <initializer_list>
#include <string_view>

namespace {

constexpr double kThetaTestRadPerCount = 9.587672516830327e-05; // 2 pi / 65534

template <typename Names> bool IsOneOf(std::string_view name, const Names& names)
{
    for (std::string_view candidate : names)
        if (EqualsIgnoringCase(name, candidate))
            return true;
    return false;
}

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return IsOneOf<std::initializer_list<std::string_view>>(name, names);
}

// The drive writes the degree sign as one Windows-1252 byte; accept it and UTF-8.
bool IsDegreesCelsius(std::string_view unit)
{
    return EqualsIgnoringCase(unit, "\xB0"
                                    "C") ||
           EqualsIgnoringCase(unit, "\xC2\xB0"
                                    "C");
}

double Base(CMC_Setup* setup, const char* name)
{
    return setup->GetParameterValueInBaseUnit(name);
}

double AdcMax(CMC_Setup* setup)
{
    return static_cast<double>(Compute_ADCMaxValue(setup));
}

// Pole pairs as the drive counts them, from the Hall registers.
double WholePolePairs(CMC_Setup* setup)
{
    const double product = setup->GetParameterValueInInternalUnit("MECRESL") *
                           setup->GetParameterValueInInternalUnit("ENC2THL") * std::pow(2.0, -32);
    return RoundDecimalValue(product, 0);
}

double VoltsFactor(CMC_Setup* setup, std::string_view name)
{
    if (IsOneOf(name, {"AnalogueInputsRange"}))
        return 1.0;
    if (IsOneOf(name, {"DeadBand_Point", "DeadBand_Range", "AD2", "AD2FIL_VAL", "AD5"}))
        return Base(setup, "AnalogueInputsRange") / AdcMax(setup);
    return 1.0 / VoltageCommandScale(setup);
}

// Magnitudes stay positive whatever the sign of the transmission.
constexpr std::array<std::string_view, 5> kPositionMagnitudes = {"ERR_position", "FreezeControl_errband",
                                                                 "TestPosition", "POS_max", "POS_min"};
constexpr std::array<std::string_view, 6> kSpeedMagnitudes = {"ERR_speed", "Limit_Speed", "ErefMaxSpeed",
                                                              "TestSpeed", "SPD_max",     "SPD_min"};

double RadiansFactor(CMC_Setup* setup, std::string_view name)
{
    if (IsOneOf(name, {"Motor_Position", "APOS_MT"}))
        return 1.0 / MotorPositionScale(setup);
    if (IsOneOf(name, {"THTST"}))
        return kThetaTestRadPerCount;
    if (IsOneOf(name, kPositionMagnitudes))
        return 1.0 / std::fabs(LoadPositionScale(setup));
    return 1.0 / LoadPositionScale(setup);
}

double MetresFactor(CMC_Setup* setup, std::string_view name)
{
    if (IsOneOf(name, kPositionMagnitudes))
        return 1.0 / std::fabs(LoadPositionScale(setup));
    return 1.0 / LoadPositionScale(setup);
}

double RadiansPerSecondFactor(CMC_Setup* setup, std::string_view name)
{
    if (IsOneOf(name, {"Motor_Speed", "ASPD", "ASPD_MT", "TestMaxSpeed", "SPDREF", "Motor_Speed_Reference"}))
        return 1.0 / MotorSpeedScale(setup);
    if (IsOneOf(name, {"TINCTST"}))
        return kThetaTestRadPerCount / CurrentLoopPeriod(setup) / WholePolePairs(setup);
    if (IsOneOf(name, kSpeedMagnitudes))
        return 1.0 / std::fabs(LoadSpeedScale(setup));
    return 1.0 / LoadSpeedScale(setup);
}

double MetresPerSecondFactor(CMC_Setup* setup, std::string_view name)
{
    if (IsOneOf(name, kSpeedMagnitudes))
        return 1.0 / std::fabs(LoadSpeedScale(setup));
    return 1.0 / LoadSpeedScale(setup);
}

double DegreesFactor(CMC_Setup* setup)
{
    return 1.0 / (AdcMax(setup) * Base(setup, "DriveTempSensorGain") / Base(setup, "ADCrange"));
}

} // namespace

double ScaleFactorOf(CMC_Setup* setup, const char* unitName, const char* name)
{
    if (!setup || !unitName)
        return 1.0;
    const std::string_view unit = unitName;
    const std::string_view variable = name ? name : "";
    if (unit == "V " || EqualsIgnoringCase(unit, "V "))
        return 1.0 / DcBusVoltageScale(setup);
    if (EqualsIgnoringCase(unit, "V"))
        return VoltsFactor(setup, variable);
    if (EqualsIgnoringCase(unit, "A"))
        return 1.0 / CurrentScale(setup);
    if (EqualsIgnoringCase(unit, "s"))
        return IsOneOf(variable, {"Ts_C"}) ? CurrentLoopPeriod(setup) : SpeedLoopPeriod(setup);
    if (EqualsIgnoringCase(unit, "rad"))
        return RadiansFactor(setup, variable);
    if (EqualsIgnoringCase(unit, "m"))
        return MetresFactor(setup, variable);
    if (EqualsIgnoringCase(unit, "rad/s"))
        return RadiansPerSecondFactor(setup, variable);
    if (EqualsIgnoringCase(unit, "m/s"))
        return MetresPerSecondFactor(setup, variable);
    if (EqualsIgnoringCase(unit, "rad/s^2") || EqualsIgnoringCase(unit, "m/s^2"))
        return 1.0 / LoadAccelerationScale(setup);
    if (EqualsIgnoringCase(unit, "rad/s^3") || EqualsIgnoringCase(unit, "m/s^3"))
        return 1.0 / LoadJerkScale(setup);
    if (IsDegreesCelsius(unit))
        return DegreesFactor(setup);
    if (EqualsIgnoringCase(unit, "V/s"))
        return (1.0 / VoltageCommandScale(setup)) / SpeedLoopPeriod(setup);
    if (EqualsIgnoringCase(unit, "A/s"))
        return (1.0 / CurrentScale(setup)) / SpeedLoopPeriod(setup);
    return 1.0;
}

double ScaleOffsetOf(CMC_Setup* setup, const char* unitName)
{
    if (!setup || !unitName || !IsDegreesCelsius(unitName))
        return 0.0;
    return -(AdcMax(setup) * Base(setup, "DriveTempOutputAt0oC") / Base(setup, "ADCrange"));
}
