// The virtual drive's own hardware, as a drive file describes it: its
// supply, its board (converter and sensor ranges) and its sensors' noise. A setup describes the
// drive a user believes in; the virtual drive is this one.
#pragma once

#include "Plant.h"

#include <string>

// The imperfections of the drive's sensors (none on the reference drive).
struct SensorImperfections {
    double currentNoise = 0.0;   // [A rms]
    double currentOffsetA = 0.0; // [A]
    double currentOffsetB = 0.0; // [A]
    double hallNoise = 0.0;      // [V rms]
    double busNoise = 0.0;       // [V rms]
};

struct DriveDescription {
    std::string name;
    double supplyVoltage = 48.0;    // [V] no load
    double supplyResistance = 0.05; // [ohm]
    DriveBoard board;
    SensorImperfections sensors;

    // Makes a plant's surroundings this drive's.
    void ApplyTo(PlantOptions& options) const;

    // Reads a drive file ("format": "velmaro-drive"); fields it lacks keep
    // the reference drive's values. On failure error names the file and the problem.
    static bool Load(const std::string& path, DriveDescription& drive, std::string& error);
    static bool Parse(const std::string& text, const std::string& fileName, DriveDescription& drive,
                      std::string& error);
};
