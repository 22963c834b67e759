// "Ident_R_or_Rs" and "Ident_L_or_Tau_el", run as the resistance and
// inductance dialog runs them: preliminary positioning and a resistance run
// at the test current, again at half of it, the bus voltage from "var_u2",
// then the inductance run; the results computed from the drive's answers and
// logs only. The setup keeps the reference motor's "R" and "L", so nothing
// the programs could read holds the simulated motor's values.
#include "ProgramRunSupport.h"
#include "RotatingVoltageResponse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

using namespace simtest;

constexpr double kTwoPi = 6.283185307179586;

struct Identified {
    double R = 0.0;            // [ohm] as the dialog writes it (delta: three times the star value)
    double L = 0.0;            // [H] the mean of the two axes
    double Ld = 0.0, Lq = 0.0; // [H] the axes apart, equivalent star
    double shaftLoss = 0.0;
    double Vdc = 0.0; // [V]
};

class ResistanceInductance : public ::testing::Test {
protected:
    // The dialog's sequence at a test current [current units] (0: the
    // setup's); false when a program gave no result.
    bool Identify(VirtualDrive& drive, Identified& out, double testCurrent = 0.0, bool delta = false)
    {
        auto setup = ReferenceSetup();
        CMC_Setup* s = setup.get();
        s->SetParameterValueInBaseUnit("MotorPhaseConnectionType", delta ? 1.0 : 0.0);
        Host host(drive);
        host.Download(*s);
        const double current =
            testCurrent > 0.0 ? testCurrent : std::trunc(s->GetParameterValueInInternalUnit("TestCurrent"));
        const double half = std::trunc(current / 2.0);

        double u[2] = {0.0, 0.0}, i[2] = {0.0, 0.0};
        for (int run = 0; run < 2; ++run) {
            const double in1 = run == 0 ? current : half;
            const Preliminary p = RunPreliminary(host, in1);
            const LogRequest log = Log({"IQ"}, 400, run == 0);
            EXPECT_TRUE(host.Run("Ident_R_or_Rs",
                                 {{"In1", in1}, {"RefTest", p.refTest}, {"RIncTest", p.rincTest}}, &log));
            EXPECT_FALSE(host.AxisOn());
            u[run] = host.Variable("var_i1");
            const auto rows = Upload(host);
            EXPECT_EQ(rows.size(), 400u);
            i[run] = ColumnMean(rows, 0);
        }
        const double bus = host.Variable("var_u2");
        if (u[0] == kNoResult || u[1] == kNoResult || bus == kNoResult)
            return false;
        out.Vdc = s->GetParameterValueInBaseUnit("VdcMaxMeasurable") * bus / Compute_ADCMaxValue(s);
        s->SetParameterValueInBaseUnit("Vdc", out.Vdc);
        out.R = (u[0] - u[1]) / (i[0] - i[1]) / VoltageCommandScale(s) * CurrentScale(s);

        const LogRequest log = Log({"IQ", "ID", "THTST"}, 400, false);
        EXPECT_TRUE(host.Run("Ident_L_or_Tau_el", {{"In1", current}}, &log));
        EXPECT_FALSE(host.AxisOn());
        const double increment = host.Variable("TINCTST");
        const double voltage = host.Variable("var_i1");
        if (voltage == kNoResult)
            return false;
        const auto rows = Upload(host);
        EXPECT_EQ(rows.size(), 400u);
        RotatingVoltageResponse response;
        for (const auto& row : rows)
            response.Add(row[0], row[1], row[2]);
        const double omega = kTwoPi * increment / (CurrentLoopPeriod(s) * 65535.0);
        const auto axes = response.Inductances(voltage, omega);
        if (!axes)
            return false;
        out.L = axes->Mean() * CurrentScale(s) / VoltageCommandScale(s);
        out.Ld = axes->d * CurrentScale(s) / VoltageCommandScale(s);
        out.Lq = axes->q * CurrentScale(s) / VoltageCommandScale(s);
        out.shaftLoss = axes->shaftLoss;
        if (s->GetParameterValueInBaseUnit("MotorPhaseConnectionType") == 1.0) {
            out.R *= 3.0;
            out.L *= 3.0;
        }
        return true;
    }

    // The reference setup downloaded, the positioning run, then the
    // resistance run at the test current from the positioning's voltage;
    // false when the resistance run did not end.
    bool RunResistanceFromPositioning(Host& host)
    {
        auto setup = ReferenceSetup();
        host.Download(*setup);
        const Preliminary p = RunPreliminary(host, kTestCurrent);
        return host.Run("Ident_R_or_Rs",
                        {{"In1", kTestCurrent}, {"RefTest", p.refTest}, {"RIncTest", p.rincTest}});
    }

