// The motor and drive file readers on any bytes: each refuses or reads, never
// crashes or throws; a motor read on a drive read turns a few PWM periods in
// bounded time.
#include "DriveFile.h"
#include "MotorModel.h"
#include "Plant.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    MotorModel motor;
    const bool motorRead = MotorModel::Parse(text, "fuzz.json", motor, error);
    DriveDescription drive;
    const bool driveRead = DriveDescription::Parse(text, "fuzz.json", drive, error);
    if (!motorRead)
        return 0;
    PlantOptions options;
    if (driveRead)
        drive.ApplyTo(options);
    Plant plant(motor, options);
    plant.SetBrake(false);
    plant.SetEnabled(true);
    plant.SetDuties(0.6, 0.5, 0.4);
    for (int i = 0; i < 20; ++i)
        plant.Step();
    return 0;
}
