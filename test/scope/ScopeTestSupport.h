// What the scope logger's tests share: the reference setup with simple drive
// scales (100 counts per ampere, 10 counts per rad/s) on a scripted drive,
// errors captured, a scratch folder, and scope frames made from samples.
#pragma once

#include "Comm.h"
#include "DriveClock.h"
#include "Errors.h"
#include "ScopeFrames.h"
#include "ScopeLogger.h"
#include "ScratchFolder.h"
#include "ScriptedDrive.h"
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace scopetest {

inline double Factor(CMC_Setup*, const char* unit, const char*)
{
    const std::string name = unit;
    return name == "A" ? 0.01 : name == "rad/s" ? 0.1 : 1.0;
}

inline double Offset(CMC_Setup*, const char*)
{
    return 0.0;
}

// A ramp of samples for one channel: from, from + step, ... (count samples).
inline std::vector<std::vector<std::int32_t>> Ramp(std::int32_t from, std::int32_t step, int count)
{
    std::vector<std::vector<std::int32_t>> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back({from + i * step});
    return samples;
}

class ScopeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previousSink = SetErrorSink([this](const std::string& message) { errors.push_back(message); });
        RegisterScaleProvider({&Factor, &Offset});
        setup = simtest::ReferenceSetup();
        drive = std::make_shared<ScriptedDrive>();
        CMC_Comm::SetActiveLink(drive, std::make_shared<SteppedClock>(0.01));
    }

    void TearDown() override
    {
        CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(nullptr);
        CMC_Comm::SetActiveLink(nullptr, nullptr);
        RegisterScaleProvider({});
        SetErrorSink(std::move(m_previousSink));
        ::unsetenv("VELMARO_PLOT_DIR");
    }

    // A fresh folder, removed after the test.
    const std::filesystem::path& Scratch() { return m_scratch.Path(); }

    // The internal values of one column of the screen, place by place.
    static std::vector<double> Screen(const CMC_ScopeLogger& logger, int column, std::size_t count)
    {
        std::vector<double> values;
        const CGraphDocument& document = logger.GetGraphDocument();
        for (std::size_t i = 0; i < count && i < document.PointCount(); ++i) {
            const std::vector<double>& row = document.Point(i);
            values.push_back(static_cast<std::size_t>(column) < row.size()
                                 ? row[static_cast<std::size_t>(column)]
                                 : std::nan(""));
        }
        return values;
    }

    std::unique_ptr<CMC_Setup> setup;
    std::shared_ptr<ScriptedDrive> drive;
    std::vector<std::string> errors;

private:
    ErrorSink m_previousSink;
    ScratchFolder m_scratch{"velmaro-scope-"};
};

} // namespace scopetest