    // The sequence on a library motor at its test current.
    bool IdentifyLibraryMotor(const std::string& file, bool noisy, Identified& out, bool delta = false)
    {
        VirtualDrive drive(LoadMotor(file), Sensors(noisy));
        auto setup = ReferenceSetup();
        return Identify(drive, out, TestCurrentFor(*setup, file), delta);
    }

    EngineScales scales;
};

TEST_F(ResistanceInductance, EveryLibraryMotorWithinToleranceOfItsTruth)
{
    for (const bool noisy : {false, true}) {
        for (const std::string& file : LibraryMotorFiles()) {
            SCOPED_TRACE(file + (noisy ? ", noisy sensors" : ""));
            const MotorModel motor = LoadMotor(file);
            Identified found;
            const bool delta = MotorFileParameter(file, "MotorPhaseConnectionType") == 1.0;
            ASSERT_TRUE(IdentifyLibraryMotor(file, noisy, found, delta));
            EXPECT_NEAR(found.R, motor.R, 0.05 * motor.R);
            EXPECT_NEAR(found.L, 0.5 * (motor.Ld + motor.Lq), 0.10 * 0.5 * (motor.Ld + motor.Lq));
            EXPECT_NEAR(found.Vdc, 48.0, 0.02 * 48.0);
        }
    }
}

TEST_F(ResistanceInductance, InductanceWithinTwoPercentWhereTheDeadTimeWeighsMost)
{
    // The library's smallest test current times inductance: the dead time
    // takes the largest share of the voltage, and a lag of that share behind
    // the current, or of the voltage behind the program's vector, shows here
    // first.
    const std::string file = "small-24V-60W.json";
    const MotorModel motor = LoadMotor(file);
    Identified found;
    ASSERT_TRUE(IdentifyLibraryMotor(file, false, found));
    const double inductance = 0.5 * (motor.Ld + motor.Lq);
    EXPECT_NEAR(found.L, inductance, 0.02 * inductance);
}

TEST_F(ResistanceInductance, SalientRotorGivesTheMeanOfItsAxesAndEachApart)
{
    // Lq twice Ld: the response's means alone (without the backward part
    // that the salient rotor adds) put the inductance 20 % low.
    MotorModel motor = MotorModel::Reference();
    motor.Ld = 0.0008;
    motor.Lq = 0.0016;
    VirtualDrive drive(motor, Sensors(false));
    Identified found;
    ASSERT_TRUE(Identify(drive, found));
    EXPECT_NEAR(found.L, 0.0012, 0.02 * 0.0012);
    EXPECT_NEAR(found.Ld, motor.Ld, 0.03 * motor.Ld);
    EXPECT_NEAR(found.Lq, motor.Lq, 0.03 * motor.Lq);
}

TEST(RotatingVoltageResponse, EachAxisWithItsOwnResistance)
{
    // The turning frame's steady response, sampled at frame angles spread
    // over whole turns: the d axis answers U cos, the q axis U sin. Losses
    // on the q axis alone (a moving shaft's) stay out of both inductances;
    // one resistance for both axes would have read them as inductance.
    const double omega = kTwoPi * 500.0, voltage = 10.0;
    struct Case {
        double R, Ld, Lq, shaft;
    };
    for (const Case& c : {Case{0.8, 0.0012, 0.0012, 0.0}, Case{0.1, 0.0005, 0.001, 0.0},
                          Case{0.2, 0.0003, 0.0003, 0.5}, Case{2.1, 0.009, 0.01, 20.0}}) {
        SCOPED_TRACE(testing::Message() << c.R << " ohm, " << c.Ld << " H, " << c.Lq << " H, " << c.shaft);
        const std::complex<double> yd = 1.0 / std::complex<double>(c.R, omega * c.Ld);
        const std::complex<double> yq = 1.0 / std::complex<double>(c.R + c.shaft, omega * c.Lq);
        RotatingVoltageResponse response;
        for (int n = 0; n < 400; ++n) {
            const double frameAngle = -16383.0 + 819.0 * 5 * n; // 5 samples a turn, odd steps
            const std::complex<double> turn = std::polar(1.0, kTwoPi * (frameAngle + 16383.0) / 65536.0);
            const std::complex<double> u = voltage * turn;
            const std::complex<double> rotor(std::real(yd * u),
                                             std::real(yq * u * std::complex<double>(0, -1)));
            const std::complex<double> frame = rotor * std::conj(turn);
            response.Add(frame.real(), -frame.imag(), std::remainder(frameAngle, 65536.0));
        }
        const auto axes = response.Inductances(voltage, omega);
        ASSERT_TRUE(axes.has_value());
        EXPECT_NEAR(axes->d, c.Ld, 1e-3 * c.Ld);
        EXPECT_NEAR(axes->q, c.Lq, 1e-3 * c.Lq);
        EXPECT_NEAR(axes->shaftLoss, c.shaft / (omega * c.Lq), 1e-3);
    }
    EXPECT_FALSE(RotatingVoltageResponse().Inductances(voltage, omega)) << "no samples";
    RotatingVoltageResponse resistive;
    for (double angle : {-16383.0, 1.0, 16385.0, 32769.0})
        resistive.Add(1.0, 0.0, angle);
    EXPECT_FALSE(resistive.Inductances(voltage, omega)) << "no lag, no inductance";
}

