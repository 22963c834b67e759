// The virtual drive's own hardware, as a drive file describes it: its
// supply and its board (converter and sensor ranges). A setup describes the
// drive a user believes in; the virtual drive is this one.
#pragma once

#include "Plant.h"

#include <string>

struct DriveSpec {
    std::string name;
    double supplyVoltage = 48.0;    // [V] no load
    double supplyResistance = 0.05; // [ohm]
    DriveBoard board;

    // Makes a plant's surroundings this drive's.
    void ApplyTo(PlantOptions& options) const;

    // Reads a drive file ("format": "velmaro-drive"); fields it lacks keep
    // the reference drive's values. On failure error names the file and the problem.
    static bool Load(const std::string& path, DriveSpec& spec, std::string& error);
    static bool Parse(const std::string& text, const std::string& fileName, DriveSpec& spec,
                      std::string& error);
};
