// The scope logger on the virtual drive: a program runs with the scope's log
// request, the drive's frames come through the registered handler, and the
// screen holds the drive's samples in the order it took them.
#include "ScopeTestSupport.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace scopetest;

class ScopeOnVirtualDrive : public ScopeTest {
protected:
    void SetUp() override
    {
        ScopeTest::SetUp();
        virtualDrive = std::make_shared<VirtualDrive>(MotorModel::Reference());
        CMC_Comm::SetActiveLink(virtualDrive, std::make_shared<SteppedClock>(0.02));
        ASSERT_TRUE(CMC_Comm::ConnectSetup(*setup)) << CMC_Comm::GetLastErrorText();
    }

    std::shared_ptr<VirtualDrive> virtualDrive;
};

TEST_F(ScopeOnVirtualDrive, ASweepOfTheDrivesSamplesArrivesInOrder)
{
    const std::string program = "Initial_Positioning_Test";
    CMC_ScopeLogger logger(setup.get(), nullptr);
    ASSERT_TRUE(logger.AddVariable("Voltage_Reference"));
    ASSERT_TRUE(logger.AddVariable("IQ"));
    logger.ChangeSettings(0.1, CMC_ScopeLogger::TriggerSingle, CMC_ScopeLogger::SlopeRising, nullptr, 0.0, 0);
    std::vector<int> taken;
    CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(
        [&](const UnsolicitedFrame& frame) { taken.push_back(logger.OnFrameReceive(frame)); });

    ASSERT_EQ(virtualDrive->WriteUserVariable(CMC_Comm::Now(), program, "In1", simtest::kTestCurrent),
              LinkResult::Ok);
    const LogRequest request = logger.Request();
    EXPECT_TRUE(request.fastLoop);
    ASSERT_EQ(virtualDrive->StartProgram(CMC_Comm::Now(), {program, {}}, &request), LinkResult::Ok);
    logger.OnProgramStarted();
    for (int poll = 0; poll < 100 && !logger.DoGracefulStop(); ++poll)
        CMC_Comm::CheckForUnrequestedMessages();
    ASSERT_TRUE(logger.DoGracefulStop()) << "one sweep of 1000 samples is 0.1 s of the drive";
    logger.EndUploadData();
    EXPECT_FALSE(logger.UploadInProgress());

    // every frame up to the end of the sweep was taken whole
    ASSERT_FALSE(taken.empty());
    const auto firstRefused = std::find_if(taken.begin(), taken.end(), [](int n) { return n <= 0; });
    int samples = 0;
    for (auto it = taken.begin(); it != firstRefused; ++it)
        samples += *it;
    EXPECT_EQ(samples, CMC_ScopeLogger::kScreenPoints);

    // the drive's own log holds the same samples
    std::vector<std::vector<double>> rows;
    ASSERT_EQ(virtualDrive->UploadLog(CMC_Comm::Now(), rows), LinkResult::Ok);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(CMC_ScopeLogger::kScreenPoints));
    const CGraphDocument& screen = logger.GetGraphDocument();
    ASSERT_EQ(screen.PointCount(), rows.size());
    bool moved = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(screen.Point(i)[1], std::floor(rows[i][0] + 0.5)) << i;
        ASSERT_EQ(screen.Point(i)[2], std::floor(rows[i][1] + 0.5)) << i;
        moved = moved || screen.Point(i)[1] != screen.Point(0)[1];
    }
    EXPECT_TRUE(moved) << "the voltage ramps up";
    EXPECT_DOUBLE_EQ(screen.Point(999)[0], 999 * 2 * setup->GetParameterValueInBaseUnit("Ts_C"));
}

} // namespace
