#include "TuningSupport.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "GraphWindow.h"
#include "HostServices.h"
#include "Logger.h"
#include "ParametersToRegisters.h"
#include "SetupChecks.h"
#include "TestDlg.h"

#include <cmath>
#include <cstdint>

bool IsName(const char* name, const char* expected)
{
    return name != nullptr && EqualsIgnoringCase(name, expected);
}

bool IsOn(const CMC_Setup* setup, const char* name)
{
    const CMC_Parameter* p = FindQuietly(setup, name);
    return p != nullptr && p->GetValueInBaseUnit() != 0.0;
}

void WriteRegistersToDrive(CMC_Setup* setup, std::span<const char* const> names)
{
    for (const char* name : names) {
        CMC_Parameter* p = name != nullptr ? FindQuietly(setup, name) : nullptr;
        if (p == nullptr || p->WriteToChip() == 0)
            return;
    }
}

void WriteRegistersToDrive(CMC_Setup* setup, std::initializer_list<const char*> names)
{
    WriteRegistersToDrive(setup, std::span(names.begin(), names.size()));
}

const LoopGain* FindGain(std::span<const LoopGain> gains, const char* name)
{
    return name != nullptr ? FindNamed(gains, name) : nullptr;
}

void ConvertLoopGain(CMC_Setup* setup, const LoopGain& gain)
{
    if (gain.convert != nullptr)
        gain.convert(setup);
    else
        ParameterChangeDispatch(setup, gain.name);
}

void WarnOfGainsAtLimit(CMC_Setup* setup, std::initializer_list<const char*> names)
{
    const std::string limit = RegistersAtLimit(setup, names);
    if (!limit.empty())
        ShowMessageBox(QString::fromStdString(limit), MB_OK | MB_ICONWARNING);
}

void TuneController(CMC_EditSetupDlg& dialog, int (*design)(CMC_Setup*),
                    std::initializer_list<int (*)(CMC_Setup*)> conversions,
                    std::initializer_list<const char*> registers, bool running)
{
    CMC_Setup* setup = dialog.GetSetup();
    if (!design(setup))
        return;
    for (auto convert : conversions)
        convert(setup);
    if (running)
        WriteRegistersToDrive(setup, registers);
    dialog.RefreshAllParameters(0);
    WarnOfGainsAtLimit(setup, registers);
}

double TruncatedProgramInput(double internal)
{
    return static_cast<double>(static_cast<std::int16_t>(TruncRegister(internal)));
}

double RoundedProgramInput(double internal)
{
    return TruncatedProgramInput(std::isfinite(internal) ? std::floor(internal + 0.5) : 0.0);
}

void SetUpLogOnGraph(CMC_SingleAxisLogger& logger, int points, int logType,
                     std::span<const char* const> variables, std::span<const CurveStyle> curves,
                     CGraphWindow& graph, CMC_Dialog* dialog, int graphId)
{
    logger.ChangeSettings(points, logType, 1);
    for (const char* name : variables)
        logger.AddVariable(name, 1);
    logger.CorrectPointsNo();
    CGraphFilter* filter = logger.GetGraphDocument().GetAt(0);
    for (const CurveStyle& curve : curves)
        filter->Add(CXYCurve(curve.axis, 0, curve.column, 2, RGB16(curve.color).rgb()));
    logger.LocateItems();
    graph.SubclassDlgItem(graphId, dialog, filter);
    graph.Initialize();
    graph.RefreshGraph();
}

bool UploadOntoGraph(CMC_TestDlg& test, CMC_SingleAxisLogger& logger, CGraphWindow& graph)
{
    graph.DoZoomOut();
    while (logger.ReadPoint(nullptr)) {
        graph.UpdateLastPoint();
        PumpMessages();
        if (test.m_bStoppable == 1 && test.m_bStopRequest)
            break;
        if (!test.m_bRunning && !test.m_bStoppable) {
            graph.DoZoomOut();
            return false;
        }
    }
    graph.DoZoomOut();
    return true;
}
