#include "EngineCore.h"

#include "Errors.h"
#include "Helpers.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

bool FindParameters(CMC_Setup* setup,
                    std::initializer_list<std::pair<std::string_view, CMC_Parameter**>> lookups)
{
    for (const auto& [name, out] : lookups) {
        *out = setup->FindParameter(name);
        if (!*out)
            return false;
    }
    return true;
}

CMC_Parameter* FindQuietly(const CMC_Setup* setup, const char* name)
{
    QuietLookup quiet;
    return setup->FindParameter(name);
}

bool ExistsQuietly(const CMC_Setup* setup, const char* name)
{
    return FindQuietly(setup, name) != nullptr;
}

int SetParameterRange(CMC_Parameter* parameter, double min, double max)
{
    if (min > max)
        return 0;
    if (parameter->GetMaxInBaseUnit() < parameter->GetMinInBaseUnit())
        parameter->SetMaxInBaseUnit(parameter->GetMinInBaseUnit());
    if (min > parameter->GetMaxInBaseUnit()) {
        parameter->SetMaxInBaseUnit(max);
        parameter->SetMinInBaseUnit(min);
    } else {
        parameter->SetMinInBaseUnit(min);
        parameter->SetMaxInBaseUnit(max);
    }
    return 1;
}

double GainFromPair(double mantissa, double shift)
{
    return mantissa * std::pow(2.0, shift) / kQ15;
}

double ShiftOfGain(double gain)
{
    return gain <= 1.0 ? 0.0 : std::ceil(std::log(gain) / std::log(2.0));
}

double MantissaOfGain(double gain)
{
    return gain * kQ15 / std::pow(2.0, std::min(ShiftOfGain(gain), kMaxGainShift));
}

std::int64_t TruncRegister(double value)
{
    if (!std::isfinite(value))
        return 0;
    if (value >= 9.2e18 || value <= -9.2e18)
        return 0;
    return static_cast<std::int64_t>(value);
}

int RegisterBit(double value, int bit)
{
    return static_cast<int>((TruncRegister(value) >> bit) & 1);
}

std::int64_t WithBit(std::int64_t value, int bit, bool set)
{
    const std::int64_t mask = std::int64_t{1} << bit;
    return set ? (value | mask) : (value & ~mask);
}

namespace {

double Base(CMC_Setup* setup, const char* name)
{
    return setup->GetParameterValueInBaseUnit(name);
}

constexpr double kTwoPi = 2.0 * std::numbers::pi;

} // namespace

double CurrentLoopPeriod(CMC_Setup* setup)
{
    return 2.0 * Base(setup, "CLPER") * Base(setup, "PWMPER") / Base(setup, "DSP_freq");
}

double SpeedLoopPeriod(CMC_Setup* setup)
{
    return 2.0 * Base(setup, "SLPER") * Base(setup, "PWMPER") / Base(setup, "DSP_freq");
}

double DeadTime(CMC_Setup* setup)
{
    const CMC_Parameter* dbt = FindQuietly(setup, "DBT");
    const CMC_Parameter* dbtpc = FindQuietly(setup, "DBTPC");
    if (!dbt)
        return 0.0;
    const std::int64_t value = TruncRegister(dbt->GetValueInBaseUnit());
    if (value == 0)
        return 1e-6;
    const std::int64_t low = value & 0xFF;
    const std::int64_t high = (value >> 8) & 0xFF;
    const double d = static_cast<double>(low > high ? low : high);
    const double p = dbtpc ? dbtpc->GetValueInBaseUnit() / 100.0 : 0.5;
    return d * p / Base(setup, "DSP_freq");
}

double VoltageCommandScale(CMC_Setup* setup)
{
    return 65534.0 / (Base(setup, "Vdc") * 1.1);
}

double DcBusVoltageScale(CMC_Setup* setup)
{
    return static_cast<double>(Compute_ADCMaxValue(setup)) / Base(setup, "VdcMaxMeasurable");
}

double CurrentScale(CMC_Setup* setup)
{
    return static_cast<double>(Compute_ADCMaxValue(setup)) / (2.0 * Base(setup, "ImaxPS"));
}

double MotorPositionScale(CMC_Setup* setup)
{
    return Base(setup, "MECRESL") / kTwoPi;
}

double TransmissionRatio(CMC_Setup* setup)
{
    return Base(setup, "Motor_transmission") / Base(setup, "Load_transmission");
}

double LoadPositionScale(CMC_Setup* setup)
{
    return TransmissionRatio(setup) * (Base(setup, "MECRESL") / kTwoPi);
}

