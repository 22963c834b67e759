// A resonance of the load taken out through the speed tuning dialog's
// "Filters", on the virtual drive: the 400 W servo drives its load through
// a stiff, barely damped coupling. Commissioned from its datasheet, its
// speed loop rings at the coupling's resonance in the logged speed error; a
// notch at that frequency, set in the Filters dialog opened from the test,
// takes the ringing away in the next run.
//
// With VELMARO_PLOT_DIR set, the two runs' plots are kept there as
// "notch-before" and "notch-after" (the docs show them).
#include "VirtualDriveDialogTest.h"

#include "Spectrum.h"

#include "ControllerDesign.h"
#include "EngineCore.h"
#include "TestSpeedTuning.h"

#include <QComboBox>

#include <cmath>
#include <numbers>

namespace {

using namespace simtest;

constexpr const char* kMotor = "servo-48V-400W.json";
// The Filters dialog's first filter: on/off, type, location, Q, frequency.
constexpr int kFiltersTemplate = 295;
constexpr int kFilterOn = 3485;
constexpr int kFilterLocation = 3502;
constexpr int kFilterType = 3487;
constexpr int kFilterQ = 3489;
constexpr int kFilterFrequency = 3491;
constexpr int kSpeedControllerOutput = 1; // the location combo's item

int ComboIndexOf(DialogDriver& d, int id, const QString& text)
{
    for (int i = 0; i < d.ComboCount(id); ++i)
        if (d.ComboItemText(id, i) == text)
            return i;
    return -1;
}

class NotchOnVirtualDrive : public VirtualDriveDialogTest {
protected:
    // The speed error [rpm] over the hold at the test speed, once the ramp
    // has settled.
    static std::vector<double> HeldSpeedError(const CGraphDocument& log, double from, double to)
    {
        std::vector<double> error;
        for (std::size_t k = 0; k < log.PointCount(); ++k) {
            const std::vector<double>& p = log.Point(k);
            if (p[0] >= from && p[0] < to)
                error.push_back(p[1] - p[2]);
        }
        return error;
    }

    void KeepPlot(const CProfileTuningDlg& dialog, const char* name)
    {
        if (!qEnvironmentVariableIsEmpty("VELMARO_PLOT_DIR")) {
            EXPECT_EQ(dialog.Logger()->SaveGraph(name), 1) << GetLastErrorText();
        }
    }
};

TEST_F(NotchOnVirtualDrive, ANotchSetThroughFiltersTakesTheCouplingsRingingAway)
{
    const MotorModel motor = LoadMotor(kMotor);
    auto setup = DatasheetSetup(kMotor);
    CMC_Setup* s = setup.get();
    ASSERT_EQ(DesignCurrentController(s), 1);
    ComputeRegistersFromParameters(s);
    {
        VirtualDrive drive(motor);
        Host host(drive);
        CommissionHallsOnDrive(host, *s);
    }
    {
        VirtualDrive drive(motor);
        const InertiaRun inertia = RunInertiaTest(drive, *s);
        ASSERT_EQ(inertia.testFlag, 1.0);
        ASSERT_EQ(s->SetParameterValueInBaseUnit("Jt", inertia.J), 1);
    }
    // A speed loop of 10 Hz: the default 50 Hz would trip on the resonance.
    s->SetParameterValueInBaseUnit("PB_S", 2.0 * std::numbers::pi * 10.0);
    s->SetParameterValueInBaseUnit("TestSpeed", 300.0 / 60.0 * 2.0 * std::numbers::pi); // 300 rpm
    const std::pair<const char*, double> profile[] = {
        {"TaPS", 0.1}, {"TPS", 0.6}, {"TaNS", 0.2}, {"TNS", 0.1}, {"OnlinePlotS", 0.0}, {"MultiCycleS", 0.0}};
    for (const auto& [name, value] : profile)
        ASSERT_EQ(s->SetParameterValueInBaseUnit(name, value), 1) << name;
    Connect(motor, *s);
    const double period = SpeedLoopPeriod(s);

    double resonance = 0.0, before = 0.0, after = 0.0, afterAtPeak = 0.0;
    user.OnDialog(kFiltersTemplate, [&](DialogDriver& d) {
        d.Click(kFilterOn);
        d.SelectComboIndex(kFilterType, ComboIndexOf(d, kFilterType, QStringLiteral("Notch")));
        d.SelectComboIndex(kFilterLocation, kSpeedControllerOutput);
        d.SetEditText(kFilterFrequency, QString::number(resonance));
        d.SetEditText(kFilterQ, QStringLiteral("0.5"));
        d.Ok();
    });
    CTestSpeedTuning dialog(s, 1, nullptr);
    user.OnDialog(CTestSpeedTuning::kTemplateId, [&](DialogDriver& d) {
        d.SelectTab(CProfileTuningDlg::kTab, 1);
        d.Click(CProfileTuningDlg::kTune);
        auto run = [&] {
            d.Click(10000);
            EXPECT_TRUE(d.WaitUntil([&] { return dialog.m_bRunning == 0; }));
            EXPECT_EQ(dialog.m_nResult, 1) << dialog.m_strError;
            return HeldSpeedError(dialog.Logger()->GetGraphDocument(), 0.25, 0.7);
        };
        const std::vector<double> ringing = run();
        ASSERT_GT(ringing.size(), 800u);
        KeepPlot(dialog, "notch-before");
        resonance = PeakFrequency(ringing, period, 200.0, 999.0);
        before = Amplitude(ringing, period, resonance);
        ASSERT_EQ(dialog.Logger()->GetGraphDocument().Column(2)->unit, "rpm");

        d.Click(CProfileTuningDlg::kFilters);
        const std::vector<double> notched = run();
        ASSERT_GT(notched.size(), 800u);
        KeepPlot(dialog, "notch-after");
        afterAtPeak = Amplitude(notched, period, resonance);
        after = Amplitude(notched, period, PeakFrequency(notched, period, 200.0, 999.0));
        d.Ok();
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    ExpectPassed(dialog);
    // the coupling rings near 580 Hz; the notch leaves the sensor's noise
    EXPECT_NEAR(resonance, 585.0, 25.0);
    EXPECT_GT(before, 1.0) << "[rpm]";
    EXPECT_LT(afterAtPeak, 0.05 * before);
    EXPECT_LT(after, 0.1 * before) << "no other peak took its place";
    EXPECT_EQ(s->GetParameterValueInBaseUnit("BQFilter1"), 1.0);
    EXPECT_NEAR(s->GetParameterValueInBaseUnit("BQFilterF11"), resonance, 1e-6);
}

} // namespace