TEST_F(ResistanceInductance, CouplingRingingAboveTheRunsFrequencyStaysOffTheDAxis)
{
    // The 400 W servo's coupling resonates at about 580 Hz: the shaft moves
    // with the q current of the 500 Hz run and its back-EMF adds to Lq (some
    // 3.5 %), not to Ld; its losses stay out of both.
    for (const bool noisy : {false, true}) {
        SCOPED_TRACE(noisy ? "noisy sensors" : "noise-free");
        const std::string file = "servo-48V-400W.json";
        const MotorModel motor = LoadMotor(file);
        Identified found;
        ASSERT_TRUE(IdentifyLibraryMotor(file, noisy, found));
        EXPECT_NEAR(found.Ld, motor.Ld, 0.01 * motor.Ld);
        EXPECT_NEAR(found.L, motor.Ld, 0.02 * motor.Ld);
        EXPECT_LT(found.shaftLoss, 0.1);
    }
}

TEST_F(ResistanceInductance, CouplingRingingAtTheRunsFrequencyIsSeenAsTheShaftsLosses)
{
    // The belt axis's coupling resonates at the inductance run's 500 Hz: the
    // shaft's motion takes the q axis's inductance three quarters off. Its
    // losses give it away, and the dialog refuses the value.
    const std::string file = "belt-axis-48V-750W.json";
    const MotorModel motor = LoadMotor(file);
    Identified found;
    ASSERT_TRUE(IdentifyLibraryMotor(file, false, found));
    EXPECT_GT(found.shaftLoss, kMaxShaftLoss);
    EXPECT_NEAR(found.R, motor.R, 0.01 * motor.R);
}

TEST_F(ResistanceInductance, WindingsAloneShowNoShaftLosses)
{
    for (const std::string& file : LibraryMotorFiles()) {
        SCOPED_TRACE(file);
        VirtualDrive drive(LoadMotor(file), Sensors(true));
        Identified found;
        auto setup = ReferenceSetup();
        const bool delta = MotorFileParameter(file, "MotorPhaseConnectionType") == 1.0;
        ASSERT_TRUE(Identify(drive, found, TestCurrentFor(*setup, file), delta));
        EXPECT_LT(found.shaftLoss, 0.1);
    }
}

TEST_F(ResistanceInductance, DeltaWindingGetsThreeTimesTheStarValues)
{
    // A delta motor whose star equivalent is the reference motor.
    MotorModel motor = MotorModel::Reference();
    motor.delta = true;
    motor.R *= 3.0;
    motor.Ld *= 3.0;
    motor.Lq *= 3.0;
    VirtualDrive drive(motor, Sensors(true));
    Identified found;
    ASSERT_TRUE(Identify(drive, found, 0.0, true));
    EXPECT_NEAR(found.R, motor.R, 0.05 * motor.R);
    EXPECT_NEAR(found.L, motor.Ld, 0.10 * motor.Ld);
}

TEST_F(ResistanceInductance, OpenPhaseGivesNoResistance)
{
    VirtualDriveOptions options;
    options.plant.faults.Add("open-phase");
    VirtualDrive drive(MotorModel::Reference(), options);
    Host host(drive);
    ASSERT_TRUE(RunResistanceFromPositioning(host));
    EXPECT_FALSE(host.AxisOn());
    EXPECT_EQ(host.Variable("var_i1"), kNoResult);
}

TEST_F(ResistanceInductance, WithoutAStartVoltageTheResistanceRunFindsItsOwn)
{
    VirtualDrive drive;
    Host host(drive);
    ASSERT_TRUE(RunResistanceFromPositioning(host));
    const double guided = host.Variable("var_i1");
    ASSERT_TRUE(host.Run("Ident_R_or_Rs", {{"In1", kTestCurrent}, {"RefTest", 0.0}, {"RIncTest", 0.0}}));
    EXPECT_NEAR(host.Variable("var_i1"), guided, 0.02 * guided);
}

} // namespace
