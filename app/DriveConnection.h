// The drive behind the host's commands: the virtual drive, with the motor and
// faults a user chose, made the active drive of a setup.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class CMC_Setup;
class DriveClock;
class VirtualDrive;

struct VirtualDriveChoice {
    std::string motorFile;           // empty: the reference motor
    std::string driveFile;           // empty: the reference drive
    std::vector<std::string> faults; // fault names the drive injects
    bool realTime = true;            // wall clock; false: a fixed step per request
};

// Makes the virtual drive the active drive and downloads the setup into it;
// clock: the drive's (null: as the choice says). On failure writes the
// reason to err and returns null.
std::shared_ptr<VirtualDrive> ConnectVirtualDrive(const VirtualDriveChoice& choice, CMC_Setup& setup,
                                                  std::ostream& err,
                                                  std::shared_ptr<DriveClock> clock = nullptr);
// No drive any more.
void DisconnectDrive();
