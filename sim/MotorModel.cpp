#include "MotorModel.h"

#include "JsonFieldReaders.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

using namespace simfile;

bool ReadPlant(const Json& plant, MotorModel& motor, std::string& problem)
{
    if (!plant.is_object()) {
        problem = "\"plant\" must be an object";
        return false;
    }
    if (auto it = plant.find("connection"); it != plant.end()) {
        if (!it->is_string() || (*it != "star" && *it != "delta")) {
            problem = "\"connection\" must be \"star\" or \"delta\"";
            return false;
        }
        motor.delta = *it == "delta";
    }
    double L = -1.0;
    if (!ReadNumber(plant, "L", L, false, problem))
        return false;
    if (L > 0.0)
        motor.Ld = motor.Lq = L;
    double pp = motor.polePairs;
    const bool ok = ReadNumber(plant, "R", motor.R, false, problem) &&
                    ReadNumber(plant, "Ld", motor.Ld, false, problem) &&
                    ReadNumber(plant, "Lq", motor.Lq, false, problem) &&
                    ReadNumber(plant, "K", motor.K, false, problem) &&
                    ReadNumber(plant, "pp", pp, false, problem) &&
                    ReadNumber(plant, "Jm", motor.Jm, false, problem) &&
                    ReadNumber(plant, "Jload", motor.Jload, true, problem) &&
                    ReadNumber(plant, "viscous", motor.viscous, true, problem) &&
                    ReadNumber(plant, "coulomb", motor.coulomb, true, problem) &&
                    ReadNumber(plant, "loadViscous", motor.loadViscous, true, problem) &&
                    ReadNumber(plant, "loadCoulomb", motor.loadCoulomb, true, problem) &&
                    ReadSigned(plant, "loadTorque", motor.loadTorque, problem) &&
                    ReadNumber(plant, "brakeTorque", motor.brakeTorque, true, problem) &&
                    ReadNumber(plant, "thermalResistance", motor.thermalResistance, true, problem) &&
                    ReadNumber(plant, "thermalTimeConstant", motor.thermalTimeConstant, false, problem);
    if (!ok)
        return false;
    if (pp != std::floor(pp) || pp > 64) {
        problem = "\"pp\" must be a whole number from 1 to 64";
        return false;
    }
    motor.polePairs = static_cast<int>(pp);

    if (auto it = plant.find("coupling"); it != plant.end()) {
        if (!it->is_object()) {
            problem = "\"coupling\" must be an object";
            return false;
        }
        motor.coupling.present = true;
        if (!ReadNumber(*it, "stiffness", motor.coupling.stiffness, false, problem) ||
            !ReadNumber(*it, "damping", motor.coupling.damping, true, problem))
            return false;
        if (it->find("stiffness") == it->end()) {
            problem = "\"coupling\" needs a \"stiffness\"";
            return false;
        }
        if (motor.Jload <= 0.0) {
            problem = "a \"coupling\" needs a load inertia \"Jload\" above zero";
            return false;
        }
    }

    if (auto it = plant.find("halls"); it != plant.end()) {
        if (!it->is_array() || it->size() != 3) {
            problem = "\"halls\" must list three sensors";
            return false;
        }
        for (std::size_t i = 0; i < 3; ++i) {
            const Json& hall = (*it)[i];
            if (!hall.is_object()) {
                problem = "each Hall sensor must be an object";
                return false;
            }
            HallSensorModel& model = motor.halls[i];
            if (!ReadNumber(hall, "amplitude", model.amplitude, true, problem) ||
                !ReadNumber(hall, "offset", model.offset, true, problem) ||
                !ReadSigned(hall, "angle", model.angle, problem))
                return false;
        }
    }
    return true;
}

} // namespace

MotorModel MotorModel::Reference()
{
    MotorModel motor;
    motor.name = "Reference servo 200 W, 48 V";
    return motor;
}

bool MotorModel::Parse(const std::string& text, const std::string& fileName, MotorModel& motor,
                       std::string& error)
{
    Json root;
    try {
        root = Json::parse(text);
    } catch (const Json::parse_error& e) {
        error = fileName + ": " + e.what();
        return false;
    }
    if (!root.is_object() || root.value("format", std::string()) != "velmaro-motor") {
        error = fileName + ": not a motor file";
        return false;
    }
    Json plant;
    if (auto it = root.find("plant"); it != root.end()) {
        plant = *it;
    } else if (auto parameters = root.find("parameters");
               parameters != root.end() && parameters->is_object()) {
        // A motor of the database without a plant: its data sheet values
        // make one (a load as heavy as the rotor, the reference's sensors).
        plant = Json::object();
        for (const char* key : {"R", "L", "K", "pp", "Jm"}) {
            if (!parameters->contains(key)) {
                error = fileName + ": the motor file has no \"plant\" section and no \"" + key + "\"";
                return false;
            }
            plant[key] = (*parameters)[key];
        }
        plant["Jload"] = plant["Jm"];
        if (parameters->value("MotorPhaseConnectionType", 0.0) == 1.0)
            plant["connection"] = "delta";
    } else {
        error = fileName + ": the motor file has no \"plant\" section";
        return false;
    }
    MotorModel result = Reference();
    result.name = root.value("name", std::string());
    std::string problem;
    if (!ReadPlant(plant, result, problem)) {
        error = fileName + ": " + problem;
        return false;
    }
    if (auto faults = root.find("faults"); faults != root.end()) {
        if (!faults->is_array()) {
            error = fileName + ": \"faults\" must be a list of names";
            return false;
        }
        for (const Json& fault : *faults) {
            if (!fault.is_string()) {
                error = fileName + ": \"faults\" must be a list of names";
                return false;
            }
            result.faults.push_back(fault.get<std::string>());
        }
    }
    motor = std::move(result);
    return true;
}

bool MotorModel::Load(const std::string& path, MotorModel& motor, std::string& error)
{
    std::string text;
    return ReadWholeFile(path, text, error) && Parse(text, path, motor, error);
}
