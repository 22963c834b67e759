#include "UiTestDialog.h"

#include "Automation.h"
#include "TestSetup.h"

#include <QCoreApplication>
#include <QSlider>

namespace {

class EditSetupDialog : public ModelTest {
protected:
    // Opens the test dialog, runs the script inside it and returns what it recorded.
    std::vector<std::string> Run(const DialogScript& script, int* result = nullptr, QStringList steps = {})
    {
        ScriptedUser user;
        user.OnDialog(9001, script);
        UiTestDialog dialog(setup.get(), std::move(steps));
        const int code = dialog.DoModal();
        if (result)
            *result = code;
        return dialog.events;
    }
};

TEST_F(EditSetupDialog, ShowsValuesInTheSelectedUnitAndConvertsOnAUnitChange)
{
    Run([](DialogDriver& d) {
        EXPECT_EQ(d.Text(1159), "0.001");
        EXPECT_EQ(d.ComboCount(1160), 3);
        d.SelectComboText(1160, "mH");
        EXPECT_EQ(d.Text(1159), "1");
        EXPECT_EQ(d.Text(1160), "mH");
        d.Ok();
    });
    EXPECT_STREQ(Param("L").GetUnitName(), "mH");
    EXPECT_EQ(Param("L").GetValueInBaseUnit(), 0.001);
}

TEST_F(EditSetupDialog, AnAcceptedEditIsStoredThenChangedThenRefreshedOnce)
{
    const auto events = Run([](DialogDriver& d) {
        d.SetEditText(1159, "0.0025");
        EXPECT_TRUE(d.Hint(1159).isEmpty());
        d.Ok();
    });
    EXPECT_EQ(Param("L").GetValueInBaseUnit(), 0.0025);
    EXPECT_EQ(events, (std::vector<std::string>{"changed L", "refresh L"}));
}

TEST_F(EditSetupDialog, RefusedEntriesKeepTheStoredValueAndSayWhy)
{
    Param("L").SetMaxInBaseUnit(0.01);
    const auto events = Run([](DialogDriver& d) {
        d.SetEditText(1159, "abc");
        EXPECT_TRUE(d.Hint(1159).contains("not a number")) << d.Hint(1159).toStdString();
        EXPECT_EQ(d.Text(1159), "0.001");
        d.SetEditText(1159, "0.5");
        EXPECT_TRUE(d.Hint(1159).contains("from 0 to 0.01 H")) << d.Hint(1159).toStdString();
        d.SetEditText(1159, "nan");
        d.SetEditText(1159, "inf");
        EXPECT_EQ(d.Text(1159), "0.001");
        d.SetEditText(1159, "0.002");
        EXPECT_TRUE(d.Hint(1159).isEmpty());
        d.Ok();
    });
    EXPECT_EQ(Param("L").GetValueInBaseUnit(), 0.002);
    EXPECT_EQ(events, (std::vector<std::string>{"changed L", "refresh L"}));
}

TEST_F(EditSetupDialog, ChecksRadiosAndListsStoreTheirValues)
{
    const auto events = Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsChecked(1183));
        EXPECT_TRUE(d.IsChecked(1196));
        d.Click(1183);
        // Both bindings of the flag show the new value.
        EXPECT_TRUE(d.IsChecked(1197));
        EXPECT_FALSE(d.IsChecked(1196));
        d.Click(1196);
        EXPECT_FALSE(d.IsChecked(1183));
        EXPECT_EQ(d.Text(3382), "half");
        d.SelectComboText(3382, "full");
        d.Ok();
    });
    EXPECT_EQ(Param("isMotorI2t").GetValueInBaseUnit(), 0.0);
    EXPECT_EQ(Param("KPI").GetValueInInternalUnit(), 32767.0);
    EXPECT_EQ(events,
              (std::vector<std::string>{"changed isMotorI2t", "refresh isMotorI2t", "changed isMotorI2t",
                                        "refresh isMotorI2t", "changed KPI", "refresh KPI"}));
}

TEST_F(EditSetupDialog, RedisplayNeverNotifies)
{
    const auto events = Run([this](DialogDriver& d) {
        setup->FindParameter("L")->SetValueInBaseUnit(0.003);
        static_cast<UiTestDialog*>(d.Dialog())->RefreshAllParameters(0);
        EXPECT_EQ(d.Text(1159), "0.003");
        d.Ok();
    });
    EXPECT_TRUE(events.empty());
}

TEST_F(EditSetupDialog, SliderSpansHalfToOneAndAHalfTimesTheValue)
{
    Run([this](DialogDriver& d) {
        auto* slider = d.Dialog()->Item<QSlider>(1337);
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->value(), 500); // 10 A in 5 .. 15 A
        d.Click(1338);                   // one step up: 1 % of the span
        EXPECT_NEAR(Param("ImaxPS").GetValueInBaseUnit(), 10.1, 1e-9);
        slider->setValue(1000);
        EXPECT_NEAR(Param("ImaxPS").GetValueInBaseUnit(), 15.0, 1e-9);
        d.SetEditText(1335, "7");
        EXPECT_EQ(slider->value(), 200);
        d.Ok();
    });
}

TEST_F(EditSetupDialog, AMissingParameterLeavesItsControlsDisabled)
{
    Run([](DialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(700));
        EXPECT_TRUE(d.IsEnabled(1159));
        d.Ok();
    });
    EXPECT_TRUE(errors.empty());
}

TEST_F(EditSetupDialog, OkAndCancelGiveTheirResults)
{
    int result = 0;
    Run([](DialogDriver& d) { d.Ok(); }, &result);
    EXPECT_EQ(result, IDOK);
    Run([](DialogDriver& d) { d.Cancel(); }, &result);
    EXPECT_EQ(result, IDCANCEL);
    Run([](DialogDriver&) {}, &result); // left open by its script
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(EditSetupDialog, GuidelineAssistantStepsThroughItsTexts)
{
    Run(
        [](DialogDriver& d) {
            EXPECT_EQ(d.Text(10007), "Step 1.");
            EXPECT_FALSE(d.IsEnabled(10005));
            d.Click(10006);
            d.Click(10006);
            EXPECT_EQ(d.Text(10007), "Step 3.");
            EXPECT_FALSE(d.IsEnabled(10006));
            d.Click(10005);
            EXPECT_EQ(d.Text(10007), "Step 2.");
            EXPECT_TRUE(d.IsEnabled(10005));
            d.Ok();
        },
        nullptr, {"Step 1.", "Step 2.", "Step 3."});
}

TEST_F(EditSetupDialog, TimersFireOnceEachWithoutWaiting)
{
    const auto events = Run([](DialogDriver& d) {
        auto* dialog = static_cast<UiTestDialog*>(d.Dialog());
        dialog->SetTimer(1, 20);
        dialog->SetTimer(2, 1000);
        dialog->KillTimer(2);
        EXPECT_TRUE(d.WaitUntil([dialog] { return dialog->timerFired == 1; }));
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        EXPECT_EQ(dialog->timerFired, 1);
        d.Ok();
    });
    EXPECT_EQ(events, (std::vector<std::string>{"timer 1"}));
}

} // namespace
