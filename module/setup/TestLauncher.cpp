#include "TestLauncher.h"

#include "HostServices.h"

#include <map>

namespace {

std::map<ModuleTest, TestRunner>& Runners()
{
    static std::map<ModuleTest, TestRunner> runners;
    return runners;
}

} // namespace

void RegisterModuleTest(ModuleTest test, TestRunner runner)
{
    Runners()[test] = std::move(runner);
}

int RunModuleTest(ModuleTest test, CMC_Setup* setup, int testFlag, QWidget* parent)
{
    auto it = Runners().find(test);
    if (it == Runners().end() || !it->second) {
        // Only an editor built without the test dialogs gets here.
        ShowMessageBox(QStringLiteral("The test dialogs were not loaded with the setup editor."),
                       MB_OK | MB_ICONERROR);
        return IDCANCEL;
    }
    return it->second(setup, testFlag, parent);
}
