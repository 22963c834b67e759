#include "DriveTestSetup.h"

#include <cmath>

namespace {

using Kind = ScriptedDrive::Kind;

const ProgramRequest kPreliminary{"Initial_Positioning_Test", {"In1", "STARTED"}};

class ScriptedDriveTest : public DriveTest {
protected:
    double ReadUser(const std::string& name, const std::string& program = kPreliminary.name)
    {
        double value = -1.0;
        EXPECT_EQ(drive->ReadUserVariable(clock->Now(), program, name, value), LinkResult::Ok) << name;
        return value;
    }
    bool AxisOn()
    {
        bool on = false;
        EXPECT_EQ(drive->GetAxisOn(clock->Now(), on), LinkResult::Ok);
        return on;
    }
    double ReadVariable(const std::string& name)
    {
        double value = -1.0;
        EXPECT_EQ(drive->ReadVariable(clock->Now(), name, value), LinkResult::Ok) << name;
        return value;
    }
    void Start(const ProgramRequest& program = kPreliminary)
    {
        ASSERT_EQ(drive->StartProgram(clock->Now(), program, nullptr), LinkResult::Ok);
    }
};

TEST_F(ScriptedDriveTest, ProgramStartsRunsAndEndsPollByPollAndShowsItsResultOnlyAtTheEnd)
{
    drive->Program("Initial_Positioning_Test").StartsAfter(2).EndsAfter(3).Result("In1", 120.0);
    ASSERT_EQ(drive->WriteUserVariable(clock->Now(), kPreliminary.name, "In1", 40.0), LinkResult::Ok);
    Start();

    EXPECT_EQ(ReadUser("STARTED"), 0.0);
    EXPECT_EQ(ReadUser("STARTED"), 0.0);
    EXPECT_FALSE(drive->IsAxisOn());
    EXPECT_EQ(ReadUser("STARTED"), 1.0);
    EXPECT_TRUE(drive->IsProgramRunning());
    for (int poll = 0; poll < 3; ++poll)
        EXPECT_TRUE(AxisOn()) << poll;
    EXPECT_EQ(ReadUser("In1"), 40.0) << "what the host wrote, while the program runs";
    EXPECT_FALSE(AxisOn());
    EXPECT_FALSE(drive->IsProgramRunning());
    EXPECT_EQ(ReadUser("In1"), 120.0);
    EXPECT_EQ(ReadUser("STARTED"), 1.0);
}

TEST_F(ScriptedDriveTest, ProgramThatNeverStartsOrNeverEnds)
{
    drive->Program("Initial_Positioning_Test").NeverStarts();
    drive->Program("Initial_Positioning_Test", 1).StartsAfter(0).NeverEnds();
    Start();
    for (int poll = 0; poll < 50; ++poll)
        ASSERT_EQ(ReadUser("STARTED"), 0.0);
    ASSERT_EQ(drive->StopProgram(clock->Now()), LinkResult::Ok);

    Start();
    EXPECT_EQ(ReadUser("STARTED"), 1.0);
    for (int poll = 0; poll < 50; ++poll)
        ASSERT_TRUE(AxisOn());
    ASSERT_EQ(drive->StopProgram(clock->Now()), LinkResult::Ok);
    EXPECT_FALSE(drive->IsProgramRunning());
    EXPECT_FALSE(drive->IsAxisOn());
    EXPECT_FALSE(AxisOn());
    EXPECT_EQ(drive->Starts("Initial_Positioning_Test"), 2);
}

TEST_F(ScriptedDriveTest, EachRunPlaysItsOwnScriptAndLaterRunsRepeatTheLast)
{
    drive->Program("Ident_R_or_Rs").StartsAfter(0).EndsAfter(0).EndVariable("var_i1", 100.0);
    drive->Program("Ident_R_or_Rs", 1).EndVariable("var_i1", 55.0);
    const ProgramRequest r{"Ident_R_or_Rs", {}};
    std::vector<double> results;
    for (int run = 0; run < 3; ++run) {
        Start(r);
        while (ReadUser("STARTED", r.name) == 0.0) {
        }
        while (AxisOn()) {
        }
        results.push_back(ReadVariable("var_i1"));
    }
    EXPECT_EQ(results, (std::vector<double>{100.0, 55.0, 55.0}));
}

TEST_F(ScriptedDriveTest, DriveVariablesFollowRunThenDriveThenWrittenValuesAndSequencesRepeatTheirLast)
{
    drive->Variable("THTST", {-100.0, -16382.5});
    drive->Variable("MER", 0.0);
    ASSERT_EQ(drive->WriteVariable(clock->Now(), "var_i2", 1.0), LinkResult::Ok);
    EXPECT_EQ(ReadVariable("THTST"), -100.0);
    EXPECT_EQ(ReadVariable("THTST"), -16382.5);
    EXPECT_EQ(ReadVariable("THTST"), -16382.5);
    EXPECT_EQ(ReadVariable("var_i2"), 1.0);
    EXPECT_EQ(ReadVariable("AD5"), 0.0) << "an unscripted variable reads 0";

    drive->Program("Initial_Positioning_Test")
        .StartsAfter(0)
        .EndsAfter(0)
        .Variable("MER", 0x0020)
        .EndVariable("var_i2", 4.0);
    Start();
    EXPECT_EQ(ReadVariable("MER"), 0x0020) << "the run's value goes before the drive-wide one";
    EXPECT_EQ(ReadVariable("var_i2"), 1.0) << "an end value shows only at the end";
    ReadUser("STARTED");
    EXPECT_FALSE(AxisOn());
    EXPECT_EQ(ReadVariable("var_i2"), 4.0);
}

TEST_F(ScriptedDriveTest, UserVariablesOutsideTheImageAreRefusedUnlessStartedByNameAlone)
{
    Start();
    double value = 0.0;
    EXPECT_EQ(drive->ReadUserVariable(clock->Now(), kPreliminary.name, "RefTest", value),
              LinkResult::NoSuchVariable);
    EXPECT_EQ(drive->WriteUserVariable(clock->Now(), kPreliminary.name, "RefTest", 1.0),
              LinkResult::NoSuchVariable);
    drive->StopProgram(clock->Now());
    Start(ProgramRequest{"Analogue_Reference_Test", {}});
    EXPECT_EQ(drive->WriteUserVariable(clock->Now(), "Analogue_Reference_Test", "anything", 1.0),
              LinkResult::Ok);
}

TEST_F(ScriptedDriveTest, SecondStartWhileAProgramRunsIsRefused)
{
    drive->Program("Initial_Positioning_Test").StartsAfter(0).NeverEnds();
    Start();
    EXPECT_EQ(drive->StartProgram(clock->Now(), kPreliminary, nullptr), LinkResult::Refused);
    EXPECT_EQ(drive->Starts("Initial_Positioning_Test"), 1);
}

TEST_F(ScriptedDriveTest, InjectedFailuresHitTheChosenRequestOnlyAndChangeNothing)
{
    drive->Program("Initial_Positioning_Test").StartsAfter(0);
    drive->FailAt(2);
    drive->Fail(Kind::ReadUser, "STARTED", 2, LinkResult::NotConnected);
    Start(); // request 1
    double value = 0.0;
    EXPECT_EQ(drive->ReadUserVariable(clock->Now(), kPreliminary.name, "STARTED", value),
              LinkResult::NoAnswer);
    EXPECT_EQ(drive->ReadUserVariable(clock->Now(), kPreliminary.name, "STARTED", value),
              LinkResult::NotConnected);
    EXPECT_NE(drive->LastError().find("STARTED"), std::string::npos) << drive->LastError();
    EXPECT_EQ(ReadUser("STARTED"), 1.0) << "failed polls do not count as polls";

    drive->Fail(Kind::StartProgram, "Ident_L_or_Tau_el");
    EXPECT_EQ(drive->StartProgram(clock->Now(), {"Ident_L_or_Tau_el", {}}, nullptr), LinkResult::NoAnswer);
    EXPECT_EQ(drive->CurrentProgram(), "Initial_Positioning_Test");

    drive->StopAnswering();
    EXPECT_EQ(drive->StopProgram(clock->Now()), LinkResult::NoAnswer);
    EXPECT_TRUE(drive->IsProgramRunning());
    const auto& last = drive->Requests().back();
    EXPECT_EQ(last.kind, Kind::StopProgram);
    EXPECT_EQ(last.result, LinkResult::NoAnswer);
}

TEST_F(ScriptedDriveTest, RecordsEveryRequestWithItsTimeAndValue)
{
    Start();
    drive->WriteUserVariable(clock->Now(), kPreliminary.name, "In1", 7.0);
    drive->WriteParameter(clock->Now(), "KPI", 1234.0);
    ASSERT_EQ(drive->Requests().size(), 3u);
    EXPECT_DOUBLE_EQ(drive->Requests()[0].time, 0.01);
    EXPECT_DOUBLE_EQ(drive->Requests()[2].time, 0.03);
    EXPECT_EQ(drive->Written(kPreliminary.name, "In1"), 7.0);
    EXPECT_TRUE(std::isnan(drive->Written(kPreliminary.name, "STARTED")));
    EXPECT_EQ(drive->Written("KPI"), 1234.0);
    EXPECT_EQ(drive->Count(Kind::WriteUser), 1);
    ASSERT_NE(drive->Last(Kind::WriteParameter, "KPI"), nullptr);
    EXPECT_EQ(drive->Last(Kind::WriteParameter, "KPI")->value, 1234.0);
}

TEST_F(ScriptedDriveTest, LogIsUploadedFromARunThatLogsWhileItRunsAndAfterItsEnd)
{
    const std::vector<std::vector<double>> rows{{1.0, 2.0}, {3.0, 4.0}};
    drive->Program("Ident_L_or_Tau_el").StartsAfter(0).EndsAfter(0).Log(rows);
    LogRequest log{{"IQ", "ID"}, 400, 1};
    std::vector<std::vector<double>> uploaded{{9.0}};
    ASSERT_EQ(drive->UploadLog(clock->Now(), uploaded), LinkResult::Ok);
    EXPECT_TRUE(uploaded.empty()) << "nothing ran yet";
    ASSERT_EQ(drive->StartProgram(clock->Now(), {"Ident_L_or_Tau_el", {}}, &log), LinkResult::Ok);
    ASSERT_EQ(drive->UploadLog(clock->Now(), uploaded), LinkResult::Ok);
    EXPECT_EQ(uploaded, rows) << "a program that repeats its motion has long filled its log";
    ReadUser("STARTED", "Ident_L_or_Tau_el");
    AxisOn();
    ASSERT_EQ(drive->UploadLog(clock->Now(), uploaded), LinkResult::Ok);
    EXPECT_EQ(uploaded, rows);

    ASSERT_EQ(drive->StartProgram(clock->Now(), {"Ident_L_or_Tau_el", {}}, nullptr), LinkResult::Ok);
    ReadUser("STARTED", "Ident_L_or_Tau_el");
    AxisOn();
    ASSERT_EQ(drive->UploadLog(clock->Now(), uploaded), LinkResult::Ok);
    EXPECT_TRUE(uploaded.empty()) << "no logger, no log";
}

} // namespace
