#include "HallTracesTestDlg.h"

CHallTracesTestDlg::CHallTracesTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
                                       std::span<const char* const> stageTexts, unsigned helpTopic,
                                       const char* mainProgram)
    : CPositioningTestDlg(setup, templateId, flag, parent, stageTexts, helpTopic, mainProgram,
                          Accept::NonZero)
{
    AddParameterControls("TestCurrent", 1005, 1017);
}

int CHallTracesTestDlg::OnInitDialog()
{
    m_traces.Attach(*this);
    return CPositioningTestDlg::OnInitDialog();
}

bool CHallTracesTestDlg::BeginWithEmptyValues()
{
    HallTraces::ClearValues(*this);
    return BeginWithPreliminaryTest();
}

bool CHallTracesTestDlg::StartMainProgramOnEmptyTraces()
{
    if (!StartMainProgram())
        return false;
    m_traces.Prepare();
    return true;
}
