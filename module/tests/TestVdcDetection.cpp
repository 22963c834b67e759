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
    : CMyTestDlg(setup, kTemplateId, flag, parent, kStageTexts, kHelpTopic),
      m_vdcOld(setup->GetParameterValueInBaseUnit("Vdc"))
{
    AddProgramImage(m_image, kProgram);
    AddParameterControls("Vdc", kVdcEdit, kVdcUnit);
}

void CTestVdcDetection::BeginTest()
{
    EmptyControls(*this, {kVdcEdit, kVdcUnit});
    OpenRun();
    if (StartProgram(kProgram, &m_image))
        RearmPoll();
}

void CTestVdcDetection::OnPollTimer()
{
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
