// The Hall signals watched while the Hall signals test turns the field: each
// sample takes the three signals and the electrical angle the drive imposed
// at that moment. Before the Hall registers are commissioned they give the
// raw traces; after it, the error of the angle the drive computes from them.
#pragma once

#include "CommissionResult.h"

#include <array>
#include <string>
#include <vector>

class CMC_Setup;
class SteppedClock;
class VirtualDrive;

class HallCheck {
public:
    HallCheck(const CMC_Setup& setup, const VirtualDrive& drive, SteppedClock& clock);

    // Takes a sample once the field turns at its speed; true when a whole
    // electrical turn has been seen, the drive stopped answering, or the
    // watch has gone on too long.
    bool Sample();

    Trace SignalTrace() const;     // the three signals [V] against the imposed angle
    Trace AngleErrorTrace() const; // the computed angle's error against the imposed angle
    std::string Summary() const;

private:
    struct Reading {
        double imposed = 0.0;           // [angle units]
        std::array<double, 3> counts{}; // converter counts
    };
    bool Read(Reading& reading);
    // The angle the drive computes from the signals with the setup's registers [angle units].
    double HallAngle(const Reading& reading) const;
    std::vector<std::vector<double>> ErrorRows() const;

    const CMC_Setup& m_setup;
    const VirtualDrive& m_drive;
    SteppedClock& m_clock;
    std::array<const char*, 3> m_signals{};
    double m_countsPerVolt = 0.0;
    double m_started = -1.0; // [s] drive time of the first call
    double m_turned = 0.0;   // [angle units] since the first sample
    std::vector<Reading> m_readings;
};
