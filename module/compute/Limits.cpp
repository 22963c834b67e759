#include "Limits.h"

#include "EngineCore.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>

namespace {

double Base(CMC_Setup* setup, const char* name)
{
    return setup->GetParameterValueInBaseUnit(name);
}

// Largest magnitudes that 16-bit drive words hold.
constexpr double kMaxWord = 32767.0;
constexpr double kMaxCount = 65535.0;

// A range to set; an absent minimum stays as it is.
struct Bounds {
    std::optional<double> min;
    double max;
};

// Minimum first, and even when it exceeds the maximum.
void Apply(CMC_Parameter* parameter, const Bounds& bounds)
{
    if (bounds.min)
        parameter->SetMinInBaseUnit(*bounds.min);
    parameter->SetMaxInBaseUnit(bounds.max);
}

// Looks up the target before reading any source, so that a missing target
// skips the row without touching anything else.
template <typename ComputeBounds> int LimitOne(CMC_Setup* setup, const char* target, ComputeBounds bounds)
{
    CMC_Parameter* parameter = setup->FindParameter(target);
    if (!parameter)
        return 0;
    Apply(parameter, bounds());
    return 1;
}

// One range for several parameters; a missing one is skipped, the others set.
// Returns 1 when every one was there.
template <typename ComputeBounds>
int LimitEach(CMC_Setup* setup, std::initializer_list<const char*> targets, ComputeBounds bounds)
{
    std::optional<Bounds> computed;
    int all = 1;
    for (const char* target : targets) {
        CMC_Parameter* parameter = setup->FindParameter(target);
        if (!parameter) {
            all = 0;
            continue;
        }
        if (!computed)
            computed = bounds();
        Apply(parameter, *computed);
    }
    return all;
}

// Profile times count speed-loop samples in a 16-bit word.
int LimitProfileTimes(CMC_Setup* setup, std::initializer_list<const char*> targets, double minSamples)
{
    return LimitEach(setup, targets, [setup, minSamples] {
        const double ts = SpeedLoopPeriod(setup);
        return Bounds{minSamples * ts, kMaxCount * ts};
    });
}

// Full-scale load position [rad or m] and speed [rad/s or m/s] of a 16-bit
// command, whatever the sign of the transmission.
double MaxLoadPosition(CMC_Setup* setup)
{
    return kMaxWord / std::abs(LoadPositionScale(setup));
}

double MaxLoadSpeed(CMC_Setup* setup)
{
    return kMaxWord / std::abs(LoadSpeedScale(setup));
}

// Full-scale current command [A].
double MaxCurrentCommand(CMC_Setup* setup)
{
    return kMaxWord / CurrentScale(setup);
}

// The smaller of the motor's and the drive's peak current [A].
double PeakCurrent(CMC_Setup* setup)
{
    return std::min(Base(setup, "ImaxM"), Base(setup, "ImaxPS"));
}

struct LimitRow {
    bool (*condition)(CMC_Setup*); // null: always
    int (*apply)(CMC_Setup*);
};

constexpr LimitRow kLimitRows[] = {
    {nullptr, &Limit_ERR_speed},
    {nullptr, &Limit_ERR_position},
    {nullptr, &Limit_time_ERR_spd},
    {nullptr, &Limit_time_ERR_pos},
    {nullptr, &Limit_PB_C},
    {nullptr, &Limit_PB_S},
    {nullptr, &Limit_PB_P},
    {nullptr, &Limit_PositionProfileTimes},
    {nullptr, &Limit_PositionAccelerationTimes},
    {nullptr, &Limit_SpeedProfileTimes},
    {nullptr, &Limit_TestPosition},
    {nullptr, &Limit_TestSpeed},
    {&HasThetaController, &Limit_MAX_CURRENT},
    {&HasAnalogueInput, &Limit_filter},
    {&HasAnalogueInput, &Limit_DeadBand_Point},
    {&HasAnalogueInput, &Limit_DeadBand_Range},
    {&HasAnalogueInput, &Limit_POS_max},
    {&HasAnalogueInput, &Limit_POS_min},
    {&HasAnalogueInput, &Limit_SPD_max},
    {&HasAnalogueInput, &Limit_SPD_min},
    {&HasAnalogueInput, &Limit_CRT_max},
    {&HasAnalogueInput, &Limit_CRT_min},
    {&HasBiquadFilters, &Limit_BiquadFrequencies},
};

} // namespace

void ComputeParameterLimits(CMC_Setup* setup)
{
    for (const LimitRow& row : kLimitRows)
        if (!row.condition || row.condition(setup))
            row.apply(setup);
}

