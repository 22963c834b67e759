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

namespace {

// Runs a test dialog of class Dialog modally over the setup.
template <typename Dialog> TestRunner Runner()
{
    return [](CMC_Setup* setup, int flag, QWidget* parent) {
        Dialog dialog(setup, flag, parent);
        return dialog.DoModal();
    };
}

} // namespace

void RegisterModuleTests()
{
    RegisterModuleTest(ModuleTest::PhaseConnections, Runner<CTestPhaseConnections>());
    RegisterModuleTest(ModuleTest::HallSignals, Runner<CTestHallSignals>());
    RegisterModuleTest(ModuleTest::PolePairs, Runner<CDetectPolePairs>());
    RegisterModuleTest(ModuleTest::HallGainOffset, Runner<CDetectHallGainOffset>());
    RegisterModuleTest(ModuleTest::ResistanceInductance, Runner<CTestRL>());
    RegisterModuleTest(ModuleTest::SupplyVoltage, Runner<CTestVdcDetection>());
    RegisterModuleTest(ModuleTest::TotalInertia, Runner<CTotalInertiaTest>());
    RegisterModuleTest(ModuleTest::AnalogueReference, Runner<CTestAnalogueRef>());
}
