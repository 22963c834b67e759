#include "DriveConnection.h"

#include "Comm.h"
#include "VirtualDrive.h"

#include <memory>
#include <ostream>

bool ConnectVirtualDrive(const VirtualDriveChoice& choice, CMC_Setup& setup, std::ostream& err)
{
    MotorModel motor = MotorModel::Reference();
    std::string error;
    if (!choice.motorFile.empty() && !MotorModel::Load(choice.motorFile, motor, error)) {
        err << "velmaro: " << error << '\n';
        return false;
    }
    VirtualDriveOptions options;
    for (const std::string& fault : choice.faults)
        if (!options.plant.faults.Add(fault)) {
            err << "velmaro: unknown fault \"" << fault << "\" (known:";
            for (const std::string& known : FaultSet::KnownNames())
                err << ' ' << known;
            err << ")\n";
            return false;
        }
    std::shared_ptr<DriveClock> clock;
    if (choice.realTime)
        clock = std::make_shared<WallClock>();
    else
        clock = std::make_shared<SteppedClock>();
    CMC_Comm::SetActiveLink(std::make_shared<VirtualDrive>(motor, options), clock);
    if (!CMC_Comm::ConnectSetup(setup)) {
        err << "velmaro: the virtual drive did not take the setup: " << CMC_Comm::GetLastErrorText() << '\n';
        return false;
    }
    return true;
}

void DisconnectDrive()
{
    CMC_Comm::SetActiveLink(nullptr, nullptr);
}
