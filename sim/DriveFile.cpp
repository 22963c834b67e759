#include "DriveFile.h"

#include "JsonFieldReaders.h"

using namespace simfile;

namespace {

// Physical ranges of a drive's fields.
constexpr Range kSupplyVoltage{1.0, 2000.0};   // [V]
constexpr Range kSupplyResistance{0.0, 100.0}; // [ohm]
constexpr Range kCurrentFullScale{0.01, 1e4};  // [A]
constexpr Range kAdcBits{8, 16};
constexpr Range kBusFullScale{1.0, 1e4};       // [V]
constexpr Range kAdcRange{0.1, 100.0};         // [V]
constexpr Range kBusCapacitance{1e-7, 10.0};   // [F]
constexpr Range kSensorVolts{-10.0, 10.0};     // [V/degC], [V]
constexpr Range kCurrentNoise{0.0, 100.0};     // [A rms]
constexpr Range kCurrentOffset{-100.0, 100.0}; // [A]
constexpr Range kVoltageNoise{0.0, 100.0};     // [V rms]

bool ReadBoard(JsonFields& fields, const JsonValue& root, DriveBoard& board)
{
    return ReadNumber(fields, root, "currentFullScale", kCurrentFullScale, board.currentFullScale) &&
           ReadWhole(fields, root, "adcBits", kAdcBits, board.adcBits) &&
           ReadNumber(fields, root, "busFullScale", kBusFullScale, board.busFullScale) &&
           ReadNumber(fields, root, "adcRange", kAdcRange, board.adcRange) &&
           ReadNumber(fields, root, "busCapacitance", kBusCapacitance, board.busCapacitance) &&
           ReadNumber(fields, root, "tempSensorGain", kSensorVolts, board.tempSensorGain) &&
           ReadNumber(fields, root, "tempSensorAt0", kSensorVolts, board.tempSensorAt0);
}

// The sensors' noise and offsets, from the file's optional "sensors" object.
bool ReadSensors(JsonFields& fields, const JsonValue& root, SensorImperfections& sensors)
{
    bool ok = true;
    const JsonValue* object = OptionalObject(fields, root, "sensors", ok);
    if (!object)
        return ok;
    return fields.OnlyKnown(*object,
                            {"currentNoise", "currentOffsetA", "currentOffsetB", "hallNoise", "busNoise"}) &&
           ReadNumber(fields, *object, "currentNoise", kCurrentNoise, sensors.currentNoise) &&
           ReadNumber(fields, *object, "currentOffsetA", kCurrentOffset, sensors.currentOffsetA) &&
           ReadNumber(fields, *object, "currentOffsetB", kCurrentOffset, sensors.currentOffsetB) &&
           ReadNumber(fields, *object, "hallNoise", kVoltageNoise, sensors.hallNoise) &&
           ReadNumber(fields, *object, "busNoise", kVoltageNoise, sensors.busNoise);
}

bool ReadDrive(JsonFields& fields, const JsonValue& root, DriveDescription& drive)
{
    return fields.OnlyKnown(root, {"format", "version", "name", "supplyVoltage", "supplyResistance",
                                   "currentFullScale", "adcBits", "busFullScale", "adcRange",
                                   "busCapacitance", "tempSensorGain", "tempSensorAt0", "sensors"}) &&
           fields.Optional(root, "name", drive.name) &&
           ReadNumber(fields, root, "supplyVoltage", kSupplyVoltage, drive.supplyVoltage) &&
           ReadNumber(fields, root, "supplyResistance", kSupplyResistance, drive.supplyResistance) &&
           ReadBoard(fields, root, drive.board) && ReadSensors(fields, root, drive.sensors);
}

} // namespace

void DriveDescription::ApplyTo(PlantOptions& options) const
{
    options.busVoltage = supplyVoltage;
    options.supplyResistance = supplyResistance;
    options.board = board;
    options.currentNoise = sensors.currentNoise;
    options.currentOffsetA = sensors.currentOffsetA;
    options.currentOffsetB = sensors.currentOffsetB;
    options.hallNoise = sensors.hallNoise;
    options.busNoise = sensors.busNoise;
}

bool DriveDescription::Parse(const std::string& text, const std::string& fileName, DriveDescription& drive,
                             std::string& error)
{
    return ReadDataFile(text, fileName, "velmaro-drive", ReadDrive, DriveDescription(), drive, error);
}

bool DriveDescription::Load(const std::string& path, DriveDescription& drive, std::string& error)
{
    std::string text;
    return ReadWholeFile(path, text, error) && Parse(text, path, drive, error);
}
