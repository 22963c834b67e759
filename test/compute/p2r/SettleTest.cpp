// Round trips between registers and parameters: the truncating rows give back
// every register they came from, the two passes settle after one pair, and
// the editor's change chains show at once what the registers hold.
#include "EngineTestSetup.h"

#include "EngineCore.h"
#include "Limits.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <cmath>
#include <map>
#include <random>
#include <set>

namespace {

class Settling : public EngineTest {};

TEST_F(Settling, TruncSettledSnapsOnlyRoundingNoise)
{
    EXPECT_EQ(TruncSettled(12.5, 65535), 12);
    EXPECT_EQ(TruncSettled(-3.7, 65535), -3);
    EXPECT_EQ(TruncSettled(49103.99999, 65535), 49103);
    EXPECT_EQ(TruncSettled(32766.9999999, 32767), 32766);
    EXPECT_EQ(TruncSettled(std::nextafter(49104.0, 0.0), 65535), 49104);
    EXPECT_EQ(TruncSettled(1.0 - 1e-11, 32767), 1); // noise of a full-scale computation
    EXPECT_EQ(TruncSettled(1.0 - 1e-9, 32767), 0);  // a genuine fraction
    EXPECT_TRUE(std::isnan(TruncSettled(NAN, 1)));
}

// Every count of "UMAXPROT" through "UMAX_PROT" and back, for several
// converters and bus voltage ranges.
TEST_F(Settling, OverVoltageThresholdKeepsEveryCount)
{
    int plainTruncationLosses = 0;
    int checked = 0;
    for (double bits : {10.0, 16.0}) {
        for (double range : {80.0, 33.3, 400.0}) {
            auto setup = Reference();
            setup->SetParameterValueInBaseUnit("ADCbits", bits);
            setup->SetParameterValueInBaseUnit("VdcMaxMeasurable", range);
            CMC_Parameter* reg = setup->FindParameter("UMAXPROT");
            for (int count = 0; count <= 65535; ++count) {
                reg->SetValueInBaseUnit(count);
                ASSERT_EQ(Compute_UMAX_PROT(setup.get()), 1);
                const double volts = Value(*setup, "UMAX_PROT");
                plainTruncationLosses += std::trunc(volts * DcBusVoltageScale(setup.get())) != count;
                ASSERT_EQ(Compute_UMAXPROT(setup.get()), 1);
                ASSERT_EQ(reg->GetValueInBaseUnit(), count) << bits << " bits, " << range << " V";
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 6 * 65536);
    EXPECT_GT(plainTruncationLosses, 1000); // the fault this guards against is real
}

// Every filter coefficient of the current controller's output filter through
// its cut-off and back, at several current loop periods.
TEST_F(Settling, CurrentFilterCoefficientKeepsEveryCount)
{
    struct Loop {
        double dsp, clper, pwmper;
    } loops[] = {{40e6, 1, 1000}, {40e6, 2, 1000}, {60e6, 1, 1500}, {20e6, 3, 625}, {150e6, 4, 3750}};
    int plainTruncationLosses = 0;
    for (const Loop& loop : loops) {
        auto setup = Reference();
        setup->SetParameterValueInBaseUnit("DSP_freq", loop.dsp);
        setup->SetParameterValueInBaseUnit("CLPER", loop.clper);
        setup->SetParameterValueInBaseUnit("PWMPER", loop.pwmper);
        CMC_Parameter* reg = setup->FindParameter("FILTERQ");
        for (int q = 0; q <= 32767; ++q) {
            reg->SetValueInBaseUnit(q);
            Compute_isUseFilterOnCrtCtrlOutput(setup.get());
            ASSERT_EQ(Compute_FilterOnCurrentControllerOutput(setup.get()), 1);
            const double cutoff = Value(*setup, "FilterOnCurrentControllerOutput");
            plainTruncationLosses +=
                q < 32767 &&
                std::trunc((1 - std::exp(-cutoff * CurrentLoopPeriod(setup.get()))) * 32767) != q;
            ASSERT_EQ(Compute_FILTERQ(setup.get()), 1);
            ASSERT_EQ(reg->GetValueInBaseUnit(), q) << loop.dsp << " Hz, CLPER " << loop.clper;
        }
    }
    EXPECT_GT(plainTruncationLosses, 1000);
}

using Snapshot = std::map<std::string, double>;

Snapshot Values(const CMC_Setup& setup)
{
    Snapshot values;
    for (const auto& p : setup.GetParameters())
        values[p->Name()] = p->GetValueInInternalUnit();
    return values;
}

void ExpectSettlesAfterOnePair(CMC_Setup* setup, const char* variant)
{
    ComputeRegistersFromParameters(setup);
    ComputeParametersFromRegisters(setup);
    const Snapshot settled = Values(*setup);
    for (int pair = 2; pair <= 3; ++pair) {
        ComputeRegistersFromParameters(setup);
        ComputeParametersFromRegisters(setup);
        const Snapshot now = Values(*setup);
        for (const auto& [name, value] : settled)
            EXPECT_EQ(now.at(name), value) << variant << ": " << name << " moved in pair " << pair;
    }
}

// Bit for bit, on the reference and on variants that switch on the rows the
// reference leaves idle.
TEST_F(Settling, PassesSettleAfterTheFirstPair)
{
    auto reference = Reference();
    ExpectSettlesAfterOnePair(reference.get(), "reference");

    auto features = Reference();
    for (const auto& [name, value] :
         std::initializer_list<std::pair<const char*, double>>{{"isUseFilterOnCrtCtrlOutput", 1},
                                                               {"FilterOnCurrentControllerOutput", 3000},
                                                               {"UseFilter", 1},
                                                               {"filter", 120},
                                                               {"KFFA_scl", 3000.5},
                                                               {"KFFS_scl", 0.7},
                                                               {"BQFilter1", 1},
                                                               {"BQFilter2", 1},
                                                               {"BQFilter3", 1},
                                                               {"BQFilterType2", 9},
                                                               {"BQFilterLocation2", 0},
                                                               {"BQFilterType3", 2},
                                                               {"BQFilterLocation3", 2},
                                                               {"isSWLS", 1},
                                                               {"ExternalReference", 1},
                                                               {"isAnalogueReference", 1},
                                                               {"isMotorBrake", 1},
                                                               {"UMAX_PROT", 61.37}})
        features->SetParameterValueInBaseUnit(name, value);
    ExpectSettlesAfterOnePair(features.get(), "features");

    auto reversed = Reference();
    reversed->SetParameterValueInBaseUnit("Motor_transmission", -6.283185307179586);
    reversed->SetParameterValueInBaseUnit("isSWLS", 1);
    reversed->SetParameterValueInBaseUnit("ControlMode", 1);
    ExpectSettlesAfterOnePair(reversed.get(), "reversed");
}

class ChangeDispatch : public EngineTest {};

TEST_F(ChangeDispatch, EditedGainIsReplacedByWhatItsRegistersHold)
{
    auto setup = Reference();
    setup->SetParameterValueInBaseUnit("Kp_S_scl", 5000.3);
    ParameterChangeDispatch(setup.get(), "kp_s_SCL");
    EXPECT_EQ(Value(*setup, "SFTKPS"), 13);
    EXPECT_EQ(Value(*setup, "KPS"), std::round(5000.3 * 32767 / 8192));
    EXPECT_EQ(Value(*setup, "Kp_S_scl"), GainFromPair(Value(*setup, "KPS"), 13));

    // A gain beyond what the pair holds is read back with its range.
    setup->SetParameterValueInBaseUnit("Kp_C_scl", 20000);
    ParameterChangeDispatch(setup.get(), "Kp_C_scl");
    EXPECT_EQ(Value(*setup, "SFTKPI"), 15);
    EXPECT_EQ(setup->FindParameter("Kp_C_scl")->GetMaxInBaseUnit(), 16384);

    setup->SetParameterValueInBaseUnit("KFFA_scl", 8192);
    ParameterChangeDispatch(setup.get(), "KFFA_scl");
    EXPECT_EQ(Value(*setup, "SFTAFFW"), 11);
    EXPECT_EQ(Value(*setup, "SFTKFF"), 2);
    EXPECT_EQ(Value(*setup, "KFFA"), 32767);
    EXPECT_EQ(Value(*setup, "KFFA_scl"), 8192);
}

TEST_F(ChangeDispatch, ResolutionChainRewritesTheSensorRegisters)
{
    auto setup = Reference();
    setup->SetParameterValueInBaseUnit("Resolution", 8192);
    ParameterChangeDispatch(setup.get(), "RESOLUTION");
    EXPECT_EQ(Value(*setup, "MECRESL"), 8192);
    EXPECT_EQ(Value(*setup, "ENC2THL"), 4 * 4294967296.0 / 8192);
    EXPECT_EQ(Value(*setup, "DBTTH"), 5);
    EXPECT_EQ(Value(*setup, "pp"), 4);
    EXPECT_EQ(Value(*setup, "Resolution"), 8192);

    // The Hall angle's shift is a whole number: a resolution between two
    // powers of two reads back as the one the shift gives.
    setup->SetParameterValueInBaseUnit("Resolution", 5000);
    ParameterChangeDispatch(setup.get(), "RESOLUTION");
    EXPECT_EQ(Value(*setup, "DBTTH"), 6);
    EXPECT_EQ(Value(*setup, "ENC2THL"), std::round(4 * 4294967296.0 / 5000));
    EXPECT_NEAR(Value(*setup, "pp"), 4, 1e-6);
    EXPECT_NEAR(Value(*setup, "Resolution"), 4096, 1e-3);
}

TEST_F(ChangeDispatch, NominalCurrentsBoundTheThetaControllerCurrent)
{
    auto setup = Reference();
    CMC_Parameter* maxCurrent = setup->FindParameter("MAX_CURRENT");
    maxCurrent->SetMaxInBaseUnit(999);
    setup->SetParameterValueInBaseUnit("InPS", 2.5);
    ParameterChangeDispatch(setup.get(), "InPS");
    EXPECT_DOUBLE_EQ(maxCurrent->GetMaxInBaseUnit(), 2.5);

    auto noTheta = With({{"In", 1}, {"InPS", 1}, {"MAX_CURRENT", 0}});
    noTheta->FindParameter("MAX_CURRENT")->SetMaxInBaseUnit(999);
    ParameterChangeDispatch(noTheta.get(), "In");
    EXPECT_EQ(noTheta->FindParameter("MAX_CURRENT")->GetMaxInBaseUnit(), 999);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ChangeDispatch, OtherNamesChangeNothing)
{
    auto setup = Reference();
    setup->SetParameterValueInBaseUnit("Kp_T_scl", 3);
    const Snapshot before = Values(*setup);
    ParameterChangeDispatch(setup.get(), "Kp_T_scl");
    ParameterChangeDispatch(setup.get(), "Kp_C");
    ParameterChangeDispatch(setup.get(), nullptr);
    EXPECT_EQ(Values(*setup), before);
}

} // namespace

namespace {

// Every value a user edits, drawn inside its range (flags and choices as
// whole numbers), each followed by the editor's own change handling. The loop
// timing and the sensor resolution are left as they are: the dialogs that
// edit them recompute the loop periods and the sensor registers at once.
void Randomise(CMC_Setup& setup, std::mt19937& random)
{
    const std::set<std::string> structural = {"PWM_freq", "Resolution", "pp", "DSP_freq"};
    for (const auto& p : setup.GetParameters()) {
        const int type = p->GetType();
        if ((type != PT_VALUE && type != PT_FLAG && type != PT_CHOICE) || structural.count(p->Name()))
            continue;
        const double lo = p->GetMinInBaseUnit();
        const double hi = p->GetMaxInBaseUnit();
        if (!(lo <= hi) || hi - lo > 1e12)
            continue;
        if (type == PT_VALUE) {
            p->SetValueInBaseUnit(std::uniform_real_distribution<double>(lo, hi)(random));
        } else {
            std::uniform_int_distribution<int> whole(static_cast<int>(std::ceil(lo)),
                                                     static_cast<int>(std::floor(hi)));
            p->SetValueInBaseUnit(whole(random));
        }
        ParameterChangeDispatch(&setup, p->GetName());
    }
    // Freeze control only exists in position mode; the drive's bit for it
    // would otherwise be cleared one pair later.
    if (setup.GetParameterValueInBaseUnit("ControlMode") != 0)
        setup.SetParameterValueInBaseUnit("isFreezeControl", 0);
}

} // namespace

// A random mix of edits settles too. Rows whose two directions are not exact
// inverses in floating point may wander by a unit in the last place from pair
// to pair (the start-up voltage, the saturations, an i2t limit far outside
// its range); no truncated register does.
TEST_F(Settling, RandomisedSetupsSettleAfterTheFirstPair)
{
    for (unsigned seed = 1; seed <= 25; ++seed) {
        auto setup = Reference();
        std::mt19937 random(seed);
        Randomise(*setup, random);
        ComputeRegistersFromParameters(setup.get());
        ComputeParametersFromRegisters(setup.get());
        const Snapshot settled = Values(*setup);
        for (int pair = 2; pair <= 4; ++pair) {
            ComputeRegistersFromParameters(setup.get());
            ComputeParametersFromRegisters(setup.get());
            for (const auto& [name, value] : Values(*setup)) {
                EXPECT_NEAR(value, settled.at(name), 1e-9 * std::max(1.0, std::fabs(value)))
                    << "seed " << seed << ": " << name << " moved in pair " << pair;
            }
            for (const char* truncated : {"UMAXPROT", "FILTERQ"})
                EXPECT_EQ(setup->GetParameterValueInInternalUnit(truncated), settled.at(truncated))
                    << truncated;
        }
    }
}
