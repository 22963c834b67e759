// The scope settings in a setup option, on any text: the logger refuses the
// text and keeps its settings, or takes it and writes it back as it reads.
#include "FuzzSetup.h"
#include "ScopeLogger.h"
#include "ScopeSettings.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RestoredAfterInput working;
    CMC_Setup& setup = working.Setup();
    setup.SetOption(kFuzzScopeOption, std::string_view(reinterpret_cast<const char*>(data), size));
    CMC_ScopeLogger logger(&setup, nullptr);
    const std::string before = FormatScopeSettings(logger.GetSettings());
    if (logger.LoadSettingsFromSetupOption(kFuzzScopeOption) == 0) {
        if (FormatScopeSettings(logger.GetSettings()) != before)
            __builtin_trap();
        return 0;
    }
    ScopeSettings again;
    std::string error;
    if (!ParseScopeSettings(FormatScopeSettings(logger.GetSettings()), again, error))
        __builtin_trap();
    return 0;
}
