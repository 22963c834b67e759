// Load-side unit types of a rotary or a linear load.
#include "Limits.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "Errors.h"

namespace {

// Unit types of one kind of load-side quantity: linear load, rotary load.
struct LoadUnit {
    const char* linear;
    const char* rotary;
};

constexpr LoadUnit kPosition = {"mm", "rot"};
constexpr LoadUnit kSpeed = {"m/s", "rpm"};
constexpr LoadUnit kSpeedRad = {"m/s", "rad/s"};
constexpr LoadUnit kAcceleration = {"m/s^2", "rad/s^2"};
constexpr LoadUnit kJerk = {"m/s^3", "rad/s^3"};

struct LoadQuantity {
    const char* name;
    LoadUnit unit;
};

constexpr LoadQuantity kParameters[] = {
    {"Load_transmission", kPosition}, {"TestSpeed", kSpeed},       {"Limit_Speed", kSpeedRad},
    {"TestPosition", kPosition},      {"ERR_position", kPosition}, {"ERR_speed", kSpeedRad},
};

constexpr LoadQuantity kAnalogueReferenceParameters[] = {
    {"POS_max", kPosition},
    {"POS_min", kPosition},
    {"SPD_max", kSpeed},
    {"SPD_min", kSpeed},
};

constexpr LoadQuantity kExternalReferenceParameters[] = {
    {"ErefMaxSpeed", kSpeed},
    {"ErefMaxAcceleration", kAcceleration},
};

constexpr LoadQuantity kFreezeControlParameters[] = {{"FreezeControl_errband", kPosition}};

constexpr LoadQuantity kSoftwareLimitSwitchParameters[] = {
    {"Negative_SWLS", kPosition},
    {"Positive_SWLS", kPosition},
};

struct ParameterGroup {
    bool (*condition)(CMC_Setup*); // null: always
    const LoadQuantity* begin;
    const LoadQuantity* end;
};

template <std::size_t N>
constexpr ParameterGroup Group(bool (*condition)(CMC_Setup*), const LoadQuantity (&quantities)[N])
{
    return {condition, quantities, quantities + N};
}

constexpr ParameterGroup kParameterGroups[] = {
    Group(nullptr, kParameters),
    Group(&HasAnalogueInput, kAnalogueReferenceParameters),
    Group(nullptr, kExternalReferenceParameters),
    Group(&HasFreezeControl, kFreezeControlParameters),
    Group(&HasSoftwareLimitSwitches, kSoftwareLimitSwitchParameters),
};

constexpr LoadQuantity kVariables[] = {
    {"Load_Position", kPosition},
    {"Load_Speed", kSpeed},
    {"Target_Position", kPosition},
    {"Target_Speed", kSpeed},
    {"Speed_Reference", kSpeed},
    {"Position_Error", kPosition},
    {"Speed_Error", kSpeed},
    {"Pulse_Dir_Input_Speed", kSpeed},
    {"Pulse_Dir_Input_Position", kPosition},
    {"APOS", kPosition},
    {"APOS_LD", kPosition},
    {"ASPD_LD", kSpeed},
    {"CACC", kAcceleration},
    {"CAPPOS", kPosition},
    {"CDEC", kAcceleration},
    {"CPOS", kPosition},
    {"CSPD", kSpeed},
    {"EREFP", kPosition},
    {"EREFS", kSpeed},
    {"ERRMAX", kPosition},
    {"HOMEPOS", kPosition},
    {"HOMESPD", kSpeed},
    {"JERK", kJerk},
    {"POSERR", kPosition},
    {"POSINIT", kPosition},
    {"POSOKLIM", kPosition},
    {"POSTRIGG1", kPosition},
    {"POSTRIGG2", kPosition},
    {"POSTRIGG3", kPosition},
    {"POSTRIGG4", kPosition},
    {"SERRMAX", kSpeed},
    {"SPDERR", kSpeed},
    {"SPDREF", kSpeed},
    {"TACC", kAcceleration},
    {"TPOS", kPosition},
    {"TPOSFAST", kPosition},
    {"TSPD", kSpeed},
};

// A quantity that has the unit type already keeps the display unit the user chose.
void GiveUnitType(CMC_Quantity* quantity, const char* unitType)
{
    if (!EqualsIgnoringCase(quantity->GetUnitType(), unitType))
        quantity->ChangeUnitType(unitType);
}

} // namespace

void UpdateTransmissionUnits(CMC_Setup* setup)
{
    const CMC_Parameter* transmissionType = setup->FindParameter("TransmissionType");
    if (!transmissionType)
        return;
    const bool linear = transmissionType->GetValueInBaseUnit() != 0.0;
    auto unitOf = [linear](const LoadQuantity& q) { return linear ? q.unit.linear : q.unit.rotary; };

    for (const ParameterGroup& group : kParameterGroups) {
        if (group.condition && !group.condition(setup))
            continue;
        for (const LoadQuantity* q = group.begin; q != group.end; ++q) {
            CMC_Parameter* parameter = FindQuietly(setup, q->name);
            if (parameter)
                GiveUnitType(parameter, unitOf(*q));
        }
    }

    QuietLookup quiet;
    for (const LoadQuantity& q : kVariables) {
        CMC_Variable* variable = setup->FindVariable(q.name, 1);
        if (variable)
            GiveUnitType(variable, unitOf(q));
    }
}
