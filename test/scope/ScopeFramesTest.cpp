// Scope frames into screen points: through the registered handler of the
// scripted drive and directly; frames late, repeated, lost or damaged; the
// trigger modes and the stop.
#include "ScopeTestSupport.h"

namespace {

using namespace scopetest;

class ScopeFrames : public ScopeTest {
protected:
    // A logger of "Speed_Reference" and "Motor_Current", armed.
    std::unique_ptr<CMC_ScopeLogger> Armed(int mode = CMC_ScopeLogger::TriggerAuto, double level = 0.0,
                                           int preTrigger = 0)
    {
        auto logger = std::make_unique<CMC_ScopeLogger>(setup.get(), nullptr);
        EXPECT_TRUE(logger->AddVariable("Speed_Reference"));
        EXPECT_TRUE(logger->AddVariable("Motor_Current"));
        logger->ChangeSettings(0.1, mode, CMC_ScopeLogger::SlopeRising,
                               mode == CMC_ScopeLogger::TriggerAuto ? nullptr : "Speed_Reference", level,
                               preTrigger);
        logger->OnProgramStarted();
        return logger;
    }

    // Frames of one channel each for a one-channel logger of "Speed_Reference".
    std::unique_ptr<CMC_ScopeLogger> ArmedSingleChannel(int mode, double level, int preTrigger)
    {
        auto logger = std::make_unique<CMC_ScopeLogger>(setup.get(), nullptr);
        EXPECT_TRUE(logger->AddVariable("Speed_Reference"));
        logger->ChangeSettings(0.1, mode, CMC_ScopeLogger::SlopeRising, "Speed_Reference", level, preTrigger);
        logger->OnProgramStarted();
        return logger;
    }

