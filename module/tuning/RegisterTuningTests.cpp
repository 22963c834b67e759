#include "RegisterTuningTests.h"

#include "TestCurrent.h"
#include "TestLauncher.h"
#include "TestPositionTuning.h"
#include "TestSpeedTuning.h"

void RegisterTuningTests()
{
    RegisterModuleTest(ModuleTest::CurrentTuning, TestRunnerOf<CTestCurrent>());
    RegisterModuleTest(ModuleTest::SpeedTuning, TestRunnerOf<CTestSpeedTuning>());
    RegisterModuleTest(ModuleTest::PositionTuning, TestRunnerOf<CTestPositionTuning>());
}
