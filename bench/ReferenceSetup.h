// The shipped reference setup for the benchmarks; a setup that does not read
// stops the benchmark with the reader's message.
#pragma once

#include "Setup.h"
#include "SetupFile.h"

#include <memory>
#include <stdexcept>
#include <utility>

inline std::unique_ptr<CMC_Setup> LoadReferenceSetup()
{
    SetupLoadResult loaded =
        LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
    if (!loaded.setup)
        throw std::runtime_error(loaded.error);
    return std::move(loaded.setup);
}
