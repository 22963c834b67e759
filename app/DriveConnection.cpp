#include "DriveConnection.h"

#include "Comm.h"
#include "DriveFile.h"
#include "VirtualDrive.h"

#include <memory>
#include <ostream>

std::shared_ptr<VirtualDrive> ConnectVirtualDrive(const VirtualDriveChoice& choice, CMC_Setup& setup,
                                                  std::ostream& err, std::shared_ptr<DriveClock> clock)
{
    MotorModel motor = MotorModel::Reference();
    std::string error;
    if (!choice.motorFile.empty() && !MotorModel::Load(choice.motorFile, motor, error)) {
        err << "velmaro: " << error << '\n';
        return nullptr;
    }
    VirtualDriveOptions options;
    DriveDescription drive;
    if (!choice.driveFile.empty() && !DriveDescription::Load(choice.driveFile, drive, error)) {
        err << "velmaro: " << error << '\n';
        return nullptr;
    }
    drive.ApplyTo(options.plant);
    for (const std::string& fault : choice.faults)
        if (!options.plant.faults.Add(fault)) {
            err << "velmaro: unknown fault \"" << fault << "\" (known:";
            for (const std::string& known : FaultSet::KnownNames())
                err << ' ' << known;
            err << ")\n";
            return nullptr;
        }
    if (!clock && choice.realTime)
        clock = std::make_shared<WallClock>();
    else if (!clock)
        clock = std::make_shared<SteppedClock>();
    auto virtualDrive = std::make_shared<VirtualDrive>(motor, options);
    CMC_Comm::SetActiveLink(virtualDrive, clock);
    if (!CMC_Comm::ConnectSetup(setup)) {
        err << "velmaro: the virtual drive did not take the setup: " << CMC_Comm::GetLastErrorText() << '\n';
        return nullptr;
    }
    return virtualDrive;
}

void DisconnectDrive()
{
    CMC_Comm::SetActiveLink(nullptr, nullptr);
}