    // Feeds a ramp in frames of ten samples; the samples taken.
    static int FeedRamp(CMC_ScopeLogger& logger, std::int32_t from, int count,
                        std::uint16_t firstSequence = 0, std::int32_t step = 1)
    {
        int taken = 0;
        for (int i = 0; i < count; i += 10)
            taken += logger.OnFrameReceive(Frame(static_cast<std::uint16_t>(firstSequence + i / 10),
                                                 Ramp(from + i * step, step, std::min(10, count - i))));
        return taken;
    }
};

TEST_F(ScopeFrames, FramesFromTheDriveBecomeScreenPointsThroughTheRegisteredHandler)
{
    auto logger = Armed();
    EXPECT_EQ(logger->UploadInProgress(), 1);
    std::vector<int> results;
    CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(
        [&](const UnsolicitedFrame& frame) { results.push_back(logger->OnFrameReceive(frame)); });
    drive->QueueFrame(Frame(0, {{100000, -100000}, {2, -2}}));
    drive->QueueFrame(Frame(1, {{-70000, 65536}}));
    CMC_Comm::CheckForUnrequestedMessages();

    EXPECT_EQ(results, (std::vector<int>{2, 1}));
    EXPECT_EQ(Screen(*logger, 1, 10), (std::vector<double>{100000, 2, -70000}));
    EXPECT_EQ(Screen(*logger, 2, 10), (std::vector<double>{-100000, -2, 65536}));
    const double period = logger->SamplePeriod();
    ASSERT_GT(period, 0.0);
    EXPECT_EQ(Screen(*logger, 0, 10), (std::vector<double>{0.0, period, 2 * period}));
    int first = -1, count = -1;
    logger->GetPointsToBeDrawn(first, count);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(count, 3);
    logger->GetPointsToBeDrawn(first, count);
    EXPECT_EQ(count, 0) << "drawn already";
}

TEST_F(ScopeFrames, APayloadTakesWholeSamplesOfThisLoggerOnly)
{
    CMC_ScopeLogger idle(setup.get(), nullptr);
    idle.AddVariable("Speed_Reference");
    const auto payload = Payload({{1}, {2}});
    EXPECT_EQ(idle.OnFrameReceive(static_cast<int>(payload.size()), payload.data()), 0) << "not armed";

    auto logger = Armed();
    const auto two = Payload({{1, 10}, {2, 20}});
    EXPECT_EQ(logger->OnFrameReceive(static_cast<int>(two.size()), two.data()), 2);
    const auto three = Payload({{3, 30, 300}});
    EXPECT_EQ(logger->OnFrameReceive(static_cast<int>(three.size()), three.data()), -1)
        << "samples of three variables";
    EXPECT_EQ(logger->OnFrameReceive(static_cast<int>(two.size()) - 2, two.data()), -1) << "half a value";
    EXPECT_EQ(logger->OnFrameReceive(8, nullptr), -1);
    EXPECT_EQ(logger->OnFrameReceive(-8, two.data()), -1);
    EXPECT_EQ(logger->OnFrameReceive(0, nullptr), 0);
    EXPECT_EQ(logger->GetGraphDocument().PointCount(), 2u) << "nothing of the refused payloads";
}

TEST_F(ScopeFrames, DamagedFramesAndFramesOfAnotherConfigurationAreRefusedWhole)
{
    auto logger = Armed();
    const UnsolicitedFrame good = Frame(1, {{1, 10}, {2, 20}});
    UnsolicitedFrame truncated = good;
    truncated.data.resize(truncated.data.size() - 4);
    UnsolicitedFrame longer = good;
    longer.data.insert(longer.data.end(), {0, 0, 0, 0});
    UnsolicitedFrame otherCode = good;
    otherCode.data[5] = 0xEA;
    UnsolicitedFrame headerOnly = good;
    headerOnly.data.resize(5);
    UnsolicitedFrame threeValues = Frame(1, {{1, 2, 3}});
    for (const UnsolicitedFrame* frame : {&truncated, &longer, &otherCode, &headerOnly, &threeValues})
        EXPECT_EQ(logger->OnFrameReceive(*frame), -1);
    EXPECT_EQ(logger->GetGraphDocument().PointCount(), 0u);
    EXPECT_EQ(logger->OnFrameReceive(good), 2) << "the refused frames did not count as frame 1";
}

TEST_F(ScopeFrames, LateAndRepeatedFramesAreDroppedAndAGapStartsTheSweepAgain)
{
    auto logger = Armed();
    EXPECT_EQ(logger->OnFrameReceive(Frame(40, {{1, 0}, {2, 0}})), 2) << "the first frame sets the count";
    EXPECT_EQ(logger->OnFrameReceive(Frame(41, {{3, 0}})), 1);
    EXPECT_EQ(logger->OnFrameReceive(Frame(41, {{99, 0}})), 0) << "the same again";
    EXPECT_EQ(logger->OnFrameReceive(Frame(39, {{99, 0}})), 0) << "late";
    EXPECT_EQ(Screen(*logger, 1, 10), (std::vector<double>{1, 2, 3}));

    EXPECT_EQ(logger->OnFrameReceive(Frame(43, {{7, 0}})), 1) << "frame 42 was lost";
    EXPECT_EQ(Screen(*logger, 1, 10), (std::vector<double>{7, 2, 3})) << "the sweep starts again at the left";
    EXPECT_EQ(logger->OnFrameReceive(Frame(44, {{8, 0}})), 1);
    EXPECT_EQ(Screen(*logger, 1, 10), (std::vector<double>{7, 8, 3}));

    // far ahead or far behind: the drive counts anew; both start the sweep again
    EXPECT_EQ(logger->OnFrameReceive(Frame(30000, {{9, 0}})), 1);
    EXPECT_EQ(logger->OnFrameReceive(Frame(100, {{10, 0}})), 1);
    EXPECT_EQ(Screen(*logger, 1, 10), (std::vector<double>{10, 8, 3}));

    auto wrapping = Armed();
    EXPECT_EQ(wrapping->OnFrameReceive(Frame(65535, {{1, 0}})), 1);
    EXPECT_EQ(wrapping->OnFrameReceive(Frame(0, {{2, 0}})), 1);
    EXPECT_EQ(Screen(*wrapping, 1, 10), (std::vector<double>{1, 2})) << "the count wraps without a gap";
}

TEST_F(ScopeFrames, NormalTriggerPutsTheCrossingAfterThePreTriggerShareAndArmsAgain)
{
    // rising through 10 rad/s = 100 counts, a tenth of the screen before it
    auto logger = ArmedSingleChannel(CMC_ScopeLogger::TriggerNormal, 10.0, 10);
    EXPECT_EQ(FeedRamp(*logger, 0, 1200), 1200);
    // the crossing is sample 100 (the first at or above 100): place 100
    const std::vector<double> screen = Screen(*logger, 1, 1000);
    ASSERT_EQ(screen.size(), 1000u);
    EXPECT_EQ(screen[99], 99.0);
    EXPECT_EQ(screen[100], 100.0);
    EXPECT_EQ(screen[0], 0.0);
    EXPECT_EQ(screen[999], 999.0);
    EXPECT_EQ(logger->DoGracefulStop(), 0) << "normal mode goes on";

    // The next sweep waits for the next crossing: -50, -48, ... reaches 100
    // at its 76th sample. Before it, the last 100 samples: the end of the
    // first ramp (1175 to 1199), then -50 to 98.
    FeedRamp(*logger, -50, 300, 120, 2);
    const std::vector<double> next = Screen(*logger, 1, 1000);
    EXPECT_EQ(next[0], 1175.0);
    EXPECT_EQ(next[24], 1199.0);
    EXPECT_EQ(next[25], -50.0);
    EXPECT_EQ(next[99], 98.0);
    EXPECT_EQ(next[100], 100.0);
    EXPECT_EQ(next[324], 548.0) << "the new sweep is under way";
    EXPECT_EQ(next[325], 325.0) << "the rest of the old sweep is still on the screen";
}

TEST_F(ScopeFrames, SingleTriggerStopsAfterOneSweepAndReportsTheStop)
{
    auto logger = ArmedSingleChannel(CMC_ScopeLogger::TriggerSingle, -5.0, 0);
    EXPECT_EQ(FeedRamp(*logger, -100, 500), 500);
    EXPECT_EQ(logger->DoGracefulStop(), 0);
    EXPECT_EQ(FeedRamp(*logger, 400, 600, 50), 550) << "the crossing at -50, then 999 samples more";
    EXPECT_EQ(logger->DoGracefulStop(), 1);
    EXPECT_EQ(logger->UploadInProgress(), 1) << "until the upload is ended";
    EXPECT_EQ(Screen(*logger, 1, 1000).front(), -50.0);
    EXPECT_EQ(Screen(*logger, 1, 1000).back(), 949.0);
    EXPECT_EQ(logger->OnFrameReceive(Frame(200, {{1}})), 0) << "stopped: takes nothing";
    logger->EndUploadData();
    EXPECT_EQ(logger->UploadInProgress(), 0);
}

TEST_F(ScopeFrames, EndingTheUploadWaitsForTheSweepUnderWayUnlessAskedTwice)
{
    auto logger = Armed();
    logger->OnFrameReceive(Frame(0, {{1, 1}}));
    logger->EndUploadData();
    EXPECT_EQ(logger->UploadInProgress(), 1) << "a sweep is under way";
    EXPECT_EQ(logger->DoGracefulStop(), 0);
    std::vector<std::vector<std::int32_t>> rest(999, {2, 2});
    EXPECT_EQ(logger->OnFrameReceive(Frame(1, rest)), 999);
    EXPECT_EQ(logger->DoGracefulStop(), 1) << "the sweep is complete";
    logger->EndUploadData();
    EXPECT_EQ(logger->UploadInProgress(), 0);

    auto hurried = Armed();
    hurried->OnFrameReceive(Frame(0, {{1, 1}}));
    hurried->EndUploadData();
    hurried->EndUploadData();
    EXPECT_EQ(hurried->UploadInProgress(), 0) << "asked twice: at once";
    EXPECT_EQ(hurried->DoGracefulStop(), 1);

    auto waiting = ArmedSingleChannel(CMC_ScopeLogger::TriggerNormal, 1000.0, 0);
    FeedRamp(*waiting, 0, 20);
    waiting->EndUploadData();
    EXPECT_EQ(waiting->UploadInProgress(), 0) << "no sweep under way while waiting for the trigger";

    CMC_ScopeLogger never(setup.get(), nullptr);
    EXPECT_EQ(never.DoGracefulStop(), 1) << "nothing armed";
}

TEST_F(ScopeFrames, ArmingAgainClearsTheScreen)
{
    auto logger = Armed();
    logger->OnFrameReceive(Frame(0, {{1, 1}, {2, 2}}));
    logger->OnProgramStarted();
    EXPECT_EQ(logger->GetGraphDocument().PointCount(), 0u);
    int first = -1, count = -1;
    logger->GetPointsToBeDrawn(first, count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(logger->OnFrameReceive(Frame(0, {{3, 3}})), 1) << "the count starts anew with the log";
}

} // namespace
