#include "TestSetup.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

class SetupModel : public ModelTest {};

TEST_F(SetupModel, LookupIgnoresLetterCase)
{
    CMC_Parameter* lower = setup->FindParameter("isMotori2t");
    CMC_Parameter* upper = setup->FindParameter("ISMOTORI2T");
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(lower, setup->FindParameter("isMotorI2t"));
    EXPECT_STREQ(lower->GetName(), "isMotorI2t");
    EXPECT_EQ(setup->FindVariable("aspd", 1), setup->FindVariable("ASPD", 1));
    EXPECT_TRUE(errors.empty());
}

TEST_F(SetupModel, FailedLookupIsReportedOnlyWhenErrorsAreShown)
{
    EXPECT_EQ(setup->FindParameter("NoSuchName"), nullptr);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("NoSuchName"), std::string::npos);

    g_bShowErrors = 0;
    EXPECT_EQ(setup->FindParameter("NoSuchName"), nullptr);
    EXPECT_EQ(setup->FindVariable("NoSuchVariable", 1), nullptr);
    g_bShowErrors = 1;
    EXPECT_EQ(setup->FindVariable("NoSuchVariable", 0), nullptr);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("NoSuchName"), 0.0);
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(SetupModel, QuietLookupRestoresTheFlagOnEveryPath)
{
    for (int flag : {0, 1, 7}) {
        g_bShowErrors = flag;
        {
            QuietLookup quiet;
            EXPECT_EQ(g_bShowErrors, 0);
            EXPECT_EQ(setup->FindParameter("Missing"), nullptr);
        }
        EXPECT_EQ(g_bShowErrors, flag);
        try {
            QuietLookup quiet;
            throw std::runtime_error("leaves early");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(g_bShowErrors, flag);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(SetupModel, DriveScaledValuesConvertBothWays)
{
    CMC_Parameter& imax = Param("Imax_Prot");
    EXPECT_DOUBLE_EQ(imax.GetValueInBaseUnit(), 50.0); // 100 counts at 2 counts per ampere
    ASSERT_EQ(imax.SetValueInBaseUnit(3.0), 1);
    EXPECT_DOUBLE_EQ(imax.GetValueInInternalUnit(), 6.0);
    ASSERT_EQ(imax.ChangeUnit("mA"), 1);
    EXPECT_DOUBLE_EQ(imax.GetValue(), 3000.0);
    EXPECT_EQ(imax.PrintValue(), "3000");
    imax.SetValue(1500.0);
    EXPECT_DOUBLE_EQ(imax.GetValueInInternalUnit(), 3.0);

    // An offset unit: degrees = (counts - 100) x 0.5.
    CMC_Parameter& temp = Param("Temp_2");
    EXPECT_DOUBLE_EQ(temp.GetValueInBaseUnit(), 100.0);
    temp.SetValueInBaseUnit(-20.0);
    EXPECT_DOUBLE_EQ(temp.GetValueInInternalUnit(), 60.0);
    EXPECT_DOUBLE_EQ(setup->GetParameterValueInInternalUnit("temp_2"), 60.0);

    CMC_Variable* speed = setup->FindVariable("ASPD", 1);
    speed->SetValueInInternalUnit(4.0 * 10.471975511965977);
    ASSERT_EQ(speed->ChangeUnit("rpm"), 1);
    EXPECT_NEAR(speed->GetValue(), 100.0, 1e-9);
    EXPECT_EQ(speed->HasSelectedUnit(), 1);
    EXPECT_EQ(setup->FindVariable("MER", 1)->HasSelectedUnit(), 0);
}

TEST_F(SetupModel, PhysicalValuesHoldInternalEqualToBase)
{
    CMC_Parameter& imaxPS = Param("ImaxPS");
    imaxPS.SetValueInBaseUnit(12.5);
    EXPECT_EQ(imaxPS.GetValueInInternalUnit(), 12.5);

    // Drive-scaled unit type, but marked physical: the scale does not apply.
    CMC_Parameter& load = Param("Load_transmission");
    EXPECT_TRUE(load.UnitType().IsDriveScaled());
    EXPECT_EQ(load.GetValueInBaseUnit(), load.GetValueInInternalUnit());
    EXPECT_NEAR(load.GetValue(), 1.0, 1e-15);

    CMC_Parameter& l = Param("L");
    ASSERT_EQ(l.ChangeUnit("mH"), 1);
    l.SetValue(2.5);
    EXPECT_DOUBLE_EQ(l.GetValueInBaseUnit(), 0.0025);
    EXPECT_STREQ(l.GetUnitName(), "mH");
}

// A register holds what the drive holds: a whole number, rounded half away
// from zero on every way in; other parameters keep their fractions.
TEST_F(SetupModel, RegistersAreRoundedToWholeNumbersWhenStored)
{
    CMC_Parameter& kpi = Param("KPI");
    kpi.SetRegisterWidth(-32768, 32767); // signed, for the negative halves
    for (const auto& [stored, held] : std::initializer_list<std::pair<double, double>>{
             {24575.4138, 24575}, {2.5, 3}, {-2.5, -3}, {3.5, 4}, {-0.5, -1}, {0.49999999999999994, 0}}) {
        ASSERT_EQ(kpi.SetValueInInternalUnit(stored), 1);
        EXPECT_EQ(kpi.GetValueInInternalUnit(), held) << stored;
    }
    kpi.SetValueInBaseUnit(100.5);
    EXPECT_EQ(kpi.GetValueInInternalUnit(), 101);
    kpi.SetValue(-7.5);
    EXPECT_EQ(kpi.GetValueInInternalUnit(), -8);
    EXPECT_EQ(kpi.SetValueInInternalUnit(NAN), 0);
    EXPECT_EQ(kpi.GetValueInInternalUnit(), -8);
    errors.clear();

    Param("ImaxPS").SetValueInInternalUnit(2.5); // drive data
    EXPECT_EQ(Param("ImaxPS").GetValueInInternalUnit(), 2.5);
    Param("Imax_Prot").SetValueInInternalUnit(2.5); // a value in drive units
    EXPECT_EQ(Param("Imax_Prot").GetValueInInternalUnit(), 2.5);
}

TEST_F(SetupModel, ChangingTheUnitTypeKeepsTheDrivesNumber)
{
    CMC_Parameter& load = Param("Load_transmission");
    const double before = load.GetValueInInternalUnit();
    ASSERT_EQ(load.ChangeUnitType("mm"), 1);
    EXPECT_STREQ(load.GetUnitType(), "mm");
    EXPECT_STREQ(load.GetUnitName(), "mm");
    EXPECT_EQ(load.GetValueInInternalUnit(), before);

    CMC_Parameter& speed = Param("TestSpeed");
    speed.SetValueInInternalUnit(40.0);
    ASSERT_EQ(speed.ChangeUnitType("rad/s"), 1);
    EXPECT_DOUBLE_EQ(speed.GetValue(), 10.0);

    EXPECT_EQ(speed.ChangeUnitType("furlong"), 0);
    EXPECT_STREQ(speed.GetUnitType(), "rad/s");
    EXPECT_EQ(speed.ChangeUnit("mm"), 0);
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(SetupModel, NonFiniteValuesAreRefusedAndTheOldValueStays)
{
    CMC_Parameter& l = Param("L");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(l.SetValueInBaseUnit(nan), 0);
    EXPECT_EQ(l.SetValueInInternalUnit(inf), 0);
    EXPECT_EQ(setup->SetParameterValueInBaseUnit("L", -inf), 0);
    EXPECT_EQ(l.SetMinInBaseUnit(nan), 0);
    EXPECT_EQ(l.SetMaxInBaseUnit(inf), 0);
    EXPECT_EQ(l.GetValueInBaseUnit(), 0.001);
    EXPECT_EQ(l.GetMinInBaseUnit(), 0.0);
    EXPECT_EQ(l.GetMaxInBaseUnit(), 10.0);
    EXPECT_EQ(errors.size(), 5u);

    // A finite base value that the scale turns into infinity is refused too.
    RegisterScaleProvider({[](CMC_Setup*, const char*, const char*) { return 0.0; }, nullptr});
    CMC_Parameter& imax = Param("Imax_Prot");
    EXPECT_EQ(imax.SetValueInBaseUnit(1.0), 0);
    EXPECT_EQ(imax.GetValueInInternalUnit(), 100.0);
}

TEST_F(SetupModel, RangesAreKeptInBaseUnits)
{
    CMC_Parameter& imax = Param("Imax_Prot");
    imax.SetMinInBaseUnit(0.5);
    imax.SetMaxInBaseUnit(8.0);
    EXPECT_EQ(imax.GetMinInBaseUnit(), 0.5);
    EXPECT_EQ(imax.GetMaxInBaseUnit(), 8.0);
    EXPECT_TRUE(imax.IsInRange(8.0));
    EXPECT_FALSE(imax.IsInRange(8.01));
    // The host does not clamp: the engine may write a value outside the range.
    imax.SetValueInBaseUnit(9.0);
    EXPECT_EQ(imax.GetValueInBaseUnit(), 9.0);
}

TEST_F(SetupModel, OptionsAreNamedTexts)
{
    setup->SetOption("hasNegTransmission", "1");
    setup->SetOption("NewDeadBand", " -3");
    setup->SetOption("Broken", "abc");
    EXPECT_EQ(setup->GetIntOption("HASNEGTRANSMISSION"), 1);
    EXPECT_EQ(setup->GetIntOption("NewDeadBand"), -3);
    EXPECT_EQ(setup->GetIntOption("Broken"), 0);
    EXPECT_EQ(setup->GetIntOption("Absent"), 0);
    EXPECT_EQ(setup->GetOptionNoError("Absent"), "");
    setup->SetOption("hasnegtransmission", "0");
    EXPECT_EQ(setup->GetOptionNoError("hasNegTransmission"), "0");
    setup->ClearOption("NEWDEADBAND");
    EXPECT_FALSE(setup->HasOption("NewDeadBand"));
    ASSERT_EQ(setup->GetOptions().size(), 2u);
    EXPECT_EQ(setup->GetOptions()[0].first, "hasNegTransmission");
    EXPECT_TRUE(errors.empty());
}

TEST_F(SetupModel, IdentityChecksWhatTheDriveWouldRefuse)
{
    EXPECT_EQ(setup->SetFirmwareID("F514A"), 1);
    EXPECT_EQ(setup->SetFirmwareID(""), 0);
    EXPECT_EQ(setup->SetFirmwareID("with blank"), 0);
    EXPECT_EQ(setup->GetFirmwareID(), "F514A");
    setup->SetUserAppID(std::string(50, 'x'));
    EXPECT_EQ(setup->GetUserAppID().size(), 40u);
    setup->SetE2ROMSize(0x8000);
    EXPECT_EQ(setup->GetE2ROMSize() >> 10, 32u);
}

class RecordingLink : public CMC_ChipLink {
public:
    bool ReadVariable(const std::string& name, double& value) override
    {
        value = name == "ASPD" ? readValue : 0.0;
        return name == "ASPD";
    }
    bool WriteVariable(const std::string& name, double value) override
    {
        written = name + "=" + std::to_string(value);
        return true;
    }
    bool WriteParameter(const std::string& name, double value) override { return WriteVariable(name, value); }
    std::string LastError() const override { return "no such variable"; }

    double readValue = 12.0;
    std::string written;
};

TEST_F(SetupModel, ChipAccessGoesThroughTheLink)
{
    CMC_Variable* speed = setup->FindVariable("ASPD", 1);
    EXPECT_EQ(speed->ReadFromChip(), 0);
    EXPECT_EQ(Param("KPI").WriteToChip(), 0);
    EXPECT_NE(std::string(GetLastErrorText()).find("not connected"), std::string::npos);

    auto link = std::make_shared<RecordingLink>();
    setup->SetChipLink(link);
    EXPECT_EQ(speed->ReadFromChip(), 1);
    EXPECT_EQ(speed->GetValueInInternalUnit(), 12.0);
    EXPECT_EQ(setup->FindVariable("MER", 1)->ReadFromChip(), 0);
    EXPECT_STREQ(GetLastErrorText(), "no such variable");
    EXPECT_EQ(Param("KPI").WriteToChip(), 1);
    EXPECT_EQ(link->written, "KPI=16384.000000");

    link->readValue = std::numeric_limits<double>::infinity();
    EXPECT_EQ(speed->ReadFromChip(), 0);
    EXPECT_EQ(speed->GetValueInInternalUnit(), 12.0);
}

TEST_F(SetupModel, LookupObserverHearsEveryLookupAsSpelledUntilCleared)
{
    using Kind = CMC_Setup::LookupKind;
    std::vector<std::pair<Kind, std::string>> heard;
    setup->SetLookupObserver([&heard](Kind kind, std::string_view name) { heard.emplace_back(kind, name); });
    {
        QuietLookup quiet;
        setup->GetParameterValueInBaseUnit("imax_prot");
        setup->FindParameter("NoSuchName");
        setup->FindVariable("aspd", 0);
    }
    setup->Clone()->FindParameter("KPI");
    setup->SetLookupObserver({});
    setup->FindParameter("KPI");
    const std::vector<std::pair<Kind, std::string>> expected = {
        {Kind::Parameter, "imax_prot"}, {Kind::Parameter, "NoSuchName"}, {Kind::Variable, "aspd"}};
    EXPECT_EQ(heard, expected);
}

TEST_F(SetupModel, CloneIsDeep)
{
    setup->SetOption("hasOscilloscope", "1");
    Param("L").ChangeUnit("mH");
    auto copy = setup->Clone();
    copy->FindParameter("L")->SetValueInBaseUnit(0.5);
    copy->SetOption("hasOscilloscope", "0");
    EXPECT_EQ(Param("L").GetValueInBaseUnit(), 0.001);
    EXPECT_EQ(setup->GetIntOption("hasOscilloscope"), 1);
    EXPECT_STREQ(copy->FindParameter("L")->GetUnitName(), "mH");
    EXPECT_EQ(copy->FindParameter("L")->GetSetup(), copy.get());
    EXPECT_EQ(copy->GetParameters().size(), setup->GetParameters().size());
}

} // namespace
