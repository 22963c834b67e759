// A small setup description and scale provider for the model's tests.
#pragma once

#include "Errors.h"
#include "Setup.h"
#include "SetupDescription.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

inline const char* kTestDescription = R"({
  "format": "velmaro-setup-description",
  "version": 1,
  "unitTypes": [
    {"name": "A", "base": "A", "driveScaled": true, "units": [["A", 1], ["mA", 0.001]]},
    {"name": "°C", "base": "°C", "driveScaled": true, "units": [["°C", 1]]},
    {"name": "rad/s", "base": "rad/s", "driveScaled": true, "units": [["rad/s", 1], ["rpm", 0.10471975511965977]]},
    {"name": "rpm", "base": "rad/s", "driveScaled": true, "units": [["rpm", 0.10471975511965977], ["rad/s", 1]]},
    {"name": "rot", "base": "rad", "driveScaled": true, "units": [["rot", 6.283185307179586], ["rad", 1]]},
    {"name": "mm", "base": "m", "driveScaled": true, "units": [["mm", 0.001], ["m", 1]]},
    {"name": "V", "base": "V", "driveScaled": true, "units": [["V", 1]]},
    {"name": "V ", "base": "V ", "driveScaled": true, "units": [["V", 1]]},
    {"name": "Current", "base": "A", "units": [["A", 1], ["mA", 0.001]]},
    {"name": "Inductance", "base": "H", "units": [["H", 1], ["mH", 0.001], ["µH", 1e-6]]}
  ],
  "parameters": [
    {"name": "KPI", "unitType": "", "type": 3, "default": 16384, "min": 0, "max": 32767},
    {"name": "ImaxPS", "unitType": "Current", "type": 4, "default": 10, "min": 0, "max": 1000},
    {"name": "Imax_Prot", "unitType": "A", "type": 0, "default": 100, "min": 0, "max": 1000},
    {"name": "Temp_2", "unitType": "°C", "type": 0, "default": 300, "min": -100, "max": 1000},
    {"name": "TestSpeed", "unitType": "rpm", "type": 0, "default": 40, "min": -1e6, "max": 1e6},
    {"name": "Load_transmission", "unitType": "rot", "type": 0, "default": 6.283185307179586, "min": 0, "max": 1e6, "physical": true},
    {"name": "isMotorI2t", "unitType": "", "type": 1, "default": 0, "min": 0, "max": 1},
    {"name": "L", "unitType": "Inductance", "type": 0, "default": 0.001, "min": 0, "max": 10},
    {"name": "Ts_S", "unitType": "", "type": 5, "default": 0.0005, "min": 0, "max": 1}
  ],
  "variables": [
    {"name": "ASPD", "unitType": "rad/s"},
    {"name": "MER", "unitType": ""},
    {"name": "TDRV", "unitType": "°C"}
  ]
})";

// Internal units: 2 counts per ampere, 4 counts per rad/s, 10 counts per
// radian, and degrees as (counts - 100) / 2.
inline double TestScaleFactor(CMC_Setup*, const char* unit, const char*)
{
    const std::string u = unit;
    if (u == "A")
        return 0.5;
    if (u == "rad/s")
        return 0.25;
    if (u == "rad")
        return 0.1;
    if (u == "°C")
        return 0.5;
    return 1.0;
}

inline double TestScaleOffset(CMC_Setup*, const char* unit)
{
    return std::strcmp(unit, "°C") == 0 ? -100.0 : 0.0;
}

inline std::shared_ptr<const SetupDescription> TestDescription()
{
    std::string error;
    auto description = SetupDescription::Parse(kTestDescription, "test-description.json", error);
    EXPECT_TRUE(description) << error;
    return description;
}

// Registers the test scale and captures every reported error for one test.
class ModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterScaleProvider({&TestScaleFactor, &TestScaleOffset});
        m_previousSink = SetErrorSink([this](const std::string& message) { errors.push_back(message); });
        g_bShowErrors = 1;
        setup = std::make_unique<CMC_Setup>(TestDescription());
        setup->AddAllDescribed();
    }
    void TearDown() override
    {
        SetErrorSink(std::move(m_previousSink));
        RegisterScaleProvider({});
        g_bShowErrors = 1;
    }

    CMC_Parameter& Param(const char* name) { return *setup->FindParameter(name); }

    std::unique_ptr<CMC_Setup> setup;
    std::vector<std::string> errors;

private:
    ErrorSink m_previousSink;
};
