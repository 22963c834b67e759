// Setup files: JSON with a format name and version, written so that reading
// and writing again gives the same bytes, and saved atomically.
#pragma once

#include "AtomicWrite.h"

#include <memory>
#include <string>
#include <string_view>

class CMC_Setup;
class SetupDescription;

inline constexpr const char* kSetupFormatName = "velmaro-setup";
inline constexpr int kSetupFormatVersion = 1;

struct SetupLoadResult {
    std::unique_ptr<CMC_Setup> setup; // null on failure
    std::string error;                // "FILE:LINE: problem" on failure
};

// Reads a setup. A damaged, truncated or foreign file, a duplicate name, an
// unknown name, a wrong type or a non-finite number is refused; nothing of an
// existing setup is touched since the result is a new setup.
SetupLoadResult LoadSetupFile(const std::string& path, std::shared_ptr<const SetupDescription> description);
SetupLoadResult ParseSetup(std::string_view text, const std::string& fileName,
                           std::shared_ptr<const SetupDescription> description);

std::string SerializeSetup(const CMC_Setup& setup);
// Saves with WriteFileAtomically (AtomicWrite.h).
bool SaveSetupFile(const CMC_Setup& setup, const std::string& path, std::string& error);
