#include "SetupDialogTest.h"

#include "AdvancedDialog.h"
#include "Limits.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <QWidget>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

class AdvancedDialogTest : public SetupDialogTest {
protected:
    void SetUp() override
    {
        SetupDialogTest::SetUp();
        Prepare(0);
    }

    // The reference setup in a control mode, as the editor hands it over:
    // registers and parameters in step, ranges computed.
    void Prepare(int mode)
    {
        setup = Reference();
        setup->SetParameterValueInBaseUnit("ControlMode", mode);
        ComputeRegistersFromParameters(setup.get());
        ComputeParametersFromRegisters(setup.get());
        ComputeParameterLimits(setup.get());
    }

    int Run(const DialogScript& script)
    {
        user.OnDialog(110, script);
        CAdvancedDialog dialog(setup.get(), nullptr);
        return dialog.DoModal();
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
    static QColor Colour(DialogDriver& d, int id)
    {
        return d.Dialog()->GetDlgItem(id)->palette().color(QPalette::WindowText);
    }

    // A value the drive counts per slow-loop sample: its internal value goes
    // with the period to this power.
    struct Counted {
        std::string name;
        int power;
        double base;
        double internal;
    };
    std::vector<Counted> LoopCounted() const
    {
        static const std::map<std::string, int> powers = {{"s", 1},        {"rad/s", -1}, {"m/s", -1},
                                                          {"rad/s^2", -2}, {"m/s^2", -2}, {"A/s", -1}};
        std::vector<Counted> values;
        for (const auto& p : setup->GetParameters()) {
            const auto power = powers.find(p->UnitType().GetBaseUnit());
            // In position control the speed end points of the analogue
            // reference are read back from the position reference's gain.
            if (power == powers.end() || p->GetType() >= PT_COMPUTED || !p->IsDriveScaled() ||
                p->Name() == "SPD_max" || p->Name() == "SPD_min")
                continue;
            values.push_back(
                {p->Name(), power->second, p->GetValueInBaseUnit(), p->GetValueInInternalUnit()});
        }
        return values;
    }

    // Engineering values kept within one count of the new period; internal
    // values moved by the ratio of old to new period.
    void ExpectRescaled(const std::vector<Counted>& before, double ratio) const
    {
        for (const Counted& c : before) {
            const CMC_Parameter& p = *setup->FindParameter(c.name);
            const double count = std::abs(p.InternalToBase(1.0) - p.InternalToBase(0.0));
            EXPECT_NEAR(p.GetValueInBaseUnit(), c.base, count + 1e-12 * std::abs(c.base)) << c.name;
            EXPECT_NEAR(p.GetValueInInternalUnit(), c.internal * std::pow(ratio, c.power), 1.0) << c.name;
        }
    }
};

TEST_F(AdvancedDialogTest, SlowDividerChangeKeepsEveryTimeSpeedAndAccelerationValue)
{
    for (const char* divider : {"20", "7", "16"}) {
        SCOPED_TRACE(divider);
        Prepare(0);
        const auto before = LoopCounted();
        ASSERT_GT(before.size(), 15u);
        const double driveCurrent = Value("I_I2t_D");
        const double motorCurrent = Value("I_I2t_M");

        EXPECT_EQ(Run([&](DialogDriver& d) {
                      d.SetEditText(1135, QString::fromUtf8(divider));
                      d.Ok();
                  }),
                  IDOK);

        EXPECT_DOUBLE_EQ(Value("Ts_S"), 50e-6 * std::stod(divider));
        ExpectRescaled(before, 10.0 / std::stod(divider));
        // No range cut an I2t time: the currents stay, but for the time the
        // whole scale register holds (half a count of it moves the time).
        EXPECT_NEAR(Value("I_I2t_D"), driveCurrent, 0.5 / Value("SFI2T_D") * driveCurrent);
        EXPECT_NEAR(Value("I_I2t_M"), motorCurrent, 0.5 / Value("SFI2T_M") * motorCurrent);
    }
}

TEST_F(AdvancedDialogTest, AnI2tTimeCutByItsRangeLowersTheCurrentToKeepCurrentSquaredTimesTime)
{
    // An I2t time holds at least 2048 slow-loop samples: 4.096 s at four times
    // the period (2 ms), above the drive's 3 s, below the motor's 5 s.
    const double driveTime = Value("t_I2t_D");
    const double driveCurrent = Value("I_I2t_D");
    const double motorTime = Value("t_I2t_M");
    const double motorCurrent = Value("I_I2t_M");
    ASSERT_LT(driveTime, 4.0);
    ASSERT_GT(motorTime, 4.2);

    Run([](DialogDriver& d) {
        d.SetEditText(1135, QStringLiteral("40"));
        d.Ok();
    });

    EXPECT_NEAR(Value("t_I2t_D"), 4.096, 1e-9);
    const double product = driveCurrent * driveCurrent * driveTime;
    EXPECT_NEAR(Value("I_I2t_D") * Value("I_I2t_D") * Value("t_I2t_D"), product, 1e-6 * product);
    EXPECT_NEAR(Value("t_I2t_M"), motorTime, 0.002);
    EXPECT_NEAR(Value("I_I2t_M"), motorCurrent, 1e-9 * motorCurrent);
}

TEST_F(AdvancedDialogTest, PwmFrequencyChangesKeepTheLoopPeriods)
{
    const auto before = LoopCounted();
    Run([&](DialogDriver& d) {
        const QString fastPeriod = d.Text(1141);
        const QString slowPeriod = d.Text(1144);
        d.SetEditText(1129, QStringLiteral("40")); // kHz
        EXPECT_EQ(d.Text(1132), "2");
        EXPECT_EQ(d.Text(1135), "20");
        EXPECT_EQ(d.Text(1141), fastPeriod);
        EXPECT_EQ(d.Text(1144), slowPeriod);
        EXPECT_DOUBLE_EQ(Value("PWMperiod"), 25e-6);

        // At 10 kHz the fast divider cannot go below 1: the fast period doubles.
        d.SetEditText(1129, QStringLiteral("10"));
        EXPECT_EQ(Value("CLPER"), 1.0);
        EXPECT_EQ(Value("SLPER"), 5.0);
        EXPECT_DOUBLE_EQ(Value("Ts_C"), 100e-6);
        // Back at 20 kHz the fast period the user chose returns.
        d.SetEditText(1129, QStringLiteral("20"));
        EXPECT_EQ(d.Text(1141), fastPeriod);
        d.Ok();
    });
    ExpectRescaled(before, 1.0);
}

TEST_F(AdvancedDialogTest, LoopPeriodsBelowTheirMinimumTurnRedAndBlockOk)
{
    const int result = Run([&](DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(1148));
        EXPECT_FALSE(d.IsVisible(1149));
        d.SetEditText(1129, QStringLiteral("40")); // 25 us PWM period
        d.SetEditText(1132, QStringLiteral("1"));  // 25 us < 40 us
        EXPECT_TRUE(d.IsVisible(1148));
        EXPECT_EQ(Colour(d, 1131), kRed);
        EXPECT_EQ(Colour(d, 1140), kRed);
        EXPECT_EQ(Colour(d, 1134), kBlack);
        d.SetEditText(1135, QStringLiteral("4")); // 0.1 ms < 0.2 ms
        EXPECT_TRUE(d.IsVisible(1149));
        EXPECT_EQ(Colour(d, 1143), kRed);

        d.Ok();
        EXPECT_TRUE(d.Dialog()->isVisible());
        ASSERT_EQ(user.Messages().size(), 2u);
        EXPECT_EQ(
            user.Messages()[0].text,
            "The minimum value for Fast loop sampling period is 0.040 ms!\nPlease adjust the PWM frequency "
            "and/or the Fast loop sampling frequency divider until this condition is fulfilled!");
        EXPECT_EQ(
            user.Messages()[1].text,
            "The minimum value for Slow loop sampling period is 0.200 ms!\nPlease adjust the PWM frequency "
            "and/or the Slow loop sampling frequency divider until this condition is fulfilled!");

        d.SetEditText(1135, QStringLiteral("8"));
        EXPECT_FALSE(d.IsVisible(1149));
        EXPECT_EQ(Colour(d, 1134), kBlack);
        // A PWM frequency change moves the periods: the warning follows.
        d.SetEditText(1129, QStringLiteral("20")); // CLPER stays 1: 50 us
        EXPECT_FALSE(d.IsVisible(1148));
        EXPECT_EQ(Colour(d, 1140), kBlack);
        d.Ok();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(user.Messages().size(), 2u);
}

TEST_F(AdvancedDialogTest, AFastDividerAboveTheSlowOneRaisesItAndTheSlowValuesFollow)
{
    const auto before = LoopCounted();
    Run([&](DialogDriver& d) {
        d.SetEditText(1132, QStringLiteral("12"));
        EXPECT_EQ(d.Text(1135), "12");
        d.Ok();
    });
    EXPECT_DOUBLE_EQ(Value("Ts_S"), 600e-6);
    ExpectRescaled(before, 500.0 / 600.0);
}

TEST_F(AdvancedDialogTest, CancelPutsTheSetupBackAsItWas)
{
    const double time = Value("time_ERR_pos");
    Run([](DialogDriver& d) {
        d.SetEditText(1135, QStringLiteral("20"));
        d.SetEditText(1129, QStringLiteral("16"));
        d.Cancel();
    });
    EXPECT_EQ(Value("SLPER"), 10.0);
    EXPECT_EQ(Value("PWM_freq"), 20000.0);
    EXPECT_EQ(Value("time_ERR_pos"), time);
}

TEST_F(AdvancedDialogTest, ControlSchemeFollowsModeAndRadios)
{
    auto scheme = [](DialogDriver& d) { return static_cast<CAdvancedDialog*>(d.Dialog())->SchemeBitmap(); };
    Run([&](DialogDriver& d) {
        EXPECT_EQ(scheme(d), 3016);
        EXPECT_TRUE(d.IsEnabled(3374));
        d.Click(3344);
        EXPECT_EQ(scheme(d), 3017);
        // Without the speed loop the feed-forward acts on the current loop.
        EXPECT_FALSE(d.IsEnabled(3374));
        EXPECT_TRUE(d.IsChecked(3375));
        d.Click(3397);
        for (int id = 3398; id <= 3403; ++id)
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.Click(10024);
        d.Click(3510);
        d.Ok();
    });
    EXPECT_EQ(user.HelpTopics(), std::vector<unsigned>{262419});
    EXPECT_EQ(user.OpenedDialogs(), (std::vector<int>{110, 295}));

    Prepare(1);
    Run([&](DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(3344));
        EXPECT_FALSE(d.IsVisible(3345));
        EXPECT_EQ(scheme(d), 3062);
        EXPECT_FALSE(d.IsEnabled(3374));
        EXPECT_TRUE(d.IsEnabled(3375));
        EXPECT_FALSE(d.IsEnabled(3397));
    });
    Prepare(2);
    Run([&](DialogDriver& d) {
        EXPECT_EQ(scheme(d), 3063);
        EXPECT_FALSE(d.IsEnabled(3375));
    });
}

} // namespace
