// The scope's handler of the frames a drive sends on its own, on any bytes:
// an armed logger of one to three channels takes a stream of frames, whole,
// truncated, late or damaged, and draws what it took; never crashes.
#include "FuzzInput.h"
#include "FuzzSetup.h"
#include "ScopeLogger.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

constexpr const char* kVariables[] = {"Speed_Reference", "Motor_Current", "APOS"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RestoredAfterInput working;
    FuzzInput in(data, size);
    CMC_ScopeLogger logger(&working.Setup(), nullptr);
    const int channels = 1 + in.Take<std::uint8_t>() % 3;
    for (int i = 0; i < channels; ++i)
        logger.AddVariable(kVariables[i], 0);
    const auto mode = in.Take<std::uint8_t>();
    logger.ChangeSettings(0.1, mode & 1 ? CMC_ScopeLogger::TriggerAuto : CMC_ScopeLogger::TriggerNormal,
                          mode & 2 ? CMC_ScopeLogger::SlopeRising : CMC_ScopeLogger::SlopeFalling,
                          mode & 1 ? nullptr : kVariables[0], in.Take<std::int16_t>(), (mode >> 2) % 100);
    logger.OnProgramStarted();
    while (!in.Empty()) {
        UnsolicitedFrame frame;
        frame.code = in.Take<std::uint8_t>() == 0 ? in.Take<std::uint16_t>() : CMC_ScopeLogger::kFrameCode;
        const std::string_view bytes = in.TakeText(in.Take<std::uint8_t>());
        frame.data.assign(bytes.begin(), bytes.end());
        logger.OnFrameReceive(frame);
        int first = 0;
        int count = 0;
        logger.GetPointsToBeDrawn(first, count);
        if (count < 0 || (count > 0 && (first < 0 || first >= logger.GetPointsNo())))
            __builtin_trap();
    }
    logger.EndUploadData();
    return 0;
}
