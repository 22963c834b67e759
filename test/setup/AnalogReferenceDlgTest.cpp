#include "SetupDialogTest.h"

#include "AnalogReferenceDlg.h"
#include "EngineCore.h"
#include "Limits.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "TestLauncher.h"

#include <QWidget>

#include <cmath>
#include <numbers>

namespace {

constexpr double kRot = 2.0 * std::numbers::pi; // [rad]

const int kAnalogueControls[] = {1007, 1009, 1006, 1008, 1015, 1016, 1011, 1010, 1013, 1012, 1001, 1000};
const int kDigitalControls[] = {3291, 3292, 3294, 3297, 3295, 3298, 3299, 3296, 3300};

class AnalogReferenceDlgTest : public SetupDialogTest {
protected:
    void SetUp() override
    {
        SetupDialogTest::SetUp();
        Prepare(0, 1);
    }

    // The reference setup with an external analogue (1) or digital (0)
    // reference in a control mode, as the Drive Setup dialog hands it over.
    void Prepare(int mode, int analogue)
    {
        setup = Reference();
        setup->SetParameterValueInBaseUnit("ControlMode", mode);
        setup->SetParameterValueInBaseUnit("ExternalReference", 1.0);
        setup->SetParameterValueInBaseUnit("isAnalogueReference", analogue);
        setup->SetParameterValueInBaseUnit("isLimitMaximum", 1.0);
        ComputeRegistersFromParameters(setup.get());
        ComputeParametersFromRegisters(setup.get());
        ComputeParameterLimits(setup.get());
    }

    int Run(const DialogScript& script)
    {
        user.OnDialog(111, script);
        CAnalogReferenceDlg dialog(setup.get(), nullptr);
        return dialog.DoModal();
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
};

TEST_F(AnalogReferenceDlgTest, AnEndPointBoundsItsPartner)
{
    // A 16-bit position command spans 32767 increments: 8 rotations here.
    ASSERT_NEAR(32767.0 / std::abs(LoadPositionScale(setup.get())) / kRot, 8.0, 0.01);
    Run([&](DialogDriver& d) {
        d.SetEditText(1006, QStringLiteral("5")); // rot
        EXPECT_TRUE(d.Hint(1006).isEmpty());
        d.SetEditText(1008, QStringLiteral("6"));
        EXPECT_FALSE(d.Hint(1008).isEmpty());
        d.SetEditText(1008, QStringLiteral("-2"));
        EXPECT_TRUE(d.Hint(1008).isEmpty());
        d.SetEditText(1006, QStringLiteral("-3"));
        EXPECT_FALSE(d.Hint(1006).isEmpty());
        d.SetEditText(1006, QStringLiteral("8.1"));
        EXPECT_FALSE(d.Hint(1006).isEmpty());
        d.SetEditText(1008, QStringLiteral("-8.1"));
        EXPECT_FALSE(d.Hint(1008).isEmpty());

        // The minimum shows the unit picked for the maximum.
        d.SelectComboText(1015, "rad");
        EXPECT_EQ(d.Text(1008), QString::number(-2.0 * kRot, 'g', 6));
        d.Ok();
    });
    EXPECT_NEAR(Value("POS_max"), 5.0 * kRot, 1e-9);
    EXPECT_NEAR(Value("POS_min"), -2.0 * kRot, 1e-9);

    // A speed end point stays within the load speed limit.
    Prepare(1, 1);
    setup->SetParameterValueInBaseUnit("Limit_Speed", 50.0); // [rad/s]
    Run([&](DialogDriver& d) {
        d.SetEditText(1008, QStringLiteral("-10")); // rpm
        d.SetEditText(1006, QStringLiteral("600")); // 62.8 rad/s
        EXPECT_FALSE(d.Hint(1006).isEmpty());
        d.SetEditText(1006, QStringLiteral("400"));
        EXPECT_TRUE(d.Hint(1006).isEmpty());
        d.Ok();
    });
}

TEST_F(AnalogReferenceDlgTest, ControlsFollowControlModeAndReferenceKind)
{
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.Text(1007), "Maximum Position");
        EXPECT_EQ(d.Text(3116), "Limit maximum speed at");
        EXPECT_TRUE(d.IsVisible(3302));
        EXPECT_FALSE(d.IsVisible(3304));
        for (int id : kAnalogueControls)
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        for (int id : kDigitalControls)
            EXPECT_FALSE(d.IsEnabled(id)) << id;

