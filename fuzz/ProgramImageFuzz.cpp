// The program image reader on any bytes: it refuses with a reason or reads a
// named program, never crashes.
#include "CoffFormat.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CMC_CoffFormat image;
    image.m_strFileName = "programs/fuzz.json";
    const int read = image.ParseImage(std::string_view(reinterpret_cast<const char*>(data), size));
    if (read != (image.IsLoaded() ? 1 : 0) || (read == 0 && image.LastError().empty()))
        __builtin_trap();
    return 0;
}
