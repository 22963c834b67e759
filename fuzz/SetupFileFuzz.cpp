// The setup file reader on any bytes: it refuses or reads, never crashes;
// what it reads is written and read again to the same text.
#include "Errors.h"
#include "Setup.h"
#include "SetupDescription.h"
#include "SetupFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto description = SetupDescription::Default();
    static const bool quiet = (SetErrorSink([](const std::string&) {}), true);
    (void)quiet;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    SetupLoadResult loaded = ParseSetup(text, "fuzz.json", description);
    if (!loaded.setup)
        return 0;
    const std::string written = SerializeSetup(*loaded.setup);
    SetupLoadResult again = ParseSetup(written, "fuzz.json", description);
    if (!again.setup || SerializeSetup(*again.setup) != written)
        __builtin_trap();
    return 0;
}
