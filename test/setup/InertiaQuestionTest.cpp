#include "SetupDialogTest.h"

#include "InertiaQuestion.h"

namespace {

class InertiaQuestionTest : public SetupDialogTest {
protected:
    void TearDown() override
    {
        EXPECT_TRUE(errors.empty()) << errors.front();
        SetupDialogTest::TearDown();
    }

    int Run(const DialogScript& script)
    {
        user.OnDialog(CInertiaQuestion::kTemplateId, script);
        CInertiaQuestion dialog(setup.get(), nullptr);
        return dialog.DoModal();
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
};

TEST_F(InertiaQuestionTest, DefaultChoiceRaisesTotalInertiaJustAboveTheMotor)
{
    setup->SetParameterValueInBaseUnit("Jm", 3.3e-4);
    const int result = Run([](DialogDriver& d) {
        EXPECT_TRUE(d.IsChecked(3333));
        EXPECT_FALSE(d.IsChecked(3334));
        EXPECT_TRUE(d.IsEnabled(1));
        EXPECT_FALSE(d.Exists(2));
        d.Ok();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Value("Jt"), 3.3e-4 * 1.01);
    EXPECT_EQ(Value("isMotorInertiaUnknown"), 0.0);
}

TEST_F(InertiaQuestionTest, SecondChoiceKeepsTotalInertiaAndDisregardsTheMotor)
{
    const double jt = Value("Jt");
    Run([](DialogDriver& d) {
        d.Click(3334);
        EXPECT_TRUE(d.IsEnabled(1));
        d.Ok();
    });
    EXPECT_EQ(Value("Jt"), jt);
    EXPECT_EQ(Value("isMotorInertiaUnknown"), 1.0);

    // Changing one's mind back before OK takes the default after all.
    Run([](DialogDriver& d) {
        d.Click(3334);
        d.Click(3333);
        d.Ok();
    });
    EXPECT_EQ(Value("Jt"), Value("Jm") * 1.01);
}

} // namespace
