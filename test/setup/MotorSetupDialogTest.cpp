#include "SetupDialogTest.h"

#include "BrakeOutputs.h"
#include "MotorSetupDialog.h"
#include "RegistersToParameters.h"
#include "TestLauncher.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>

#include <cmath>
#include <numbers>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

class MotorSetupDialogTest : public SetupDialogTest {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(errors.empty()) << errors.front();
        ResetBrakeOutputLines();
        SetupDialogTest::TearDown();
    }

    int Run(const DialogScript& script)
    {
        user.OnDialog(CMotorSetupDialog::kTemplateId, script);
        CMotorSetupDialog dialog(setup.get(), nullptr);
        return dialog.DoModal();
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
    void Set(const char* name, double base) { setup->SetParameterValueInBaseUnit(name, base); }
};

// Registers a stand-in for one commissioning test for the length of a test.
class FakeTest {
public:
    FakeTest(ModuleTest test, TestRunner runner) : m_test(test)
    {
        RegisterModuleTest(test, std::move(runner));
    }
    ~FakeTest() { RegisterModuleTest(m_test, {}); }
    FakeTest(const FakeTest&) = delete;
    FakeTest& operator=(const FakeTest&) = delete;

private:
    ModuleTest m_test;
};

TEST_F(MotorSetupDialogTest, InertiaUnknownDisablesEditUnitAndLabelTogetherAndBack)
{
    const int result = Run([&](DialogDriver& d) {
        for (int id : {1172, 1173, 3267})
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.Click(1178);
        EXPECT_EQ(Value("isMotorInertiaUnknown"), 1.0);
        for (int id : {1172, 1173, 3267})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Click(1178);
        for (int id : {1172, 1173, 3267})
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.Ok();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Value("isMotorInertiaUnknown"), 0.0);
}

TEST_F(MotorSetupDialogTest, OkOrItsCommandWithoutTemperatureSensorSwitchesMotorOverTemperatureOff)
{
    Set("isMotorTemperatureSensor", 1);
    Set("isMotorOverTemp", 1);
    // With the sensor kept, OK leaves the protection alone.
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(1184));
        EXPECT_TRUE(d.IsEnabled(1186));
        d.Ok();
    });
    EXPECT_EQ(Value("isMotorOverTemp"), 1.0);

    // Cancel does not touch it either, even with the sensor cleared.
    Run([](DialogDriver& d) {
        d.Click(1183);
        d.Cancel();
    });
    EXPECT_EQ(Value("isMotorTemperatureSensor"), 0.0);
    EXPECT_EQ(Value("isMotorOverTemp"), 1.0);

    Set("isMotorTemperatureSensor", 1);
    const int result = Run([](DialogDriver& d) {
        d.Click(1183);
        for (int id : {1184, 1185, 1186})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Ok();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Value("isMotorOverTemp"), 0.0);

    // Command 10018, sent from outside the dialog's controls, is OK.
    Set("isMotorTemperatureSensor", 1);
    Set("isMotorOverTemp", 1);
    const int byCommand = Run([](DialogDriver& d) {
        d.Click(1183);
        EXPECT_TRUE(d.Dialog()->SendCommand(10018));
    });
    EXPECT_EQ(byCommand, IDOK);
    EXPECT_EQ(Value("isMotorOverTemp"), 0.0);
}

TEST_F(MotorSetupDialogTest, NegativeTransmissionShowsLimitSwitchAdviceUnlessTheDriveHandlesIt)
{
    setup->SetOption("hasNegTransmission", "0");
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(3409));
        d.SetEditText(1163, "1");
        d.SetEditText(1179, "-1");
        EXPECT_TRUE(d.IsVisible(3409));
        d.Click(3409);
        d.SetEditText(1163, "-2");
        EXPECT_FALSE(d.IsVisible(3409));
        d.Ok();
    });
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_TRUE(user.Messages()[0].text.startsWith("When there is only a position sensor on the motor"));
    EXPECT_TRUE(user.Messages()[0].text.contains(
        "reversed. \n\nConnect positive limit switch sensor to drive's LSN"));

    setup->SetOption("hasNegTransmission", "1");
    Run([](DialogDriver& d) {
        d.SetEditText(1163, "1");
        d.SetEditText(1179, "-1");
        EXPECT_FALSE(d.IsVisible(3409));
        d.Ok();
    });
}

