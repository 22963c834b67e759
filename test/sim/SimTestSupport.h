// What the virtual drive's tests share: the reference setup, a drive on a
// motor, and a host-like way to run a drive program to its end.
#pragma once

#include "Setup.h"
#include "SetupDescription.h"
#include "SetupFile.h"
#include "VirtualDrive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace simtest {

inline std::string DataPath(const std::string& name)
{
    return std::string(VELMARO_DATA_DIR) + "/" + name;
}

inline std::unique_ptr<CMC_Setup> ReferenceSetup()
{
    SetupLoadResult result = LoadSetupFile(DataPath("reference-setup.json"), SetupDescription::Default());
    EXPECT_TRUE(result.setup) << result.error;
    return std::move(result.setup);
}

// The registers a drive holds of a setup (as the virtual drive's download takes them).
inline std::vector<std::pair<std::string, double>> RegistersOf(const CMC_Setup& setup)
{
    std::vector<std::pair<std::string, double>> registers;
    for (const auto& p : setup.GetParameters())
        if (p->GetType() == PT_REGISTER || p->GetType() == PT_DRIVE_DATA || p->GetType() == PT_READ_ONLY)
            registers.emplace_back(p->Name(), p->GetValueInInternalUnit());
    return registers;
}

inline MotorModel LoadMotor(const std::string& file)
{
    MotorModel motor;
    std::string error;
    EXPECT_TRUE(MotorModel::Load(DataPath("motors/" + file), motor, error)) << error;
    return motor;
}

// A host's view of a drive: a clock that moves 20 ms per poll.
class Host {
public:
    explicit Host(VirtualDrive& drive) : m_drive(drive) {}

    double Tick(double seconds = 0.02) { return m_now += seconds; }
    double Now() const { return m_now; }
    VirtualDrive& Drive() { return m_drive; }

    void Download(const CMC_Setup& setup) { ASSERT_EQ(m_drive.DownloadSetup(Tick(), setup), LinkResult::Ok); }

    double User(const std::string& program, const std::string& name)
    {
        double value = 0.0;
        EXPECT_EQ(m_drive.ReadUserVariable(Tick(), program, name, value), LinkResult::Ok)
            << program << " " << name;
        return value;
    }
    void SetUser(const std::string& program, const std::string& name, double value)
    {
        EXPECT_EQ(m_drive.WriteUserVariable(Tick(), program, name, value), LinkResult::Ok)
            << program << " " << name;
    }
    double Variable(const std::string& name)
    {
        double value = 0.0;
        EXPECT_EQ(m_drive.ReadVariable(Tick(), name, value), LinkResult::Ok) << name;
        return value;
    }
    int Mer() { return static_cast<int>(Variable("MER")); }
    bool AxisOn()
    {
        bool on = false;
        EXPECT_EQ(m_drive.GetAxisOn(Tick(), on), LinkResult::Ok);
        return on;
    }

    // Writes the inputs, starts the program and polls as the test dialogs do
    // until "STARTED" is set and the power stage is off again.
    bool Run(const std::string& program, const std::vector<std::pair<std::string, double>>& inputs,
             const LogRequest* log = nullptr, double timeout = 30.0)
    {
        for (const auto& [name, value] : inputs)
            SetUser(program, name, value);
        const ProgramRequest request{program, {}};
        if (m_drive.StartProgram(Tick(), request, log) != LinkResult::Ok)
            return false;
        return WaitForEnd(program, timeout);
    }

    bool WaitForEnd(const std::string& program, double timeout = 30.0)
    {
        const double end = m_now + timeout;
        while (m_now < end) {
            if (User(program, "STARTED") != 0.0 && !AxisOn())
                return true;
        }
        return false;
    }

    // The preliminary positioning with a test current; returns "In1".
    double Position(double testCurrent)
    {
        EXPECT_TRUE(Run("Initial_Positioning_Test", {{"In1", testCurrent}}));
        return User("Initial_Positioning_Test", "In1");
    }

private:
    VirtualDrive& m_drive;
    double m_now = 0.0;
};

// The reference setup's test current [current units] (0.5 x the drive's nominal current).
inline constexpr double kTestCurrent = 5401.0;
// Current units per ampere of the reference drive (65472 / (2 x 10 A)).
inline constexpr double kCurrentScale = 3273.6;

} // namespace simtest
