#include "TuningTestDlg.h"

#include "EngineCore.h"
#include "HostServices.h"
#include "Setup.h"
#include "TuningSupport.h"

#include <QShowEvent>
#include <QStringList>

CTuningTestDlg::CTuningTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
                               unsigned helpTopic, const char* mainProgram,
                               std::span<const char* const> procedure, const int* parametersPage,
                               const int* testPage)
    : CPositioningTestDlg(setup, templateId, flag, parent, kTuningStageTexts, helpTopic, mainProgram),
      m_procedure(procedure), m_parametersPage(parametersPage), m_testPage(testPage)
{
}

int CTuningTestDlg::OnInitDialog()
{
    const int result = CPositioningTestDlg::OnInitDialog();
    QStringList lines;
    for (const char* line : m_procedure)
        lines << QString::fromUtf8(line);
    SetChildText(1377, lines.join(QStringLiteral("\r\n")));
    InsertTabItem(kTab, 0, QStringLiteral("Test Parameters"));
    InsertTabItem(kTab, 1, QStringLiteral("Test"));
    SetCurSel(kTab, 0);
    return result;
}

void CTuningTestDlg::showEvent(QShowEvent* event)
{
    CPositioningTestDlg::showEvent(event);
    SetCurSel(kTab, 0);
    ShowPage(0);
}

void CTuningTestDlg::ShowPage(int page)
{
    m_page = page;
    ShowChildren(page == 0 ? m_testPage : m_parametersPage, false);
    ShowChildren(page == 0 ? m_parametersPage : m_testPage, true);
    UpdateData(false);
}

void CTuningTestDlg::DoDataExchange(bool saveAndValidate)
{
    CPositioningTestDlg::DoDataExchange(saveAndValidate);
    if (!saveAndValidate)
        UpdateControls();
}

void CTuningTestDlg::OnTabSelChange(int id)
{
    if (id != kTab)
        return;
    const int page = GetCurSel(kTab);
    if ((page == 0 && m_bRunning) || !UpdateData(true)) {
        SetCurSel(kTab, 1 - page);
        return;
    }
    if (const char* refusal = page == 1 ? TestPageRefusal() : nullptr) {
        ShowMessageBox(QString::fromUtf8(refusal), MB_OK | MB_ICONWARNING);
        SetCurSel(kTab, 0);
        return;
    }
    ShowPage(page);
    PageShown(page);
}

void CTuningTestDlg::OnOK()
{
    CPositioningTestDlg::OnOK();
    const CMC_Parameter* protection = FindQuietly(GetSetup(), "TestProtectionCurrent");
    CMC_Parameter* drive = FindQuietly(GetSetup(), "Imax_Prot");
    if (protection != nullptr && drive != nullptr)
        drive->SetValueInBaseUnit(protection->GetValueInBaseUnit());
}
