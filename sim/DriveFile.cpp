#include "DriveFile.h"

#include "JsonFieldReaders.h"

#include <fstream>
#include <sstream>

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

void DriveSpec::ApplyTo(PlantOptions& options) const
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

bool DriveSpec::Parse(const std::string& text, const std::string& fileName, DriveSpec& spec,
                      std::string& error)
{
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object() || root.value("format", std::string()) != "velmaro-drive") {
        error = fileName + ": not a drive file";
        return false;
    }
    DriveSpec result;
    result.name = root.value("name", std::string());
    std::string problem;
    if (!ReadNumber(root, "supplyVoltage", result.supplyVoltage, false, problem) ||
        !ReadNumber(root, "supplyResistance", result.supplyResistance, true, problem) ||
        !ReadBoard(root, result.board, problem) || !ReadSensors(root, result.sensors, problem)) {
        error = fileName + ": " + problem;
        return false;
    }
    spec = std::move(result);
    return true;
}

bool DriveSpec::Load(const std::string& path, DriveSpec& spec, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return Parse(text.str(), path, spec, error);
}
