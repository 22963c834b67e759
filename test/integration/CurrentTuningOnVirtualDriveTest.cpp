// The current loop tuned through its dialog on the virtual drive, for every
// motor of the library, starting from the motor's datasheet: the supply, the
// Hall sensors, the resistance and the inductance are identified first, as a
// user does; then "Tune" and "Start" must give the step that the designed
// bandwidth and damping predict with the drive's one-period delay, and a gain
// changed while the test runs must show in the next step of the same log.
#include "DatasheetCommissioningTest.h"

#include "CurrentLoopModel.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace simtest;

// The host's clock per request while the tuning test runs: fine enough to
// change a gain between two steps of the log.
constexpr double kFineStep = 0.001;

double Overshoot(const StepShape& shape)
{
    return shape.peak - 1.0;
}

// The samples of the logged current from the n-th rising step of the
// reference on, until the reference falls again; and the step's height.
struct LoggedStep {
    std::vector<double> current;
    double height = 0.0;
};

LoggedStep RisingStep(const CGraphDocument& document, int n)
{
    LoggedStep step;
    int seen = 0;
    for (std::size_t k = 1; k < document.PointCount(); ++k) {
        const double before = document.Point(k - 1)[1], now = document.Point(k)[1];
        if (now > before && before <= 0.0 && ++seen == n + 1) {
            step.height = now;
            for (std::size_t j = k; j < document.PointCount() && document.Point(j)[1] == now; ++j)
                step.current.push_back(document.Point(j)[2]);
            return step;
        }
    }
    return step;
}

class CurrentTuningOnVirtualDrive : public DatasheetCommissioningTest {
protected:
    // The voltage the dead band the setup gives the inverter takes off
    // along phase A (four thirds of one leg's loss) [V].
    static double DeadVolts(CMC_Setup* s)
    {
        const double dbt = s->GetParameterValueInInternalUnit("DBT");
        const double deadBand = std::max(std::fmod(dbt, 256.0), std::floor(dbt / 256.0));
        const double deadTime = deadBand * s->GetParameterValueInBaseUnit("DBTPC") / 100.0 /
                                s->GetParameterValueInBaseUnit("DSP_freq");
        return 4.0 / 3.0 * deadTime * s->GetParameterValueInBaseUnit("PWM_freq") *
               s->GetParameterValueInBaseUnit("Vdc");
    }

    // The step the setup's identified winding and quantised gains predict,
    // with the drive's delay and dead band (height in current units).
    static StepShape Prediction(CMC_Setup* s, double height, std::size_t samples, double fluxAxisL = 0.0)
    {
        return ShapeOf(ModelStep(*s, height, static_cast<int>(samples), true, DeadVolts(s), fluxAxisL),
                       height);
    }
};

TEST_F(CurrentTuningOnVirtualDrive, TheTunedStepRisesAndOvershootsAsTheDesignPredicts)
{
    for (const std::string& file : LibraryMotorFiles()) {
        SCOPED_TRACE(file);
        const MotorModel motor = LoadMotor(file);
        auto setup = DatasheetSetup(file);
        CMC_Setup* s = setup.get();
        Connect(motor, *s);
        Identify(s);

        CTestCurrent dialog(s, 1, nullptr);
        TuneAndStart(dialog, 1.0);
        const LoggedStep step = RisingStep(dialog.Logger()->GetGraphDocument(), 0);
        ASSERT_GT(step.current.size(), 20u);
        const StepShape measured = ShapeOf(step.current, step.height);
        // The step runs along the rotor's flux, on a salient motor's Ld.
        const StepShape predicted = Prediction(s, step.height, step.current.size(), motor.Ld);
        EXPECT_NEAR(measured.rise, predicted.rise, 0.10 * predicted.rise);
        EXPECT_NEAR(Overshoot(measured), Overshoot(predicted), 0.10 * std::max(Overshoot(predicted), 0.05));
        CMC_Comm::SetActiveLink(nullptr, nullptr);
    }
}

TEST_F(CurrentTuningOnVirtualDrive, AGainDoubledWhileTheTestRunsShowsInTheNextStep)
{
    const std::string file = LibraryMotorFiles().front();
    const MotorModel motor = LoadMotor(file);
    auto setup = DatasheetSetup(file);
    CMC_Setup* s = setup.get();
    VirtualDrive& drive = Connect(motor, *s, {}, 0.5, kFineStep);
    Identify(s);

    // A bandwidth that leaves room to double Kp.
    s->SetParameterValueInBaseUnit("PB_C", 2000.0);
    CTestCurrent dialog(s, 1, nullptr);
    double doubledKp = 0.0;
    TuneAndStart(dialog, 2.0, [&](DialogDriver& d) {
        // After the first step of the log has settled, the user doubles Kp.
        double started = -1.0;
        ASSERT_TRUE(d.WaitUntil([&] {
            if (started < 0.0 && drive.RunningProgram() == CTestCurrent::kMainProgram)
                started = drive.Time();
            return dialog.m_bRunning == 0 || (started >= 0.0 && drive.Time() > started + 0.015);
        }));
        ASSERT_TRUE(dialog.m_bRunning) << "the run ended before the gain was changed";
        doubledKp = 2.0 * s->GetParameterValueInBaseUnit("Kp_C_scl");
        d.SetEditText(1335, QString::number(doubledKp, 'g', 10));
    });
    const CGraphDocument& document = dialog.Logger()->GetGraphDocument();
    const LoggedStep first = RisingStep(document, 0), later = RisingStep(document, 1);
    ASSERT_GT(later.current.size(), 20u);
    const StepShape before = ShapeOf(first.current, first.height);
    const StepShape after = ShapeOf(later.current, later.height);
    EXPECT_NEAR(s->GetParameterValueInBaseUnit("Kp_C_scl"), doubledKp, 1e-3 * doubledKp);
    EXPECT_LT(after.rise, 0.8 * before.rise);
    const StepShape predicted = Prediction(s, later.height, later.current.size());
    EXPECT_NEAR(after.rise, predicted.rise, 0.10 * predicted.rise);
}

} // namespace
