// Setups for the engine's tests: the reference setup, or a setup that holds
// only the named parameters of the shipped description. The module's scale
// is registered with the model and every reported error is captured.
#pragma once

#include "Errors.h"
#include "ScaleFactors.h"
#include "Setup.h"
#include "SetupFile.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterScaleProvider({&ScaleFactorOf, &ScaleOffsetOf});
        m_previousSink = SetErrorSink([this](const std::string& message) { errors.push_back(message); });
        g_bShowErrors = 1;
    }
    void TearDown() override
    {
        SetErrorSink(std::move(m_previousSink));
        RegisterScaleProvider({});
        g_bShowErrors = 1;
    }

    static std::unique_ptr<CMC_Setup> Reference()
    {
        SetupLoadResult loaded =
            LoadSetupFile(DataDirectory() + "/reference-setup.json", SetupDescription::Default());
        EXPECT_TRUE(loaded.setup) << loaded.error;
        return std::move(loaded.setup);
    }

    // A setup with just these parameters (base values; internal for registers),
    // so a test controls exactly what exists.
    static std::unique_ptr<CMC_Setup> With(std::initializer_list<std::pair<const char*, double>> values)
    {
        auto setup = std::make_unique<CMC_Setup>(SetupDescription::Default());
        for (const auto& [name, value] : values) {
            CMC_Parameter* p = setup->AddParameter(name);
            EXPECT_NE(p, nullptr) << name << " is not in the setup description";
            if (p)
                p->SetValueInInternalUnit(value);
        }
        return setup;
    }

    static double Value(const CMC_Setup& setup, const char* name)
    {
        return setup.GetParameterValueInBaseUnit(name);
    }

    std::vector<std::string> errors;

private:
    ErrorSink m_previousSink;
};
