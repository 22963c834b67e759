#include "DriveTestSetup.h"

namespace {

using Kind = ScriptedDrive::Kind;

using CommTest = DriveTest;

TEST_F(CommTest, ConnectSetupDownloadsTheRegistersAndRoutesVariablesThroughTheActiveLink)
{
    ASSERT_TRUE(CMC_Comm::ConnectSetup(*setup));
    EXPECT_EQ(drive->Count(Kind::DownloadSetup), 1);
    EXPECT_EQ(drive->Written("KPI"), setup->GetParameterValueInInternalUnit("KPI"));

    drive->Variable("MER", 0x8002);
    CMC_Variable* mer = setup->FindVariable("MER", 1);
    ASSERT_NE(mer, nullptr);
    ASSERT_TRUE(mer->ReadFromChip());
    EXPECT_EQ(mer->GetValueInInternalUnit(), 0x8002);

    CMC_Variable* command = setup->FindVariable("var_i2", 1);
    command->SetValueInInternalUnit(1.0);
    ASSERT_TRUE(command->WriteToChip());
    EXPECT_EQ(drive->Written("var_i2"), 1.0);
    ASSERT_TRUE(setup->FindParameter("KPI")->WriteToChip());
    EXPECT_EQ(drive->Count(Kind::WriteParameter, "KPI"), 1);

    // Each request is stamped with the next tick of the clock.
    const auto& requests = drive->Requests();
    for (std::size_t i = 1; i < requests.size(); ++i)
        EXPECT_NEAR(requests[i].time - requests[i - 1].time, 0.01, 1e-12);
}

TEST_F(CommTest, FailedAccessKeepsTheValueAndLeavesTheDrivesReasonAsLastError)
{
    ASSERT_TRUE(CMC_Comm::ConnectSetup(*setup));
    CMC_Variable* reference = setup->FindVariable("REFTST_V", 1);
    reference->SetValueInInternalUnit(77.0);
    drive->Fail(Kind::ReadVariable, "REFTST_V");
    EXPECT_FALSE(reference->ReadFromChip());
    EXPECT_EQ(reference->GetValueInInternalUnit(), 77.0);
    const std::string text = CMC_Comm::GetLastErrorText();
    EXPECT_NE(text.find("does not answer"), std::string::npos) << text;
    EXPECT_NE(text.find("REFTST_V"), std::string::npos) << text;
    EXPECT_TRUE(reference->ReadFromChip());
}

TEST_F(CommTest, WithoutADriveEveryAccessFailsAsNotConnected)
{
    ASSERT_TRUE(CMC_Comm::ConnectSetup(*setup));
    CMC_Comm::SetActiveLink(nullptr, nullptr);
    EXPECT_EQ(CMC_Comm::ActiveLink(), nullptr);
    EXPECT_FALSE(setup->FindVariable("MER", 1)->ReadFromChip());
    EXPECT_STREQ(CMC_Comm::GetLastErrorText(), LinkResultText(LinkResult::NotConnected));
    EXPECT_FALSE(CMC_Comm::ResetActiveBoard());
    EXPECT_FALSE(CMC_Comm::ConnectSetup(*setup));
}

TEST_F(CommTest, SetupFollowsTheLinkThatIsActiveAtTheTimeOfAccess)
{
    ASSERT_TRUE(CMC_Comm::ConnectSetup(*setup));
    auto other = std::make_shared<ScriptedDrive>();
    other->Variable("MER", 2.0);
    CMC_Comm::SetActiveLink(other, std::make_shared<SteppedClock>());
    CMC_Variable* mer = setup->FindVariable("MER", 1);
    ASSERT_TRUE(mer->ReadFromChip());
    EXPECT_EQ(mer->GetValueInInternalUnit(), 2.0);
    EXPECT_EQ(drive->Count(Kind::ReadVariable), 0);
}

TEST_F(CommTest, ResetStopsTheRunningProgram)
{
    drive->Program("Initial_Positioning_Test").StartsAfter(0).NeverEnds();
    ASSERT_EQ(drive->StartProgram(clock->Now(), {"Initial_Positioning_Test", {}}, nullptr), LinkResult::Ok);
    double started = 0.0;
    drive->ReadUserVariable(clock->Now(), "Initial_Positioning_Test", "STARTED", started);
    ASSERT_TRUE(drive->IsAxisOn());
    EXPECT_TRUE(CMC_Comm::ResetActiveBoard());
    EXPECT_FALSE(drive->IsProgramRunning());
    EXPECT_FALSE(drive->IsAxisOn());
    drive->Fail(Kind::Reset);
    EXPECT_FALSE(CMC_Comm::ResetActiveBoard());
}

TEST_F(CommTest, UnsolicitedFramesGoToTheGivenHandlerElseToTheRegisteredOne)
{
    std::vector<std::uint16_t> registered;
    std::vector<std::uint16_t> given;
    const auto none = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(
        [&](const UnsolicitedFrame& frame) { registered.push_back(frame.code); });
    EXPECT_FALSE(none);

    drive->QueueFrame({0xE900, {1, 2}});
    drive->QueueFrame({0x1234, {}});
    CMC_Comm::CheckForUnrequestedMessages();
    EXPECT_EQ(registered, (std::vector<std::uint16_t>{0xE900, 0x1234}));

    drive->QueueFrame({0xE900, {}});
    CMC_Comm::CheckForUnrequestedMessages(
        [&](const UnsolicitedFrame& frame) { given.push_back(frame.code); });
    EXPECT_EQ(given, (std::vector<std::uint16_t>{0xE900}));
    EXPECT_EQ(registered.size(), 2u);
    CMC_Comm::CheckForUnrequestedMessages();
    EXPECT_EQ(registered.size(), 2u) << "frames are handed out once";

    // Registering hands back the handler before, to be put back later.
    auto previous = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(nullptr);
    ASSERT_TRUE(previous);
    drive->QueueFrame({0xE900, {}});
    CMC_Comm::CheckForUnrequestedMessages();
    EXPECT_EQ(registered.size(), 2u);
    CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(previous);
    drive->QueueFrame({0xE900, {}});
    CMC_Comm::CheckForUnrequestedMessages();
    EXPECT_EQ(registered.size(), 3u);
}

} // namespace
