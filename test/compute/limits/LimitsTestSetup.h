// A small drive for the limit, option and design tests: 20 kHz PWM from a
// 40 MHz clock, current loop every PWM period (TC = 50 us), speed loop every
// tenth (TS = 0.5 ms), 4096 increments per revolution, a 10-bit converter and
// a 10 A drive peak current.
#pragma once

#include "EngineTestSetup.h"

#include <cmath>
#include <numbers>

class DriveTest : public EngineTest {
public:
    static constexpr double kTwoPi = 2.0 * std::numbers::pi;
    static constexpr double kTs = 5e-4; // [s]
    static constexpr double kTc = 5e-5; // [s]
    static constexpr double kIncrementsPerRad = 4096.0 / kTwoPi;
    static constexpr double kCountsPerAmp = 65472.0 / 20.0; // 10-bit converter, +-10 A

protected:
    static std::unique_ptr<CMC_Setup> Drive(std::initializer_list<std::pair<const char*, double>> more = {})
    {
        auto setup = With({{"DSP_freq", 40e6},
                           {"PWMPER", 1000},
                           {"CLPER", 1},
                           {"SLPER", 10},
                           {"MECRESL", 4096},
                           {"Motor_transmission", kTwoPi},
                           {"Load_transmission", kTwoPi},
                           {"ImaxPS", 10},
                           {"Vdc", 48}});
        Add(*setup, more);
        return setup;
    }

    // Values in internal units (base for physical quantities and registers).
    static void Add(CMC_Setup& setup, std::initializer_list<std::pair<const char*, double>> values)
    {
        for (const auto& [name, value] : values) {
            CMC_Parameter* p = setup.AddParameter(name);
            ASSERT_NE(p, nullptr) << name;
            p->SetValueInInternalUnit(value);
        }
    }

    static CMC_Parameter& Param(CMC_Setup& setup, const char* name)
    {
        CMC_Parameter* p = setup.FindParameter(name);
        EXPECT_NE(p, nullptr) << name;
        return *p;
    }

    static void SetBase(CMC_Setup& setup, const char* name, double value)
    {
        ASSERT_EQ(Param(setup, name).SetValueInBaseUnit(value), 1) << name;
    }

    static void SetRange(CMC_Setup& setup, const char* name, double min, double max)
    {
        Param(setup, name).SetMinInBaseUnit(min);
        Param(setup, name).SetMaxInBaseUnit(max);
    }

    static ::testing::AssertionResult RangeIs(CMC_Setup& setup, const char* name, double lo, double hi)
    {
        const double min = Param(setup, name).GetMinInBaseUnit();
        const double max = Param(setup, name).GetMaxInBaseUnit();
        auto near = [](double a, double b) { return std::abs(a - b) <= 1e-9 * (1.0 + std::abs(b)); };
        if (near(min, lo) && near(max, hi))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << name << " spans " << min << " to " << max << ", expected " << lo << " to " << hi;
    }

    // The analogue input exists when the drive has both the variable and the register.
    static void AddAnalogueInput(CMC_Setup& setup)
    {
        setup.AddVariable("CADIN");
        Add(setup, {{"CADIN", 51}});
    }
};

// The range [base units], to a relative 1e-9.
#define EXPECT_RANGE(setup, name, lo, hi) EXPECT_TRUE(RangeIs(setup, name, lo, hi))
