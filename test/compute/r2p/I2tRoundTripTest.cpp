// The i2t currents against the register rows of the other direction: a
// register gives back the register, a current the current, and repeating the
// two directions never moves either (the drive's current once grew by 3e-5 of
// its excess over the nominal current on every round).
#include "EngineTestSetup.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <cmath>
#include <random>

namespace {

constexpr double kTwo26 = 67108864.0;

double DriveLimit(double current, double nominal, double ki)
{
    return ki * (current * current - nominal * nominal) * ki * kTwo26 / 32767 / 32767;
}

double MotorLimit(double current, double nominal, double ki)
{
    return (current * current - nominal * nominal) * ki * ki * 0.0625;
}

struct Drive {
    double ki, nominal;
};

// Current scales of drives from 0.5 A to 500 A peak, nominal currents up to the peak.
Drive RandomDrive(std::mt19937_64& random)
{
    const double peak =
        std::exp(std::uniform_real_distribution<double>(std::log(0.5), std::log(500.0))(random));
    return {65472.0 / (2 * peak), std::uniform_real_distribution<double>(0.05, 1.0)(random) * peak};
}

double LogUniform(std::mt19937_64& random, double lo, double hi)
{
    return std::exp(std::uniform_real_distribution<double>(std::log(lo), std::log(hi))(random));
}

class I2tRoundTrip : public EngineTest {
protected:
    std::mt19937_64 random{7};
};

} // namespace

TEST_F(I2tRoundTrip, RegistersComeBackFromTheirCurrents)
{
    for (int i = 0; i < 20000; ++i) {
        const Drive d = RandomDrive(random);
        const double limit = std::floor(LogUniform(random, 1.0, 4294967295.0));
        // The error of the square lies in the last places of the largest term, I^2 x KI^2.
        const double scale = limit + DriveLimit(d.nominal * std::sqrt(2.0), d.nominal, d.ki);
        EXPECT_NEAR(DriveLimit(DriveI2tCurrentFromLimit(limit, d.nominal, d.ki), d.nominal, d.ki), limit,
                    1e-12 * scale);
        const double motorScale = limit + MotorLimit(d.nominal * std::sqrt(2.0), d.nominal, d.ki);
        EXPECT_NEAR(MotorLimit(MotorI2tCurrentFromLimit(limit, d.nominal, d.ki), d.nominal, d.ki), limit,
                    1e-12 * motorScale);
    }
}

TEST_F(I2tRoundTrip, CurrentsComeBackFromTheirRegisters)
{
    for (int i = 0; i < 20000; ++i) {
        const Drive d = RandomDrive(random);
        const double current = d.nominal * LogUniform(random, 1.0 + 1e-6, 20.0);
        EXPECT_NEAR(DriveI2tCurrentFromLimit(DriveLimit(current, d.nominal, d.ki), d.nominal, d.ki), current,
                    1e-12 * current);
        EXPECT_NEAR(MotorI2tCurrentFromLimit(MotorLimit(current, d.nominal, d.ki), d.nominal, d.ki), current,
                    1e-12 * current);
    }
}

// Through the setup and the real register rows, as the dialogs run them.
TEST_F(I2tRoundTrip, RepeatingBothDirectionsNeverMovesAValue)
{
    struct Pair {
        const char *current, *limit;
        int (*toRegister)(CMC_Setup*);
        int (*toCurrent)(CMC_Setup*);
    };
    auto setup = Reference();
    for (const Pair& pair : {Pair{"I_I2t_D", "I2TINTLIM_D", &Compute_I2TINTLIM_D, &Compute_I_I2t_D},
                             Pair{"I_I2t_M", "I2TINTLIM_M", &Compute_I2TINTLIM_M, &Compute_I_I2t_M}}) {
        CMC_Parameter* current = setup->FindParameter(pair.current);
        CMC_Parameter* limit = setup->FindParameter(pair.limit);
        for (int i = 0; i < 3000; ++i) {
            // From a current the user typed, no lower than the editor allows (a
            // current below the nominal one gives a limit below zero, which
            // the register cannot hold).
            const double typed = LogUniform(random, current->GetMinInBaseUnit(), 30.0);
            current->SetValueInBaseUnit(typed);
            pair.toRegister(setup.get());
            const double reg = limit->GetValueInInternalUnit();
            ASSERT_EQ(pair.toCurrent(setup.get()), 1);
            const double settled = current->GetValueInInternalUnit();
            // The current the whole register holds: half a count is below 1e-7 of it here.
            EXPECT_NEAR(current->GetValueInBaseUnit(), typed, 1e-7 * typed);
            pair.toRegister(setup.get());
            pair.toCurrent(setup.get());
            ASSERT_EQ(limit->GetValueInInternalUnit(), reg) << pair.limit << " from " << typed << " A";
            ASSERT_EQ(current->GetValueInInternalUnit(), settled) << pair.current << " " << typed << " A";

            // From a register read from a drive.
            const double read = std::floor(LogUniform(random, 1e3, 4294967295.0));
            limit->SetValueInInternalUnit(read);
            pair.toCurrent(setup.get());
            pair.toRegister(setup.get());
            const double written = limit->GetValueInInternalUnit();
            // The error lies in the last places of the largest term, about 1e7 counts here.
            EXPECT_NEAR(written, read, 1e-12 * (read + 1e8)) << pair.limit;
            pair.toCurrent(setup.get());
            pair.toRegister(setup.get());
            ASSERT_EQ(limit->GetValueInInternalUnit(), written) << pair.limit << " read as " << read;
        }
    }
    EXPECT_TRUE(errors.empty());
}
