// The register-to-parameter pass as a whole: what each row may touch, what a
// missing parameter or a refused range does, and that the pass settles.
#include "EngineTestSetup.h"
#include "RegistersToParameters.h"

#include <random>
#include <set>
#include <string_view>

namespace {

struct State {
    double value, min, max;
    bool operator==(const State&) const = default;
};

std::vector<State> Snapshot(const CMC_Setup& setup)
{
    std::vector<State> states;
    states.reserve(setup.GetParameters().size());
    for (const auto& p : setup.GetParameters())
        states.push_back({p->GetValueInInternalUnit(), p->GetMinInBaseUnit(), p->GetMaxInBaseUnit()});
    return states;
}

// A copy of a setup without one parameter (values, ranges, unit types, options, variables).
std::unique_ptr<CMC_Setup> Without(const CMC_Setup& source, std::string_view omitted)
{
    auto copy = std::make_unique<CMC_Setup>(source.DescriptionPtr());
    for (const auto& p : source.GetParameters()) {
        if (p->Name() == omitted)
            continue;
        CMC_Parameter* q = copy->AddParameter(p->Name());
        q->ChangeUnitType(p->GetUnitType());
        q->SetValueInInternalUnit(p->GetValueInInternalUnit());
        q->SetMinInBaseUnit(p->GetMinInBaseUnit());
        q->SetMaxInBaseUnit(p->GetMaxInBaseUnit());
    }
    for (const auto& v : source.GetVariables())
        copy->AddVariable(v->Name());
    for (const auto& [name, text] : source.GetOptions())
        copy->SetOption(name, text);
    return copy;
}

std::size_t IndexOf(const CMC_Setup& setup, const char* name)
{
    const CMC_Parameter* target = setup.FindParameter(name);
    for (std::size_t i = 0; i < setup.GetParameters().size(); ++i)
        if (setup.GetParameters()[i].get() == target)
            return i;
    return setup.GetParameters().size();
}

class RegisterPass : public EngineTest {};

} // namespace

TEST_F(RegisterPass, EveryRowOnTheReferenceWritesAndReportsNothing)
{
    auto setup = Reference();
    for (const RegisterToParameterRow& row : RegisterToParameterRows())
        if (!row.condition || row.condition(setup.get())) {
            EXPECT_EQ(row.compute(setup.get()), 1) << row.target;
        }
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(RegisterToParameterRows().size(), 99u);
}

// With each parameter of the reference missing in turn, every row touches at
// most its own target, and a row that skips touches nothing at all (only the
// current limit keeps the range it set before its late lookup).
TEST_F(RegisterPass, RowsTouchOnlyTheirTargetAndNothingWhenTheySkip)
{
    g_bShowErrors = 0;
    const auto reference = Reference();
    for (const auto& omitted : reference->GetParameters()) {
        auto setup = Without(*reference, omitted->Name());
        auto before = Snapshot(*setup);
        for (const RegisterToParameterRow& row : RegisterToParameterRows()) {
            if (row.condition && !row.condition(setup.get()))
                continue;
            const std::size_t target = IndexOf(*setup, row.target);
            const int written = row.compute(setup.get());
            auto after = Snapshot(*setup);
            const std::string context = std::string(row.target) + " without " + omitted->Name();
            if (EqualsIgnoringCase(omitted->Name(), row.target)) {
                EXPECT_EQ(written, 0) << context;
            }
            for (std::size_t i = 0; i < before.size(); ++i) {
                if (i != target && before[i] == after[i])
                    continue;
                if (i != target) {
                    FAIL() << context << " changed " << setup->GetParameters()[i]->Name();
                } else if (written == 0) {
                    ASSERT_EQ(before[i].value, after[i].value) << context;
                    if (std::string_view(row.target) != "IlimPS") {
                        ASSERT_EQ(before[i], after[i]) << context;
                    }
                }
            }
            before = std::move(after);
        }
    }
}

TEST_F(RegisterPass, AMissingParameterSkipsOnlyItsRowsAndIsReportedByTheHost)
{
    auto setup =
        With({{"ACR", 0x0200}, {"ControlMode", 0}, {"PCR", 0x01}, {"isOverCurrent", 0}, {"isMotori2t", 0}});
    ComputeParametersFromRegisters(setup.get());
    EXPECT_EQ(Value(*setup, "ControlMode"), 1.0);
    EXPECT_EQ(Value(*setup, "isOverCurrent"), 1.0);
    EXPECT_EQ(Value(*setup, "isMotori2t"), 0.0);
    EXPECT_EQ(g_bShowErrors, 1);
    // The host reports plain lookups; the predicates of optional rows stay quiet.
    EXPECT_FALSE(errors.empty());
    for (const char* optional : {"KPTHT", "isSWLS", "isSpeedEstimator", "CADIN", "FFL", "BRAKECFG",
                                 "POSOKLIM_FC", "InputsPolarityType", "save_axis_id", "SpeedForward"})
        for (const std::string& message : errors)
            EXPECT_EQ(message.find('"' + std::string(optional) + '"'), std::string::npos) << message;

    errors.clear();
    g_bShowErrors = 0;
    ComputeParametersFromRegisters(setup.get());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(g_bShowErrors, 0);
}

