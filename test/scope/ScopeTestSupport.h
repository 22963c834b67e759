// What the scope logger's tests share: the reference setup with simple drive
// scales (100 counts per ampere, 10 counts per rad/s) on a scripted drive,
// errors captured, a scratch folder, and scope frames made from samples.
#pragma once

#include "Comm.h"
#include "DriveClock.h"
#include "Errors.h"
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

// Samples (one row per sample, one value per channel) as a frame's payload.
inline std::vector<std::uint8_t> Payload(const std::vector<std::vector<std::int32_t>>& samples)
{
    std::vector<std::uint8_t> bytes;
    for (const auto& sample : samples)
        for (std::int32_t value : sample) {
            const auto word = static_cast<std::uint32_t>(value);
            for (int shift : {0, 8, 16, 24})
                bytes.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    return bytes;
}

// A whole scope frame: word count, sequence number, code, payload.
inline UnsolicitedFrame Frame(std::uint16_t sequence, const std::vector<std::vector<std::int32_t>>& samples)
{
    const std::vector<std::uint8_t> payload = Payload(samples);
    const auto words = static_cast<std::uint16_t>(payload.size() / 2);
    UnsolicitedFrame frame{CMC_ScopeLogger::kFrameCode, {}};
    for (std::uint16_t word : {words, sequence, CMC_ScopeLogger::kFrameCode}) {
        frame.data.push_back(static_cast<std::uint8_t>(word & 0xFF));
        frame.data.push_back(static_cast<std::uint8_t>(word >> 8));
    }
    frame.data.insert(frame.data.end(), payload.begin(), payload.end());
    return frame;
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
