#include "Exports.h"

#include "DriveSetupDlg.h"
#include "Errors.h"
#include "Limits.h"
#include "MyTestDlg.h"
#include "RegisterTuningTests.h"
#include "RegistersToParameters.h"
#include "ScaleFactors.h"

#include <QApplication>

#include <exception>
#include <string>

extern "C" {
VELMARO_EXPORT int g_bKufSinusoidalMode = 0;
}

namespace {

// Reports a failure inside an entry point. The report itself must not throw
// either: the host's error sink is outside our control.
void ReportFailure(const char* entry, const char* what) noexcept
{
    try {
        ReportError(std::string(entry) + " failed: " + what);
    } catch (...) {
    }
}

// Runs the body and turns any exception into the report and the fallback.
template <typename Result, typename Body>
Result Guarded(const char* entry, Result fallback, Body body) noexcept
{
    try {
        return body();
    } catch (const std::exception& e) {
        ReportFailure(entry, e.what());
    } catch (...) {
        ReportFailure(entry, "unknown exception");
    }
    return fallback;
}

} // namespace

extern "C" {

VELMARO_EXPORT int EditSetup(CMC_Setup* setup)
{
    if (!setup)
        return 0;
    return Guarded("EditSetup", 0, [setup] {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            ReportError("EditSetup needs the host's user interface to be running.");
            return 0;
        }
        RegisterModuleTests();
        RegisterTuningTests();
        CDriveSetupDlg dialog(setup, nullptr);
        return dialog.DoModal() == IDOK ? 1 : 0;
    });
}

VELMARO_EXPORT void ComputeAllOptions(CMC_Setup* setup)
{
    if (!setup)
        return;
    Guarded("ComputeAllOptions", 0, [setup] {
        ComputeParametersFromRegisters(setup);
        ComputeParameterLimits(setup);
        UpdateClosedLoopOptions(setup);
        UpdateTransmissionUnits(setup);
        return 0;
    });
}

VELMARO_EXPORT double GetScaleFactor(CMC_Setup* setup, const char* unitName, const char* name)
{
    return Guarded("GetScaleFactor", 1.0, [=] { return ScaleFactorOf(setup, unitName, name); });
}

VELMARO_EXPORT double GetScaleOffset(CMC_Setup* setup, const char* unitName)
{
    return Guarded("GetScaleOffset", 0.0, [=] { return ScaleOffsetOf(setup, unitName); });
}
}