TEST_F(MotorSetupDialogTest, ZeroDisplacementBecomesOneTurn)
{
    Run([&](DialogDriver& d) {
        d.SetEditText(1179, "0.5");
        EXPECT_DOUBLE_EQ(Value("Load_transmission"), std::numbers::pi);
        d.SetEditText(1179, "0");
        EXPECT_EQ(Value("Load_transmission"), kTwoPi);
        EXPECT_EQ(d.Text(1179), "1");
        d.SetEditText(1163, "0");
        EXPECT_EQ(Value("Motor_transmission"), kTwoPi);
        EXPECT_EQ(d.Text(1163), "1");
        d.Ok();
    });
}

TEST_F(MotorSetupDialogTest, TransmissionTypeSwitchesLoadDisplacementUnitsAndRedisplays)
{
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.Text(1192), "rot");
        d.Click(1195);
        EXPECT_EQ(Value("TransmissionType"), 1.0);
        const CMC_Parameter* load = setup->FindParameter("Load_transmission");
        EXPECT_STREQ(load->GetUnitType(), "mm");
        EXPECT_EQ(d.Text(1192), QString::fromUtf8(load->GetUnitName()));
        EXPECT_EQ(d.ComboItemText(1192, 0), "mm");
        EXPECT_EQ(d.Text(1179), QString::number(load->GetValue(), 'g', 6));
        // The motor side stays rotary.
        EXPECT_EQ(d.Text(1164), "rot");
        d.Click(1194);
        EXPECT_STREQ(load->GetUnitType(), "rot");
        EXPECT_EQ(d.Text(1192), "rot");
        d.Ok();
    });
}

TEST_F(MotorSetupDialogTest, BrakeTextFollowsTheOutputStageAndItsInversion)
{
    SetBrakeOutputLines({
        {2, "OUT2 (pin 2)", BRAKE_PORT_ENABLED | BRAKE_PORT_ACTIVE_HIGH, false},
        {3, "OUT3 (pin 3)", BRAKE_PORT_ENABLED | BRAKE_PORT_ACTIVE_HIGH, true},
        {4, "OUT4 (pin 4)", BRAKE_PORT_ENABLED | BRAKE_PORT_ACTIVE_LOW, false},
        {5, "OUT5 (pin 5)", BRAKE_PORT_ENABLED | BRAKE_PORT_ACTIVE_LOW, true},
    });
    Set("isMotorBrake", 1);
    Set("MotorBrake_output", 3); // pin 2
    const QString pnp = "Motor brake is applied when PNP (source) output is connected to +Vlog.";
    const QString npn = "Motor brake is applied when NPN (sink) output is connected to GND.";
    Run([&](DialogDriver& d) {
        ASSERT_EQ(d.ComboCount(3382), 4);
        EXPECT_EQ(d.Text(3382).toStdString(), "OUT2 (pin 2)");
        EXPECT_EQ(d.Text(3386), pnp); // active high, not inverted
        d.SelectComboIndex(3382, 1);
        EXPECT_EQ(Value("MotorBrake_output"), 4.0);
        EXPECT_EQ(d.Text(3386), npn); // active high, inverted
        d.SelectComboIndex(3382, 2);
        EXPECT_EQ(d.Text(3386), npn); // active low, not inverted
        d.SelectComboIndex(3382, 3);
        EXPECT_EQ(d.Text(3386), pnp); // active low, inverted
        d.Ok();
    });
}

TEST_F(MotorSetupDialogTest, BrakeControlsFollowTheCheckAndNeedABrakeOutput)
{
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsEnabled(3381));
        for (int id : {3382, 3386, 3390, 3393})
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Click(3381);
        for (int id : {3382, 3386, 3388, 3390, 3391, 3389, 3392, 3393})
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.Ok();
    });
    EXPECT_EQ(Value("isMotorBrake"), 1.0);

    SetBrakeOutputLines({});
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(3380));
        EXPECT_FALSE(d.IsEnabled(3381));
        EXPECT_FALSE(d.IsEnabled(3390));
        d.Ok();
    });
}

TEST_F(MotorSetupDialogTest, TickingTheBrakeOnTheReferenceSetupShowsOneOfTheDrivesLines)
{
    // As the file holds it, and as the editor derives the port from the brake register.
    for (const bool derived : {false, true}) {
        SCOPED_TRACE(derived ? "derived from the register" : "as loaded");
        setup = Reference();
        if (derived)
            ComputeParametersFromRegisters(setup.get());
        Run([](DialogDriver& d) {
            ASSERT_FALSE(d.IsChecked(3381));
            d.Click(3381);
            EXPECT_EQ(d.Text(3382).toStdString(), "OUT2 (pin 2)");
            EXPECT_EQ(d.Text(3386).toStdString(),
                      "Motor brake is applied when PNP (source) output is connected to +Vlog.");
            d.Cancel();
        });
    }
}

