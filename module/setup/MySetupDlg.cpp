#include "MySetupDlg.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "HostServices.h"
#include "ModuleResources.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

CMySetupDlg::CMySetupDlg(CMC_Setup* setup, int templateId, int flag, QStringList stepTexts, QWidget* parent)
    : CMC_EditSetupDlg((InitModuleResources(), setup), templateId, flag, std::move(stepTexts), parent)
{
}

void CMySetupDlg::OnChangedParameterValue(const char* name)
{
    ParameterChangeDispatch(GetSetup(), name);
    if ((EqualsIgnoringCase(name, "In") || EqualsIgnoringCase(name, "InPS")) &&
        HasThetaController(GetSetup()))
        RefreshParameterControls("MAX_CURRENT");
    CMC_EditSetupDlg::OnChangedParameterValue(name);
}

void CMySetupDlg::Recompute()
{
    ComputeRegistersFromParameters(GetSetup());
    ComputeParametersFromRegisters(GetSetup());
}

void CMySetupDlg::OpenHelp(unsigned topic)
{
    OpenHelpTopic(GetSetup(), topic);
}
