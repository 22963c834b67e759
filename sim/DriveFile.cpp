#include "DriveFile.h"

#include "JsonFieldReaders.h"

using namespace simfile;

namespace {

bool ReadBoard(const Json& root, DriveBoard& board, std::string& problem)
{
    double bits = board.adcBits;
    const bool ok = ReadNumber(root, "currentFullScale", board.currentFullScale, false, problem) &&
                    ReadNumber(root, "adcBits", bits, false, problem) &&
                    ReadNumber(root, "busFullScale", board.busFullScale, false, problem) &&
                    ReadNumber(root, "adcRange", board.adcRange, false, problem) &&
                    ReadNumber(root, "busCapacitance", board.busCapacitance, false, problem) &&
                    ReadSigned(root, "tempSensorGain", board.tempSensorGain, problem) &&
                    ReadSigned(root, "tempSensorAt0", board.tempSensorAt0, problem);
    if (!ok)
        return false;
    if (bits != std::floor(bits) || bits < 8 || bits > 16) {
        problem = "\"adcBits\" must be a whole number from 8 to 16";
        return false;
    }
    board.adcBits = static_cast<int>(bits);
    return true;
}

// The sensors' noise and offsets, from the file's optional "sensors" object.
bool ReadSensors(const Json& root, SensorImperfections& sensors, std::string& problem)
{
    if (!root.contains("sensors"))
        return true;
    const Json& object = root["sensors"];
    if (!object.is_object()) {
        problem = "\"sensors\" must be an object";
        return false;
    }
    return ReadNumber(object, "currentNoise", sensors.currentNoise, true, problem) &&
           ReadSigned(object, "currentOffsetA", sensors.currentOffsetA, problem) &&
           ReadSigned(object, "currentOffsetB", sensors.currentOffsetB, problem) &&
           ReadNumber(object, "hallNoise", sensors.hallNoise, true, problem) &&
           ReadNumber(object, "busNoise", sensors.busNoise, true, problem);
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
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object() || root.value("format", std::string()) != "velmaro-drive") {
        error = fileName + ": not a drive file";
        return false;
    }
    DriveDescription result;
    result.name = root.value("name", std::string());
    std::string problem;
    if (!ReadNumber(root, "supplyVoltage", result.supplyVoltage, false, problem) ||
        !ReadNumber(root, "supplyResistance", result.supplyResistance, true, problem) ||
        !ReadBoard(root, result.board, problem) || !ReadSensors(root, result.sensors, problem)) {
        error = fileName + ": " + problem;
        return false;
    }
    drive = std::move(result);
    return true;
}

bool DriveDescription::Load(const std::string& path, DriveDescription& drive, std::string& error)
{
    std::string text;
    return ReadWholeFile(path, text, error) && Parse(text, path, drive, error);
}