TEST_F(MotorSetupDialogTest, PolePairsEditRecomputesTheElectricalAngleRegisters)
{
    // (The Hall angle's shift is a whole number: the resolution stays when
    // the pole pairs change by a power of two.)
    const double resolution = Value("Resolution");
    Run([&](DialogDriver& d) {
        d.SetEditText(1165, "8");
        d.Ok();
    });
    EXPECT_EQ(Value("pp"), 8.0);
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInInternalUnit("ENC2THL"),
                     8.0 * std::ldexp(1.0, 32) / resolution);
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInInternalUnit("DBTTH"), 16.0 - std::log2(resolution / 8.0));
    EXPECT_NEAR(Value("Resolution"), resolution, 1e-9 * resolution);
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInInternalUnit("MECRESL"), Value("Resolution"));
}

TEST_F(MotorSetupDialogTest, TestButtonsRecomputeFirstAndSayWhenATestIsMissing)
{
    // Edited behind the dialog's back: only a recompute brings the registers along.
    setup->FindParameter("pp")->SetValueInBaseUnit(5);
    Run([](DialogDriver& d) {
        d.Click(1175);
        d.Ok();
    });
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInInternalUnit("ENC2THL"), 5.0 * std::ldexp(1.0, 32) / 4096.0);
    ASSERT_EQ(user.Messages().size(), 1u);
    EXPECT_EQ(user.Messages()[0].text, "The test dialogs were not loaded with the setup editor.");
}

TEST_F(MotorSetupDialogTest, TestsGetTheirFlagsAndWhatTheyMeasureIsShownAfterOk)
{
    std::vector<int> flags;
    FakeTest polePairs(ModuleTest::PolePairs, [&](CMC_Setup* s, int flag, QWidget*) {
        flags.push_back(flag);
        s->SetParameterValueInBaseUnit("pp", 5);
        return IDOK;
    });
    FakeTest rl(ModuleTest::ResistanceInductance, [&](CMC_Setup* s, int flag, QWidget*) {
        flags.push_back(flag);
        s->SetParameterValueInBaseUnit("R", 2.5);
        return IDOK;
    });
    FakeTest hall(ModuleTest::HallGainOffset, [&](CMC_Setup* s, int flag, QWidget*) {
        flags.push_back(flag);
        s->SetParameterValueInBaseUnit("pp", 7);
        return IDCANCEL;
    });
    Run([&](DialogDriver& d) {
        d.Click(1176);
        EXPECT_EQ(d.Text(1165), "5");
        // The recompute after the test took the new pole pairs into the registers.
        EXPECT_DOUBLE_EQ(setup->GetParameterValueInInternalUnit("ENC2THL"),
                         5.0 * std::ldexp(1.0, 32) / 4096.0);
        d.Click(1177);
        EXPECT_EQ(d.Text(1168), "2.5");
        // A cancelled test is not shown.
        d.Click(3348);
        EXPECT_EQ(d.Text(1165), "5");
        d.Ok();
    });
    EXPECT_EQ(flags, (std::vector<int>{1, 0, 1}));
}

TEST_F(MotorSetupDialogTest, GuidelineStepsHelpAndPictures)
{
    Run([](DialogDriver& d) {
        EXPECT_TRUE(d.Text(10007).startsWith("Step 1. Select your motor from a database."));
        for (int i = 0; i < 9; ++i)
            d.Click(10006);
        EXPECT_TRUE(d.Text(10007).startsWith("Step 10. If you want to save your motor data"));
        EXPECT_FALSE(d.IsEnabled(10006));
        d.Click(10024);
        // The pictures are in the resources under the names asked for.
        EXPECT_FALSE(d.Dialog()->Item<QAbstractButton>(1)->icon().isNull());
        EXPECT_FALSE(d.Dialog()->Item<QLabel>(3387)->pixmap().isNull());
        d.Ok();
    });
    EXPECT_EQ(user.HelpTopics(), (std::vector<unsigned>{CMotorSetupDialog::kHelpTopic}));
}

} // namespace