TEST_F(RegisterPass, ARefusedRangeLeavesValueAndRangeAlone)
{
    // The drive's nominal current above its peak current: no range for "I_I2t_D".
    auto setup = With({{"I_I2t_D", 7.0}, {"I2TINTLIM_D", 1e6}, {"InPS", 12.0}, {"ImaxPS", 10.0}});
    CMC_Parameter* current = setup->FindParameter("I_I2t_D");
    const double min = current->GetMinInBaseUnit(), max = current->GetMaxInBaseUnit();
    EXPECT_EQ(Compute_I_I2t_D(setup.get()), 0);
    EXPECT_EQ(current->GetValueInInternalUnit(), 7.0);
    EXPECT_EQ(current->GetMinInBaseUnit(), min);
    EXPECT_EQ(current->GetMaxInBaseUnit(), max);

    // A negative torque constant refuses the speed limit's range.
    auto speed = With({{"Limit_Speed", 5.0},
                       {"PositionControlType", 1},
                       {"ControlMode", 0},
                       {"SATP", 100},
                       {"Vdc", 48},
                       {"K", -0.1}});
    EXPECT_EQ(Compute_Limit_Speed(speed.get()), 0);
    EXPECT_EQ(speed->FindParameter("Limit_Speed")->GetValueInInternalUnit(), 5.0);
}

TEST_F(RegisterPass, LateLookupsKeepTheRangeTheySet)
{
    // Bit 9 set: the current limit comes from "SATS", which this setup lacks.
    auto setup = With({{"IlimPS", 1.0}, {"ACR", 0x0200}, {"ImaxPS", 10.0}, {"ImaxM", 6.0}, {"SATP", 0}});
    EXPECT_EQ(Compute_IlimPS(setup.get()), 0);
    const CMC_Parameter* limit = setup->FindParameter("IlimPS");
    EXPECT_EQ(limit->GetValueInInternalUnit(), 1.0);
    EXPECT_EQ(limit->GetMinInBaseUnit(), 0.001);
    EXPECT_EQ(limit->GetMaxInBaseUnit(), 6.0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("\"SATS\""), std::string::npos);
    errors.clear();

    // Outside position control through a speed loop the speed limit is not derived at all.
    auto torque = With({{"Limit_Speed", 5.0}, {"PositionControlType", 1}, {"ControlMode", 2}});
    EXPECT_EQ(Compute_Limit_Speed(torque.get()), 1);
    EXPECT_EQ(torque->FindParameter("Limit_Speed")->GetValueInInternalUnit(), 5.0);
    EXPECT_TRUE(errors.empty());
}

// The range of "POS_max" is set from the "POS_min" that the pass derives only
// afterwards (the same for the speed and current pairs): those three ranges
// take one more pass.
void ExpectPassSettles(CMC_Setup& setup)
{
    ComputeParametersFromRegisters(&setup);
    const auto once = Snapshot(setup);
    ComputeParametersFromRegisters(&setup);
    const auto twice = Snapshot(setup);
    ComputeParametersFromRegisters(&setup);
    EXPECT_EQ(Snapshot(setup), twice);
    const std::set<std::string> boundedByLaterRows = {"POS_max", "SPD_max", "CRT_max"};
    for (std::size_t i = 0; i < once.size(); ++i) {
        const std::string& name = setup.GetParameters()[i]->Name();
        EXPECT_EQ(once[i].value, twice[i].value) << name;
        if (!boundedByLaterRows.count(name)) {
            EXPECT_EQ(once[i], twice[i]) << name;
        }
    }
}

TEST_F(RegisterPass, RunningTwiceGivesTheSameAsOnce)
{
    auto setup = Reference();
    ExpectPassSettles(*setup);
}

TEST_F(RegisterPass, RunningTwiceGivesTheSameAsOnceForRandomRegisters)
{
    g_bShowErrors = 0;
    std::mt19937_64 random(20240611);
    for (int trial = 0; trial < 30; ++trial) {
        auto setup = Reference();
        for (const auto& p : setup->GetParameters()) {
            if (p->GetType() != PT_REGISTER)
                continue;
            const double lo = p->GetMinInBaseUnit(), hi = std::min(p->GetMaxInBaseUnit(), lo + 70000.0);
            p->SetValueInInternalUnit(
                std::floor(std::uniform_real_distribution<double>(lo, hi + 1.0)(random)));
        }
        setup->FindParameter("Motor_transmission")->SetValueInInternalUnit(trial % 2 ? -3.0 : 2.0);
        SCOPED_TRACE(trial);
        ExpectPassSettles(*setup);
    }
}
