// The reference setup of the fuzz targets, read once, with the module's
// scale registered and reported errors dropped (a refusal is an outcome the
// targets expect, not a finding).
#pragma once

#include "Errors.h"
#include "ScaleFactors.h"
#include "Setup.h"
#include "SetupDescription.h"
#include "SetupFile.h"

#include <cstdlib>
#include <memory>
#include <string>

inline const CMC_Setup& FuzzReferenceSetup()
{
    static const std::unique_ptr<CMC_Setup> reference = [] {
        SetErrorSink([](const std::string&) {});
        RegisterScaleProvider({&ScaleFactorOf, &ScaleOffsetOf});
        SetupLoadResult loaded =
            LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
        if (!loaded.setup)
            std::abort();
        return std::move(loaded.setup);
    }();
    return *reference;
}