double MotorSpeedScale(CMC_Setup* setup)
{
    return SpeedLoopPeriod(setup) * Base(setup, "MECRESL") / kTwoPi;
}

double LoadSpeedScale(CMC_Setup* setup)
{
    return SpeedLoopPeriod(setup) * Base(setup, "MECRESL") / kTwoPi * TransmissionRatio(setup);
}

double LoadAccelerationScale(CMC_Setup* setup)
{
    const double ts = SpeedLoopPeriod(setup);
    return ts * ts * Base(setup, "MECRESL") / kTwoPi * TransmissionRatio(setup);
}

double LoadJerkScale(CMC_Setup* setup)
{
    const double ts = SpeedLoopPeriod(setup);
    return ts * ts * ts * Base(setup, "MECRESL") / kTwoPi * TransmissionRatio(setup);
}

namespace {

bool AllExist(CMC_Setup* setup, std::initializer_list<const char*> names)
{
    QuietLookup quiet;
    bool all = true;
    for (const char* name : names)
        all = setup->FindParameter(name) != nullptr && all;
    return all;
}

double ValueOr(CMC_Setup* setup, const char* name, double fallback)
{
    const CMC_Parameter* p = FindQuietly(setup, name);
    return p ? p->GetValueInBaseUnit() : fallback;
}

} // namespace

bool HasAnalogueInput(CMC_Setup* setup)
{
    bool variable = false;
    {
        QuietLookup quiet;
        variable = setup->FindVariable("CADIN", 1) != nullptr;
    }
    return variable && AllExist(setup, {"CADIN"});
}

bool HasThetaController(CMC_Setup* setup)
{
    return AllExist(setup, {"KPTHT"});
}
bool HasSoftwareLimitSwitches(CMC_Setup* setup)
{
    return AllExist(setup, {"isSWLS"});
}
bool HasSpeedEstimatorOption(CMC_Setup* setup)
{
    return AllExist(setup, {"isSpeedEstimator"});
}
bool HasCommunicationSaveOptions(CMC_Setup* setup)
{
    return AllExist(setup, {"save_CAN_baudrate", "save_axis_id"});
}
bool HasGravityCompensation(CMC_Setup* setup)
{
    return AllExist(setup, {"FFL", "OffsetCurrent", "isCompensateGravitationalLoads"});
}
bool HasMotorBrake(CMC_Setup* setup)
{
    return AllExist(setup, {"BRAKECFG", "isMotorBrake"});
}
bool HasFreezeControl(CMC_Setup* setup)
{
    return AllExist(setup, {"POSOKLIM_FC", "TONPOSOK_FC"});
}
bool HasInputsPolarityType(CMC_Setup* setup)
{
    return AllExist(setup, {"InputsPolarityType"});
}
bool HasTransmissionSign(CMC_Setup* setup)
{
    return AllExist(setup, {"TRANSMISSION"});
}
bool HasBiquadFilters(CMC_Setup* setup)
{
    return AllExist(setup, {"IQREF_BQ_INI"});
}
bool HasSpeedTestReferenceType(CMC_Setup* setup)
{
    return AllExist(setup, {"SpeedTestReferenceType"});
}
bool HasStartMinimumMove(CMC_Setup* setup)
{
    return AllExist(setup, {"ABSTART_MINMOVE"});
}
bool HasI2tWarningLimits(CMC_Setup* setup)
{
    return AllExist(setup, {"II2TWARLIM_D", "I2TWARLIM_M"});
}
bool HasSpeedForward(CMC_Setup* setup)
{
    return AllExist(setup, {"SpeedForward"});
}

double StartMinimumMovePercent(CMC_Setup* setup)
{
    return ValueOr(setup, "ABSTART_MINMOVE_PERCENT", 60.0);
}
double MinimumCurrentLoopPeriod(CMC_Setup* setup)
{
    return ValueOr(setup, "Ts_C_min", 0.0);
}
double MinimumSpeedLoopPeriod(CMC_Setup* setup)
{
    return ValueOr(setup, "Ts_S_min", 0.0);
}

bool HasNegativeTransmission(CMC_Setup* setup)
{
    return setup->GetIntOption("hasNegTransmission") == 1;
}
bool HideEnablePolarity(CMC_Setup* setup)
{
    return setup->GetIntOption("hideEnablePolarity") == 1;
}
bool IsNewDeadBand(CMC_Setup* setup)
{
    return setup->GetIntOption("NewDeadBand") == 1;
}

int InputsTypeProgrammable(CMC_Setup* setup)
{
    if (setup->GetOptionNoError("IsInputsTypeProgrammable").empty())
        return -1;
    return setup->GetIntOption("IsInputsTypeProgrammable");
}
