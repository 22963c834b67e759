// Opens the commissioning tests from the setup dialogs. The test dialogs are
// registered by the test module; a test that is not registered tells the user
// so and counts as cancelled.
#pragma once

#include <functional>

class CMC_Setup;
class QWidget;

enum class ModuleTest {
    PhaseConnections,
    HallSignals,
    PolePairs,
    HallGainOffset,
    ResistanceInductance,
    SupplyVoltage,
    TotalInertia,
    AnalogueReference,
    CurrentTuning,
    SpeedTuning,
    PositionTuning,
};

// Creates the test dialog over the setup, runs it modally and returns DoModal's result.
using TestRunner = std::function<int(CMC_Setup* setup, int testFlag, QWidget* parent)>;

void RegisterModuleTest(ModuleTest test, TestRunner runner);

// Runs a test dialog of class Dialog modally over the setup.
template <typename Dialog> TestRunner TestRunnerOf()
{
    return [](CMC_Setup* setup, int flag, QWidget* parent) {
        Dialog dialog(setup, flag, parent);
        return dialog.DoModal();
    };
}
// Returns IDOK when the test dialog ended with OK.
int RunModuleTest(ModuleTest test, CMC_Setup* setup, int testFlag, QWidget* parent);
