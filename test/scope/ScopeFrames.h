// Scope frames as the drive sends them, for tests that feed a scope logger.
#pragma once

#include "DriveLink.h"
#include "ScopeLogger.h"

#include <cstdint>
#include <vector>

namespace scopetest {

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

} // namespace scopetest
