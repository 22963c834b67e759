#include "MyTestDlg.h"

#include "DetectHallGainOffset.h"
#include "DetectPolePairs.h"
#include "TestAnalogueRef.h"
#include "TestHallSignals.h"
#include "TestLauncher.h"
#include "TestPhaseConnections.h"
#include "TestRL.h"
#include "TestVdcDetection.h"
#include "TotalInertiaTest.h"

void RegisterModuleTests()
{
    RegisterModuleTest(ModuleTest::PhaseConnections, TestRunnerOf<CTestPhaseConnections>());
    RegisterModuleTest(ModuleTest::HallSignals, TestRunnerOf<CTestHallSignals>());
    RegisterModuleTest(ModuleTest::PolePairs, TestRunnerOf<CDetectPolePairs>());
    RegisterModuleTest(ModuleTest::HallGainOffset, TestRunnerOf<CDetectHallGainOffset>());
    RegisterModuleTest(ModuleTest::ResistanceInductance, TestRunnerOf<CTestRL>());
    RegisterModuleTest(ModuleTest::SupplyVoltage, TestRunnerOf<CTestVdcDetection>());
    RegisterModuleTest(ModuleTest::TotalInertia, TestRunnerOf<CTotalInertiaTest>());
    RegisterModuleTest(ModuleTest::AnalogueReference, TestRunnerOf<CTestAnalogueRef>());
}
