#include "MotorModel.h"

#include "JsonFieldReaders.h"
#include "Plant.h"

#include <cmath>

namespace {

using namespace simfile;

// Physical ranges of the plant's fields: wide enough for any servo motor,
// narrow enough that the simulation stays finite and fast.
constexpr Range kResistance{1e-4, 1e3};     // [ohm]
constexpr Range kInductance{1e-7, 10.0};    // [H]
constexpr Range kTorqueConstant{1e-4, 1e2}; // [Nm/A]
constexpr Range kPolePairs{1, 64};
constexpr Range kRotorInertia{1e-8, 1e2};        // [kg m^2]
constexpr Range kLoadInertia{0.0, 1e3};          // [kg m^2]
constexpr Range kFriction{0.0, 1e3};             // [Nm s/rad] or [Nm]
constexpr Range kLoadTorque{-1e4, 1e4};          // [Nm]
constexpr Range kThermalResistance{0.0, 1e3};    // [K/W]
constexpr Range kThermalTimeConstant{1e-3, 1e7}; // [s]
constexpr Range kStiffness{1e-3, 1e9};           // [Nm/rad]
constexpr Range kShaftDamping{0.0, 1e4};         // [Nm s/rad]
constexpr Range kHallVolts{0.0, 5.0};            // [V]
constexpr Range kHallAngle{-360.0, 720.0};       // [electrical degrees]

struct PlantNumber {
    const char* key;
    Range range;
    double MotorModel::*target;
};

constexpr PlantNumber kPlantNumbers[] = {
    {"R", kResistance, &MotorModel::R},
    {"Ld", kInductance, &MotorModel::Ld},
    {"Lq", kInductance, &MotorModel::Lq},
    {"K", kTorqueConstant, &MotorModel::K},
    {"Jm", kRotorInertia, &MotorModel::Jm},
    {"Jload", kLoadInertia, &MotorModel::Jload},
    {"viscous", kFriction, &MotorModel::viscous},
    {"coulomb", kFriction, &MotorModel::coulomb},
    {"loadViscous", kFriction, &MotorModel::loadViscous},
    {"loadCoulomb", kFriction, &MotorModel::loadCoulomb},
    {"loadTorque", kLoadTorque, &MotorModel::loadTorque},
    {"brakeTorque", kFriction, &MotorModel::brakeTorque},
    {"thermalResistance", kThermalResistance, &MotorModel::thermalResistance},
    {"thermalTimeConstant", kThermalTimeConstant, &MotorModel::thermalTimeConstant},
};

bool ReadConnection(JsonFields& fields, const JsonValue& plant, MotorModel& motor)
{
    const JsonValue* connection = plant.Find("connection");
    if (!connection)
        return true;
    if (!connection->IsString() || (connection->text != "star" && connection->text != "delta"))
        return fields.Fail(connection->line, "\"connection\" must be \"star\" or \"delta\"");
    motor.delta = connection->text == "delta";
    return true;
}

bool ReadCoupling(JsonFields& fields, const JsonValue& plant, MotorModel& motor)
{
    bool ok = true;
    const JsonValue* coupling = OptionalObject(fields, plant, "coupling", ok);
    if (!coupling)
        return ok;
    motor.coupling.present = true;
    if (!fields.OnlyKnown(*coupling, {"stiffness", "damping"}) ||
        !fields.Require(*coupling, "stiffness", JsonValue::Kind::Number) ||
        !ReadNumber(fields, *coupling, "stiffness", kStiffness, motor.coupling.stiffness) ||
        !ReadNumber(fields, *coupling, "damping", kShaftDamping, motor.coupling.damping))
        return false;
    if (motor.Jload <= 0.0)
        return fields.Fail(coupling->line, "a \"coupling\" needs a load inertia \"Jload\" above zero");
    if (ShaftSubStepsNeeded(motor.ShaftResonance(), kLongestPwmPeriod) > kMaxShaftSubSteps)
        return fields.Fail(coupling->line, "the \"coupling\" is too stiff for its inertias (a resonance of " +
                                               JsonNumber(motor.ShaftResonance()) + " rad/s)");
    return true;
}

bool ReadHalls(JsonFields& fields, const JsonValue& plant, MotorModel& motor)
{
    const JsonValue* halls = plant.Find("halls");
    if (!halls)
        return true;
    if (!halls->IsArray() || halls->items.size() != 3)
        return fields.Fail(halls->line, "\"halls\" must list three sensors");
    for (std::size_t i = 0; i < 3; ++i) {
        const JsonValue& hall = halls->items[i];
        HallSensorModel& model = motor.halls[i];
        if (!fields.Expect(hall, JsonValue::Kind::Object, "each Hall sensor") ||
            !fields.OnlyKnown(hall, {"amplitude", "offset", "angle"}) ||
            !ReadNumber(fields, hall, "amplitude", kHallVolts, model.amplitude) ||
            !ReadNumber(fields, hall, "offset", kHallVolts, model.offset) ||
            !ReadNumber(fields, hall, "angle", kHallAngle, model.angle))
            return false;
    }
    return true;
}

bool ReadPlant(JsonFields& fields, const JsonValue& plant, MotorModel& motor)
{
    if (!fields.OnlyKnown(plant, {"connection", "R", "L", "Ld", "Lq", "K", "pp", "Jm", "Jload", "viscous",
                                  "coulomb", "loadViscous", "loadCoulomb", "loadTorque", "brakeTorque",
                                  "thermalResistance", "thermalTimeConstant", "coupling", "halls"}) ||
        !ReadConnection(fields, plant, motor))
        return false;
    double L = 0.0;
    if (!ReadNumber(fields, plant, "L", kInductance, L))
        return false;
    if (L > 0.0)
        motor.Ld = motor.Lq = L;
    for (const PlantNumber& field : kPlantNumbers)
        if (!ReadNumber(fields, plant, field.key, field.range, motor.*field.target))
            return false;
    return ReadWhole(fields, plant, "pp", kPolePairs, motor.polePairs) &&
           ReadCoupling(fields, plant, motor) && ReadHalls(fields, plant, motor);
}

// A motor of the database without a plant: its data sheet values make one
// (a load as heavy as the rotor, the reference's sensors).
bool ReadDatasheetPlant(JsonFields& fields, const JsonValue& parameters, MotorModel& motor)
{
    for (const char* key : {"R", "L", "K", "pp", "Jm"})
        if (!fields.Require(parameters, key, JsonValue::Kind::Number))
            return false;
    double L = 0.0, connection = 0.0;
    if (!ReadNumber(fields, parameters, "R", kResistance, motor.R) ||
        !ReadNumber(fields, parameters, "L", kInductance, L) ||
        !ReadNumber(fields, parameters, "K", kTorqueConstant, motor.K) ||
        !ReadWhole(fields, parameters, "pp", kPolePairs, motor.polePairs) ||
        !ReadNumber(fields, parameters, "Jm", kRotorInertia, motor.Jm) ||
        !ReadNumber(fields, parameters, "MotorPhaseConnectionType", Range{0.0, 1.0}, connection))
        return false;
    motor.Ld = motor.Lq = L;
    motor.Jload = motor.Jm;
    motor.delta = connection == 1.0;
    return true;
}

bool ReadFaults(JsonFields& fields, const JsonValue& root, MotorModel& motor)
{
    const JsonValue* faults = root.Find("faults");
    if (!faults)
        return true;
    if (!fields.Expect(*faults, JsonValue::Kind::Array, "\"faults\""))
        return false;
    for (const JsonValue& fault : faults->items) {
        if (!fields.Expect(fault, JsonValue::Kind::String, "each of the \"faults\""))
            return false;
        motor.faults.push_back(fault.text);
    }
    return true;
}

bool ReadMotor(JsonFields& fields, const JsonValue& root, MotorModel& motor)
{
    if (!fields.Optional(root, "name", motor.name))
        return false;
    bool ok = true;
    const JsonValue* plant = root.Find("plant");
    const JsonValue* parameters = OptionalObject(fields, root, "parameters", ok);
    if (plant) {
        if (!fields.Expect(*plant, JsonValue::Kind::Object, "\"plant\"") || !ReadPlant(fields, *plant, motor))
            return false;
    } else if (parameters) {
        if (!ReadDatasheetPlant(fields, *parameters, motor))
            return false;
    } else {
        return ok && fields.Fail(root.line, "the motor file has no \"plant\" section");
    }
    return ReadFaults(fields, root, motor);
}

} // namespace

double MotorModel::ShaftResonance() const
{
    return std::sqrt(coupling.stiffness * (1.0 / Jm + 1.0 / Jload));
}

MotorModel MotorModel::Reference()
{
    MotorModel motor;
    motor.name = "Reference servo 200 W, 48 V";
    return motor;
}

bool MotorModel::Parse(const std::string& text, const std::string& fileName, MotorModel& motor,
                       std::string& error)
{
    // Fields a file leaves out keep the reference motor's values.
    MotorModel defaults = Reference();
    defaults.name.clear();
    return ReadDataFile(text, fileName, "velmaro-motor", ReadMotor, std::move(defaults), motor, error);
}

bool MotorModel::Load(const std::string& path, MotorModel& motor, std::string& error)
{
    std::string text;
    return ReadWholeFile(path, text, error) && Parse(text, path, motor, error);
}
