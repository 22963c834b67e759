#include "HallCheck.h"

#include "Comm.h"
#include "DriveClock.h"
#include "Firmware.h"
#include "HallTraces.h"
#include "Helpers.h"
#include "Setup.h"
#include "VirtualDrive.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

namespace {

constexpr double kAngleUnits = 65536.0; // per electrical turn
// The drive's electrical angle is the q axis's, a quarter turn ahead of the
// field the test imposes (along which the rotor's flux lines up).
constexpr double kQuarterTurn = kAngleUnits / 4.0;
constexpr double kFullScaleVolts = 5.0;
// The test turns the field up to its speed within a second and a ramp.
constexpr double kAtSpeed = 1.2; // [s]
constexpr double kGiveUp = 8.0;  // [s]
// The clock's step while one sample is read: the four readings are then
// taken at one moment.
constexpr double kSampleStep = 1e-7; // [s]

double Wrap(double angle)
{
    return angle - kAngleUnits * std::floor((angle + kAngleUnits / 2.0) / kAngleUnits);
}

double Degrees(double angle)
{
    return angle * 360.0 / kAngleUnits;
}

// The imposed angle in degrees, from 0 to 360.
double TurnDegrees(double angle)
{
    const double degrees = std::fmod(Degrees(angle), 360.0);
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

} // namespace

HallCheck::HallCheck(const CMC_Setup& setup, const VirtualDrive& drive, SteppedClock& clock)
    : m_setup(setup), m_drive(drive), m_clock(clock), m_signals(HallTraces::VariableNames(setup)),
      m_countsPerVolt(Compute_ADCMaxValue(&setup) / kFullScaleVolts)
{
}

bool HallCheck::Read(Reading& reading)
{
    DriveLink* link = CMC_Comm::ActiveLink();
    if (!link)
        return false;
    const double step = m_clock.Step();
    m_clock.SetStep(kSampleStep);
    double before = 0.0, after = 0.0;
    bool ok = link->ReadVariable(CMC_Comm::Now(), "THTST", before) == LinkResult::Ok;
    for (std::size_t k = 0; k < 3 && ok; ++k)
        ok = link->ReadVariable(CMC_Comm::Now(), m_signals[k], reading.counts[k]) == LinkResult::Ok;
    ok = ok && link->ReadVariable(CMC_Comm::Now(), "THTST", after) == LinkResult::Ok;
    m_clock.SetStep(step);
    reading.imposed = before + 0.5 * Wrap(after - before);
    return ok;
}

bool HallCheck::Sample()
{
    if (m_started < 0.0)
        m_started = m_drive.Time();
    if (m_drive.Time() > m_started + kGiveUp)
        return true;
    if (m_drive.Time() < m_started + kAtSpeed)
        return false;
    Reading reading;
    if (!Read(reading))
        return true;
    if (!m_readings.empty())
        m_turned += std::abs(Wrap(reading.imposed - m_readings.back().imposed));
    m_readings.push_back(reading);
    return m_turned >= kAngleUnits;
}

// The drive's own arithmetic on the signals, with the setup's registers,
// turned by "ALPHA".
double HallCheck::HallAngle(const Reading& reading) const
{
    const char* gains[3] = {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN"};
    const char* offsets[3] = {"HALLAOFF", "HALLBOFF", "HALLCOFF"};
    double gain[3], offset[3];
    for (std::size_t k = 0; k < 3; ++k) {
        gain[k] = m_setup.GetParameterValueInInternalUnit(gains[k]);
        offset[k] = m_setup.GetParameterValueInInternalUnit(offsets[k]);
    }
    return Firmware::HallAngleOf(reading.counts.data(), gain, offset) +
           m_setup.GetParameterValueInInternalUnit("ALPHA");
}

Trace HallCheck::SignalTrace() const
{
    Trace trace{"hall-signals",
                "Hall signals over an electrical turn",
                "Imposed electrical angle [deg]",
                "Signal [V]",
                {"Imposed electrical angle [deg]", "Hall A [V]", "Hall B [V]", "Hall C [V]"},
                {}};
    for (const Reading& r : m_readings)
        trace.rows.push_back({TurnDegrees(r.imposed), r.counts[0] / m_countsPerVolt,
                              r.counts[1] / m_countsPerVolt, r.counts[2] / m_countsPerVolt});
    std::sort(trace.rows.begin(), trace.rows.end());
    return trace;
}

std::vector<std::vector<double>> HallCheck::ErrorRows() const
{
    std::vector<std::vector<double>> rows;
    for (const Reading& r : m_readings)
        rows.push_back({TurnDegrees(r.imposed), Degrees(Wrap(HallAngle(r) - r.imposed - kQuarterTurn))});
    std::sort(rows.begin(), rows.end());
    return rows;
}

Trace HallCheck::AngleErrorTrace() const
{
    return {"hall-angle-error",
            "Electrical angle from the commissioned Hall signals less the imposed angle (the rotor's lag "
            "behind the turning field included)",
            "Imposed electrical angle [deg]",
            "Angle error [deg]",
            {"Imposed electrical angle [deg]", "Error [deg]"},
            ErrorRows()};
}

std::string HallCheck::Summary() const
{
    const auto rows = ErrorRows();
    if (rows.empty())
        return "Hall angle check: no samples";
    double mean = 0.0, low = rows.front()[1], high = low;
    for (const auto& row : rows) {
        mean += row[1] / static_cast<double>(rows.size());
        low = std::min(low, row[1]);
        high = std::max(high, row[1]);
    }
    std::ostringstream text;
    text.precision(3);
    text << "Hall angle less the field's over a turn (the rotor's lag behind it included): mean " << mean
         << " deg, " << low << " to " << high << " deg (" << rows.size() << " samples)";
    return text.str();
}
