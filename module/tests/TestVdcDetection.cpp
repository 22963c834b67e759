#include "TestVdcDetection.h"

#include "EngineCore.h"
#include "Helpers.h"
#include "TestSequence.h"

#include <array>

namespace {

constexpr const char* kProgram = "VDC_Detection_Test";
constexpr std::array<const char*, 2> kStageTexts = {"Launching test", "Running test"};
constexpr int kVdcEdit = 1012;
constexpr int kVdcUnit = 1013;

} // namespace

CTestVdcDetection::CTestVdcDetection(CMC_Setup* setup, int flag, QWidget* parent)
    : CMyTestDlg(setup, kTemplateId, flag, parent), m_vdcOld(setup->GetParameterValueInBaseUnit("Vdc"))
{
    m_nStageCount = kStageTexts.size();
    AddParameterControls("Vdc", kVdcEdit, kVdcUnit);
    SetHelpTopic(kHelpTopic);
}

int CTestVdcDetection::OnInitDialog()
{
    CMC_TestDlg::OnInitDialog();
    LoadProgramImage(m_image, kProgram);
    return 1;
}

void CTestVdcDetection::ShowStageText()
{
    if (m_nStage < kStageTexts.size())
        SetInfoText(QString::fromUtf8(kStageTexts[m_nStage]));
}

void CTestVdcDetection::BeginTest()
{
    EmptyControls(*this, {kVdcEdit, kVdcUnit});
    m_bRunning = 1;
    m_nResult = -1;
    m_nStage = 0;
    ShowStageText();
    if (!ExecuteCode(kProgram, &m_image, nullptr, nullptr, nullptr)) {
        m_strError = msc_pszErrInternal;
        TestFailed(1);
        return;
    }
    ShowStageText();
    RearmPoll(*this);
}

void CTestVdcDetection::OnTimer(int id)
{
    KillTimer(kPollTimer);
    if (!m_bRunning || id != kPollTimer)
        return CMyTestDlg::OnTimer(id);
    if (m_nStage != 2) {
        TestFailed(1);
        return;
    }
    if (PollProgramEnd(*this, &m_image, kMaskShortCircuit) != ProgramState::Ended)
        return;
    double counts = 0.0;
    if (!ReadDriveVariable(*this, "var_u2", counts, DriveUnits::Base))
        return;
    const double vdc = RoundDecimalValue(counts / DcBusVoltageScale(GetSetup()), 2);
    GetSetup()->SetParameterValueInBaseUnit("Vdc", vdc);
    RefreshParameterControls("Vdc");
    TestSucceeded(1);
}

void CTestVdcDetection::OnCancel()
{
    const QString question =
        ChangedValuesQuestion({{QStringLiteral("Power supply"), FormatValue("%G", m_vdcOld),
                                FormatValue("%G", GetSetup()->GetParameterValueInBaseUnit("Vdc"))}},
                              m_nResult);
    switch (AskToSaveChangedValues(question)) {
    case IDYES:
        OnOK();
        return;
    case IDCANCEL:
        return;
    default:
        CMyTestDlg::OnCancel();
    }
}
