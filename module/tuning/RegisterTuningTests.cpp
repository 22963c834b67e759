#include "RegisterTuningTests.h"

#include "TestCurrent.h"
#include "TestLauncher.h"

void RegisterTuningTests()
{
    RegisterModuleTest(ModuleTest::CurrentTuning, TestRunnerOf<CTestCurrent>());
}
