#include "MyTestDlg.h"

#include "CoffFormat.h"
#include "EngineCore.h"
#include "Errors.h"
#include "ModuleResources.h"
#include "Setup.h"

#include <cmath>

namespace {

// The drive errors a test looks at, in the order that decides which one is
// reported when several are set.
struct DriveError {
    std::uint16_t bit;
    const char* text;
};

constexpr DriveError kDriveErrors[] = {
    {0x0002, "Drive / Motor shortcircuit protection triggered."},
    {0x0008, "Drive / Motor control error protection triggered."},
    {0x0020, "Hall sensor is missing."},
    {0x0040, "Drive / Motor stopped due to positive limit switch input triggered."},
    {0x0080, "Drive / Motor stopped due to negative limit switch input triggered."},
    {0x8000, "Drive / Motor ENABLE input is in DISABLED state."},
    // The supply, i2t and temperature protections switch the power stage off
    // whatever the test watches: they are looked at under every mask.
    {0x0010, "Drive over voltage protection triggered."},
    {0x0004, "Drive under voltage protection triggered."},
    {0x0200, "Drive I2t protection triggered."},
    {0x0100, "Motor I2t protection triggered."},
    {0x0800, "Drive over temperature protection triggered."},
    {0x0400, "Motor over temperature protection triggered."},
};

constexpr std::uint16_t kAlwaysChecked = 0x0010 | 0x0004 | 0x0200 | 0x0100 | 0x0800 | 0x0400;

} // namespace

CMyTestDlg::CMyTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
                       std::span<const char* const> stageTexts, unsigned helpTopic)
    : CMC_TestDlg((InitModuleResources(), setup), templateId, flag, parent), m_stageTexts(stageTexts)
{
    m_nStageCount = static_cast<std::uint16_t>(stageTexts.size());
    SetHelpTopic(helpTopic);
    if (templateId != 102 && templateId != 103 && HasStartMinimumMove(setup))
        setup->SetParameterValueInBaseUnit("ABSTART_MINMOVE", 0.0);
}

int CMyTestDlg::CheckDriveErrors(int failOnError, std::uint16_t mask)
{
    CMC_Variable* mer = GetSetup()->FindVariable("MER", 1);
    if (mer == nullptr || mer->ReadFromChip() == 0) {
        m_strError = msc_pszErrInternal;
        if (failOnError != 0)
            TestFailed(1);
        return 0;
    }
    const double value = std::trunc(mer->GetValueInBaseUnit());
    const auto bits = static_cast<std::uint16_t>(static_cast<long long>(value) & (mask | kAlwaysChecked));
    for (const DriveError& error : kDriveErrors) {
        if ((bits & error.bit) != 0) {
            m_strError = error.text;
            if (failOnError != 0)
                TestFailed(1);
            return 0;
        }
    }
    return 1;
}

bool CMyTestDlg::RearmPoll(int milliseconds)
{
    if (SetTimer(kPollTimer, milliseconds))
        return true;
    m_strError = GetLastErrorText();
    TestFailed(1);
    return false;
}

void CMyTestDlg::AddProgramImage(CMC_CoffFormat& image, const char* program)
{
    m_images.emplace_back(&image, program);
}

int CMyTestDlg::OnInitDialog()
{
    const int result = CMC_TestDlg::OnInitDialog();
    LoadProgramImages();
    return result;
}

void CMyTestDlg::LoadProgramImages()
{
    for (const auto& [image, program] : m_images) {
        image->m_strFileName = GetOutPathName(program);
        image->ReadCoff();
    }
}

void CMyTestDlg::ShowStageText()
{
    if (m_nStage < m_stageTexts.size())
        SetInfoText(QString::fromUtf8(m_stageTexts[m_nStage]));
}

void CMyTestDlg::OpenRun()
{
    m_bRunning = 1;
    m_nResult = -1;
    m_nStage = 0;
    ShowStageText();
}

bool CMyTestDlg::StartProgram(const char* program, CMC_CoffFormat* image, CMC_Logger* logger)
{
    if (!ExecuteCode(program, image, logger, nullptr, nullptr)) {
        m_strError = msc_pszErrInternal;
        TestFailed(1);
        return false;
    }
    ShowStageText();
    return true;
}

void CMyTestDlg::OnTimer(int id)
{
    KillTimer(kPollTimer);
    if (!m_bRunning || id != kPollTimer) {
        CMC_TestDlg::OnTimer(id);
        return;
    }
    OnPollTimer();
}
