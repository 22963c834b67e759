// The engine at the edges of its inputs: designs and registers that hit the
// widths of their registers, divisors that are zero or missing, and unit
// types that would make a scale read itself.
#include "ControllerDesign.h"
#include "EngineCore.h"
#include "ParametersToRegisters.h"
#include "SetupChecks.h"

#include "../EngineTestSetup.h"

#include <cmath>

namespace {

class EngineEdges : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        setup = Reference();
    }
    void Set(const char* name, double base) { ASSERT_EQ(setup->SetParameterValueInBaseUnit(name, base), 1); }
    double Register(const char* name) { return setup->GetParameterValueInInternalUnit(name); }
    // Designs the loop and sends its gains through their registers, as the
    // tuning dialogs and the compute command do.
    void Design(int (*design)(CMC_Setup*), std::initializer_list<const char*> gains)
    {
        ASSERT_EQ(design(setup.get()), 1);
        for (const char* gain : gains)
            ParameterChangeDispatch(setup.get(), gain);
    }

    std::unique_ptr<CMC_Setup> setup;
};

TEST_F(EngineEdges, ACurrentDesignBelowZeroHoldsZeroAndSaysSo)
{
    const struct {
        const char* name;
        double value;
    } edges[] = {{"L", 1e-6}, {"R", 1000.0}, {"Dump_C", 0.01}};
    for (const auto& edge : edges) {
        setup = Reference();
        Set(edge.name, edge.value);
        Design(&DesignCurrentController, {"Kp_C_scl", "Ki_C_scl"});
        EXPECT_EQ(Register("KPI"), 0.0) << edge.name;
        EXPECT_EQ(Value(*setup, "Kp_C_scl"), 0.0) << edge.name;
        EXPECT_NE(RegistersAtLimit(setup.get(), {"KPI", "SFTKPI"}).find("KPI (0 to 32767)"),
                  std::string::npos)
            << edge.name;
    }
}

TEST_F(EngineEdges, ASpeedGainBeyondTheShiftSaturatesAtTheLargestGain)
{
    for (const auto& [name, value] : {std::pair{"K", 1e-4}, std::pair{"Jt", 100.0}}) {
        setup = Reference();
        Set(name, value);
        Design(&DesignSpeedController, {"Kp_S_scl", "Ki_S_scl"});
        EXPECT_EQ(Register("SFTKPS"), 15.0) << name;
        EXPECT_EQ(Register("KPS"), 32767.0) << name;
        EXPECT_EQ(Value(*setup, "Kp_S_scl"), GainFromPair(32767.0, 15.0)) << name;
        const std::string limit = RegistersAtLimit(setup.get(), {"SFTKPS", "KPS"});
        EXPECT_NE(limit.find("SFTKPS (0 to 15)"), std::string::npos) << limit;
        EXPECT_NE(limit.find("KPS (0 to 32767)"), std::string::npos) << limit;
    }
}

TEST_F(EngineEdges, TheRegisterPassClampsToTheWidthsAndSaysSo)
{
    ComputeRegistersFromParameters(setup.get());
    EXPECT_EQ(RegistersAtLimit(setup.get()), "") << "the reference setup fits its registers";

    Set("UMAX_PROT", 2000.0);
    Set("Resolution", 1.0);
    ComputeRegistersFromParameters(setup.get());
    EXPECT_EQ(Register("UMAXPROT"), 65535.0);
    EXPECT_EQ(Register("ENC2THL"), 4294967295.0);
    const std::string limit = RegistersAtLimit(setup.get());
    EXPECT_NE(limit.find("UMAXPROT (0 to 65535)"), std::string::npos) << limit;
    EXPECT_NE(limit.find("ENC2THL (0 to 4294967295)"), std::string::npos) << limit;
}

TEST_F(EngineEdges, ZeroOrMissingDivisorsAndValuesThatAreNotFiniteAreDefects)
{
    EXPECT_TRUE(SetupDefects(setup.get()).empty());
    for (const char* divisor : {"Motor_transmission", "Load_transmission", "DSP_freq", "Vdc", "ImaxPS"}) {
        setup = Reference();
        CMC_Parameter* p = setup->FindParameter(divisor);
        const double before = p->GetValueInInternalUnit();
        const std::string zero = "\"" + std::string(divisor) + "\" is 0; the drive's scales divide by it";
        EXPECT_EQ(DefectOfChange(p, 0.0), zero);
        EXPECT_EQ(p->GetValueInInternalUnit(), before) << divisor;
        EXPECT_EQ(DefectOfChange(p, 2.0 * p->GetValueInBaseUnit()), "") << divisor;

        p->SetValueInInternalUnit(0.0);
        const std::vector<std::string> defects = SetupDefects(setup.get());
        ASSERT_FALSE(defects.empty()) << divisor;
        EXPECT_EQ(defects.front(), zero);
    }
    // The divisors that are registers cannot hold 0: their widths start at 1.
    for (const char* divisor : {"SLPER", "PWMPER", "MECRESL"}) {
        setup->FindParameter(divisor)->SetValueInInternalUnit(0.0);
        EXPECT_EQ(Register(divisor), 1.0) << divisor;
    }
    auto bare = With({{"CLPER", 1.0}});
    EXPECT_EQ(SetupDefects(bare.get()).front(), "\"DSP_freq\" is missing; the drive's scales divide by it");
}

TEST_F(EngineEdges, AUnitTypeThatMakesTheScaleReadItselfGivesADefectNotACrash)
{
    const struct {
        const char* name;
        const char* unitType;
    } cases[] = {{"DSP_freq", "s"}, {"ImaxPS", "A/s"}, {"PWMPER", "rad/s"}, {"MECRESL", "rad/s"}};
    for (const auto& c : cases) {
        setup = Reference();
        errors.clear();
        ASSERT_EQ(setup->FindParameter(c.name)->ChangeUnitType(c.unitType), 1);
        EXPECT_TRUE(std::isnan(Value(*setup, c.name))) << c.name;
        EXPECT_FALSE(errors.empty()) << c.name;
        EXPECT_FALSE(SetupDefects(setup.get()).empty()) << c.name;
    }
}

} // namespace