int Limit_ERR_speed(CMC_Setup* setup)
{
    return LimitOne(setup, "ERR_speed", [setup] { return Bounds{std::nullopt, MaxLoadSpeed(setup)}; });
}

int Limit_ERR_position(CMC_Setup* setup)
{
    return LimitOne(setup, "ERR_position", [setup] { return Bounds{std::nullopt, MaxLoadPosition(setup)}; });
}

int Limit_time_ERR_spd(CMC_Setup* setup)
{
    return LimitOne(setup, "time_ERR_spd", [setup] {
        return Bounds{std::nullopt, kMaxWord * SpeedLoopPeriod(setup)};
    });
}

int Limit_time_ERR_pos(CMC_Setup* setup)
{
    return LimitOne(setup, "time_ERR_pos", [setup] {
        return Bounds{std::nullopt, kMaxWord * SpeedLoopPeriod(setup)};
    });
}

int Limit_PB_C(CMC_Setup* setup)
{
    return LimitOne(setup, "PB_C", [setup] {
        return Bounds{Base(setup, "PB_C_minim"), Base(setup, "PB_C_maxim")};
    });
}

int Limit_PB_S(CMC_Setup* setup)
{
    return LimitOne(setup, "PB_S", [setup] {
        return Bounds{Base(setup, "PB_S_minim"), Base(setup, "PB_S_maxim")};
    });
}

int Limit_PB_P(CMC_Setup* setup)
{
    return LimitOne(setup, "PB_P", [setup] {
        return Bounds{Base(setup, "PB_P_minim"), Base(setup, "PB_P_maxim")};
    });
}

int Limit_PositionProfileTimes(CMC_Setup* setup)
{
    return LimitProfileTimes(setup, {"TPP", "TNP"}, 1.0);
}

int Limit_PositionAccelerationTimes(CMC_Setup* setup)
{
    return LimitProfileTimes(setup, {"TaPP", "TaNP"}, 2.0);
}

int Limit_SpeedProfileTimes(CMC_Setup* setup)
{
    return LimitProfileTimes(setup, {"TPS", "TNS", "TaPS", "TaNS"}, 1.0);
}

// The test move may take the shorter acceleration time at full command speed.
int Limit_TestPosition(CMC_Setup* setup)
{
    return LimitOne(setup, "TestPosition", [setup] {
        const double e = std::min(Base(setup, "TaNP"), Base(setup, "TaPP")) / SpeedLoopPeriod(setup) *
                         MaxLoadPosition(setup);
        return Bounds{-e, e};
    });
}

int Limit_TestSpeed(CMC_Setup* setup)
{
    return LimitOne(setup, "TestSpeed", [setup] {
        const double c = std::min(MaxLoadSpeed(setup), Base(setup, "Limit_Speed"));
        return Bounds{-c, c};
    });
}

int Limit_MAX_CURRENT(CMC_Setup* setup)
{
    return LimitOne(setup, "MAX_CURRENT", [setup] {
        return Bounds{0.0, std::min(Base(setup, "In"), Base(setup, "InPS"))};
    });
}

int Limit_filter(CMC_Setup* setup)
{
    return LimitOne(setup, "filter", [setup] {
        return Bounds{std::nullopt, 1.0 / (2.0 * SpeedLoopPeriod(setup))};
    });
}

// The analogue input spans 0 to 5 V, 0 to 3.3 V, or -10 to 10 V ("AnalogueInputsRange" 20).
int Limit_DeadBand_Point(CMC_Setup* setup)
{
    return LimitOne(setup, "DeadBand_Point", [setup] {
        const double range = Base(setup, "AnalogueInputsRange"); // [V]
        if (range == 20.0)
            return Bounds{-10.0, 10.0};
        return Bounds{0.0, range == 5.0 ? 5.0 : 3.3};
    });
}

// The old dead band lies around its point inside the input span; the new one
// may cover the whole span.
int Limit_DeadBand_Range(CMC_Setup* setup)
{
    CMC_Parameter* range = setup->FindParameter("DeadBand_Range");
    if (!range)
        return 0;
    const CMC_Parameter* point = setup->FindParameter("DeadBand_Point");
    if (!point)
        return 0;
    const double p = point->GetValueInBaseUnit();
    const double lo = point->GetMinInBaseUnit();
    const double hi = point->GetMaxInBaseUnit();
    Apply(range, Bounds{0.0, IsNewDeadBand(setup) ? hi - lo : std::min(p - lo, hi - p)});
    return 1;
}

int Limit_POS_max(CMC_Setup* setup)
{
    return LimitOne(setup, "POS_max", [setup] {
        return Bounds{Base(setup, "POS_min"), MaxLoadPosition(setup)};
    });
}

