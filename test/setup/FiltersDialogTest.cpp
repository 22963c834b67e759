#include "SetupDialogTest.h"

#include "FiltersDialog.h"
#include "ParametersToRegisters.h"

#include <QWidget>

#include <algorithm>

namespace {

// Filter 1's controls.
constexpr int kGroup = 3484, kCheck = 3485, kLocationLabel = 3503, kLocation = 3502, kTypeLabel = 3486,
              kType = 3487, kSecondLabel = 3488, kQ = 3489, kFirstLabel = 3490, kF1 = 3491, kF1Unit = 3508,
              kF2 = 3504, kF2Unit = 3510;
constexpr int kCheck3 = 3518, kLocation3 = 3526, kType3 = 3519;

class FiltersDialogTest : public SetupDialogTest {
protected:
    int Run(const DialogScript& script, int locked = 0)
    {
        user.OnDialog(295, script);
        CFiltersDialog dialog(setup.get(), locked, nullptr);
        return dialog.DoModal();
    }

    double Value(const char* name) const { return setup->GetParameterValueInBaseUnit(name); }
};

TEST_F(FiltersDialogTest, ControlStatesFollowOnOffAndType)
{
    Run([](DialogDriver& d) {
        ASSERT_EQ(d.ComboCount(kType), 7); // no peak or shelf types
        EXPECT_EQ(d.ComboItemText(kType, 5), "Lead-lag 1st order");
        EXPECT_EQ(d.ComboItemText(kLocation, 2), "Speed Feedback");

        const int group[] = {kGroup, kLocationLabel, kLocation, kTypeLabel, kType, kSecondLabel,
                             kQ,     kFirstLabel,    kF1,       kF1Unit};
        EXPECT_EQ(d.Text(kCheck), "Off");
        for (int id : group)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        d.Click(kCheck);
        EXPECT_EQ(d.Text(kCheck), "On");
        for (int id : group)
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        EXPECT_FALSE(d.IsVisible(kF2));

        d.SelectComboText(kType, "Low Pass 1st order");
        EXPECT_FALSE(d.IsEnabled(kSecondLabel));
        EXPECT_FALSE(d.IsEnabled(kQ));

        d.SelectComboText(kType, "Lead-lag 2nd order");
        EXPECT_EQ(d.Text(kFirstLabel), "Lead Frequency");
        EXPECT_EQ(d.Text(kSecondLabel), "Lag Frequency");
        EXPECT_TRUE(d.IsVisible(kF2));
        EXPECT_TRUE(d.IsVisible(kF2Unit));
        EXPECT_FALSE(d.IsVisible(kQ));

        d.SelectComboText(kType, "Notch");
        EXPECT_EQ(d.Text(kSecondLabel), "Q");
        EXPECT_TRUE(d.IsEnabled(kQ));
        EXPECT_FALSE(d.IsVisible(kF2));
        EXPECT_FALSE(d.IsEnabled(kType3)); // filter 3 stays off
        d.Ok();
    });
}

TEST_F(FiltersDialogTest, LockedFiltersKeepTheirOnOffAndLocation)
{
    setup->SetParameterValueInBaseUnit("BQFilter3", 1.0);
    Run(
        [](DialogDriver& d) {
            EXPECT_FALSE(d.IsEnabled(kCheck));
            EXPECT_FALSE(d.IsEnabled(kCheck3));
            EXPECT_FALSE(d.IsEnabled(kLocation3));
            EXPECT_TRUE(d.IsEnabled(kType3));
        },
        1);
}

TEST_F(FiltersDialogTest, OkKeepsTheEditsAndCancelDropsThem)
{
    auto edit = [](DialogDriver& d) {
        d.Click(kCheck);
        d.SelectComboText(kLocation, "Speed Feedback");
        d.SelectComboText(kType, "Lead-lag 1st order");
        d.SetEditText(kF1, QStringLiteral("50"));
        d.SetEditText(kF2, QStringLiteral("150"));
    };
    EXPECT_EQ(Run([&](DialogDriver& d) {
                  edit(d);
                  d.Cancel();
              }),
              IDCANCEL);
    EXPECT_EQ(Value("BQFilter1"), 0.0);
    EXPECT_EQ(Value("BQFilterLocation1"), 1.0);
    EXPECT_EQ(Value("BQFilterType1"), 1.0);
    EXPECT_EQ(Value("BQFilterF11"), 200.0);
    EXPECT_EQ(Value("BQFilterF21"), 400.0);

    EXPECT_EQ(Run([&](DialogDriver& d) {
                  edit(d);
                  d.Ok();
              }),
              IDOK);
    EXPECT_EQ(Value("BQFilter1"), 1.0);
    EXPECT_EQ(Value("BQFilterLocation1"), 2.0);
    EXPECT_EQ(Value("BQFilterType1"), 8.0);
    EXPECT_EQ(Value("BQFilterF11"), 50.0);
    EXPECT_EQ(Value("BQFilterF21"), 150.0);
    // The caller's register pass puts the filter into the speed feedback slot.
    ComputeRegistersFromParameters(setup.get());
    EXPECT_EQ(Value("ASPD_BQ_INI"), 1.0);
    EXPECT_EQ(Value("IQREF_BQ_INI"), 0.0);
}

TEST_F(FiltersDialogTest, PlotShowsTheResponseOfEachFilterThatIsOn)
{
    Run([](DialogDriver& d) {
        auto& dialog = *static_cast<CFiltersDialog*>(d.Dialog());
        EXPECT_TRUE(dialog.PlottedResponses().empty());
        d.Click(kCheck);
        d.SelectComboText(kType, "Notch");
        d.SetEditText(kF1, QStringLiteral("150"));
        d.Click(kCheck3);
        const auto& responses = dialog.PlottedResponses();
        ASSERT_EQ(responses.size(), 2u);
        EXPECT_EQ(responses[1].filter, 3);

        // The notch passes low frequencies and cuts deep at 150 Hz, up to
        // the Nyquist frequency of the 0.5 ms slow loop.
        const auto& notch = responses[0];
        EXPECT_NEAR(notch.magnitude.front(), 0.0, 0.01);
        const auto deepest = std::min_element(notch.magnitude.begin(), notch.magnitude.end());
        EXPECT_LT(*deepest, -30.0);
        EXPECT_NEAR(notch.frequency[deepest - notch.magnitude.begin()], 150.0, 5.0);
        EXPECT_GT(notch.frequency.back(), 950.0);
        EXPECT_LT(notch.frequency.back(), 1000.0);

        // The second-order low pass of filter 3: -3 dB at its 200 Hz corner.
        const auto& lowPass = responses[1];
        const auto at = std::lower_bound(lowPass.frequency.begin(), lowPass.frequency.end(), 200.0);
        EXPECT_NEAR(lowPass.magnitude[at - lowPass.frequency.begin()], -3.0, 0.3);
    });
}

} // namespace