        d.Click(3289); // digital
        EXPECT_EQ(d.Text(3116), "Limit maximum acceleration at");
        EXPECT_FALSE(d.IsVisible(3302));
        EXPECT_TRUE(d.IsVisible(3304));
        for (int id : kAnalogueControls)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        for (int id : kDigitalControls)
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.SetEditText(3304, QStringLiteral("250"));
        d.Ok();
    });
    EXPECT_DOUBLE_EQ(Value("ErefMaxAcceleration"), 250.0);

    // In speed control a digital reference's limit row is the digital one too.
    Prepare(1, 0);
    Run([&](DialogDriver& d) {
        EXPECT_FALSE(d.IsVisible(3302));
        EXPECT_TRUE(d.IsVisible(3304));
        EXPECT_TRUE(d.IsVisible(3137));
        d.Click(3116);
        EXPECT_FALSE(d.IsVisible(3304));
        EXPECT_FALSE(d.IsVisible(3137));
    });

    Prepare(1, 1);
    Run([&](DialogDriver& d) {
        EXPECT_EQ(d.Text(1007), "Maximum Speed");
        EXPECT_EQ(d.Text(3116), "Limit maximum acceleration at");
        d.SetEditText(3302, QStringLiteral("500"));
        EXPECT_FALSE(d.IsEnabled(3289));
        for (int id : kDigitalControls)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Ok();
    });
    EXPECT_DOUBLE_EQ(Value("ErefMaxAcceleration"), 500.0);

    Prepare(2, 1);
    setup->SetParameterValueInBaseUnit("AnalogueInputsRange", 20.0);
    Run([](DialogDriver& d) {
        EXPECT_EQ(d.Text(1009), "Minimum Current");
        EXPECT_EQ(d.Text(3328), "-10");
        EXPECT_EQ(d.Text(3327), "10");
        for (int id : {3116, 3302, 3304})
            EXPECT_FALSE(d.IsVisible(id)) << id;
        EXPECT_FALSE(d.IsEnabled(3289));
        d.Click(1001);
        EXPECT_TRUE(d.IsVisible(1003));
    });
}

// The old dead band lies around its point inside the input span, so each of
// the two bounds the other as the user edits them.
TEST_F(AnalogReferenceDlgTest, DeadBandPointAndRangeBoundEachOther)
{
    setup->ClearOption("NewDeadBand");
    setup->SetParameterValueInBaseUnit("AnalogueInputsRange", 5.0);
    ComputeParameterLimits(setup.get());
    Run([&](DialogDriver& d) {
        d.SetEditText(1010, QStringLiteral("2.5")); // V
        d.SetEditText(1012, QStringLiteral("2"));
        EXPECT_TRUE(d.Hint(1012).isEmpty());
        // Moved towards the top, the point leaves 0.5 V for the range.
        d.SetEditText(1010, QStringLiteral("4.5"));
        EXPECT_NEAR(setup->FindParameter("DeadBand_Range")->GetMaxInBaseUnit(), 0.5, 1e-12);
        d.SetEditText(1012, QStringLiteral("1"));
        EXPECT_FALSE(d.Hint(1012).isEmpty());
        d.SetEditText(1012, QStringLiteral("0.4"));
        EXPECT_TRUE(d.Hint(1012).isEmpty());
        EXPECT_EQ(d.Text(1010), "4.5");
        d.Click(10024);
        d.Ok();
    });
    EXPECT_NEAR(Value("DeadBand_Point"), 4.5, 1e-3);
    EXPECT_NEAR(Value("DeadBand_Range"), 0.4, 1e-3);
    EXPECT_EQ(user.HelpTopics(), std::vector<unsigned>{262401});
}

TEST_F(AnalogReferenceDlgTest, WithoutAnAnalogueInputOnlyTheDigitalReferenceIsOffered)
{
    setup = With({{"ControlMode", 0},
                  {"isAnalogueReference", 0},
                  {"DigitalReferenceType", 1},
                  {"GEARMASTER", 4},
                  {"GEARSLAVE", 3},
                  {"isLimitMaximum", 0},
                  {"AnalogueInputsRange", 5}});
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(3290));
        EXPECT_TRUE(d.IsChecked(3292));
        EXPECT_EQ(d.Text(3295), "3");
        EXPECT_TRUE(d.Text(1006).isEmpty());
        EXPECT_FALSE(d.IsEnabled(1000));
    });
}

TEST_F(AnalogReferenceDlgTest, TestButtonRecomputesAroundTheTestAndCancelDropsEdits)
{
    double gainSeen = 0.0;
    RegisterModuleTest(ModuleTest::AnalogueReference, [&](CMC_Setup* s, int flag, QWidget* parent) {
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(parent, nullptr);
        gainSeen = s->GetParameterValueInBaseUnit("CADIN");
        s->SetParameterValueInBaseUnit("POS_max", 4.0 * kRot);
        return int(IDOK);
    });
    const double gainBefore = Value("CADIN");
    const double maximum = Value("POS_max");
    Run([&](DialogDriver& d) {
        d.SetEditText(1006, QStringLiteral("2"));
        d.Click(1000);
        EXPECT_EQ(d.Text(1006), "4");
        // The gain follows the maximum the test left.
        EXPECT_NEAR(Value("CADIN"), 2.0 * gainSeen, 1.0);
        d.Cancel();
    });
    RegisterModuleTest(ModuleTest::AnalogueReference, nullptr);
    // The test ran on the gain of the edited maximum.
    EXPECT_NE(gainSeen, gainBefore);
    EXPECT_EQ(Value("POS_max"), maximum);
    EXPECT_EQ(Value("CADIN"), gainBefore);
}

} // namespace