int Limit_POS_min(CMC_Setup* setup)
{
    return LimitOne(setup, "POS_min", [setup] {
        return Bounds{-MaxLoadPosition(setup), Base(setup, "POS_max")};
    });
}

int Limit_SPD_max(CMC_Setup* setup)
{
    return LimitOne(setup, "SPD_max", [setup] {
        return Bounds{Base(setup, "SPD_min"), std::min(Base(setup, "Limit_Speed"), MaxLoadSpeed(setup))};
    });
}

int Limit_SPD_min(CMC_Setup* setup)
{
    return LimitOne(setup, "SPD_min", [setup] {
        return Bounds{std::max(-Base(setup, "Limit_Speed"), -MaxLoadSpeed(setup)), Base(setup, "SPD_max")};
    });
}

int Limit_CRT_max(CMC_Setup* setup)
{
    return LimitOne(setup, "CRT_max", [setup] {
        return Bounds{Base(setup, "CRT_min"), std::min(MaxCurrentCommand(setup), PeakCurrent(setup))};
    });
}

int Limit_CRT_min(CMC_Setup* setup)
{
    return LimitOne(setup, "CRT_min", [setup] {
        return Bounds{std::max(-MaxCurrentCommand(setup), -PeakCurrent(setup)), Base(setup, "CRT_max")};
    });
}

// Both corner frequencies of each of the three filters, up to half the
// speed-loop sampling rate.
int Limit_BiquadFrequencies(CMC_Setup* setup)
{
    std::optional<double> nyquist; // [Hz]
    int all = 1;
    for (int filter = 1; filter <= 3; ++filter) {
        for (const char* format : {"BQFilterF1%d", "BQFilterF2%d"}) {
            char name[16];
            std::snprintf(name, sizeof name, format, filter);
            CMC_Parameter* parameter = setup->FindParameter(name);
            if (!parameter) {
                all = 0;
                continue;
            }
            if (!nyquist)
                nyquist = 0.5 / SpeedLoopPeriod(setup);
            Apply(parameter, Bounds{std::nullopt, *nyquist});
        }
    }
    return all;
}

namespace {

constexpr int kAnyType = -1;

// Which loops the drive closes in each control mode.
struct ClosedLoops {
    int controlMode;
    int positionControlType; // kAnyType: not read
    const char* position;
    const char* speed;
    const char* current;
};

constexpr ClosedLoops kClosedLoops[] = {
    {0, 0, "1", "0", "1"},        // position controller drives the current
    {0, 1, "1", "1", "1"},        // position controller drives a speed loop
    {1, kAnyType, "0", "1", "1"}, // speed
    {2, kAnyType, "0", "0", "1"}, // torque
};

} // namespace

int UpdateClosedLoopOptions(CMC_Setup* setup)
{
    const CMC_Parameter* mode = setup->FindParameter("ControlMode");
    if (!mode)
        return 0;
    const std::int64_t controlMode = TruncRegister(mode->GetValueInBaseUnit());
    std::int64_t positionType = kAnyType;
    if (controlMode == 0) {
        const CMC_Parameter* type = setup->FindParameter("PositionControlType");
        if (!type)
            return 0;
        positionType = TruncRegister(type->GetValueInBaseUnit());
    }
    for (const ClosedLoops& row : kClosedLoops) {
        if (row.controlMode != controlMode || row.positionControlType != positionType)
            continue;
        setup->SetOption("IsClosedPosition", row.position);
        setup->SetOption("IsClosedSpeed", row.speed);
        setup->SetOption("IsClosedCurrent", row.current);
        return 1;
    }
    return 0;
}

int EnforceSpeedFeedForward(CMC_Setup* setup)
{
    CMC_Parameter* speedForward = nullptr;
    CMC_Parameter* controlMode = nullptr;
    CMC_Parameter* positionControlType = nullptr;
    CMC_Parameter* acr = nullptr;
    if (!FindParameters(setup, {{"SpeedForward", &speedForward},
                                {"ControlMode", &controlMode},
                                {"PositionControlType", &positionControlType},
                                {"ACR", &acr}}))
        return 0;
    const bool cascadedPosition = TruncRegister(controlMode->GetValueInBaseUnit()) == 0 &&
                                  TruncRegister(positionControlType->GetValueInBaseUnit()) == 1;
    if (!cascadedPosition) {
        constexpr int kSpeedForwardBit = 14;
        speedForward->SetValueInInternalUnit(1.0);
        acr->SetValueInInternalUnit(static_cast<double>(
            WithBit(TruncRegister(acr->GetValueInInternalUnit()), kSpeedForwardBit, true)));
    }
    return 1;
}
