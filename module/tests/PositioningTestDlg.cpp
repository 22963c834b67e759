#include "PositioningTestDlg.h"

#include "Setup.h"
#include "TestSequence.h"

CPositioningTestDlg::CPositioningTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
                                         std::span<const char* const> stageTexts, unsigned helpTopic,
                                         const char* mainProgram, Accept accept)
    : CMyTestDlg(setup, templateId, flag, parent, stageTexts, helpTopic), m_mainProgram(mainProgram),
      m_accept(accept)
{
    AddProgramImage(m_main, mainProgram);
    AddProgramImage(m_preliminary, kPreliminaryProgram);
}

void CPositioningTestDlg::OnPollTimer()
{
    // The main program follows at once on the end of the preliminary test.
    if (m_nStage == 2) {
        if (PreliminaryTestEnded())
            LaunchMainProgram();
    } else if (m_nStage == 3) {
        LaunchMainProgram();
    } else {
        PollOwnStage();
    }
}

bool CPositioningTestDlg::BeginWithPreliminaryTest()
{
    return BeginWithPreliminaryTest(
        static_cast<int>(GetSetup()->GetParameterValueInInternalUnit("TestCurrent")));
}

bool CPositioningTestDlg::BeginWithPreliminaryTest(int current)
{
    m_testCurrent = current;
    OpenRun();
    if (!SetUserVariableValue(&m_preliminary, "In1", m_testCurrent, m_strError)) {
        TestFailed(1);
        return false;
    }
    return StartProgram(kPreliminaryProgram, &m_preliminary) && RearmPoll();
}

bool CPositioningTestDlg::PreliminaryTestEnded()
{
    if (PollProgramEnd(*this, &m_preliminary, kMaskShortCircuitEnable) != ProgramState::Ended ||
        !TakePreliminaryResults())
        return false;
    ShowStageText();
    return true;
}

bool CPositioningTestDlg::TakePreliminaryResults()
{
    double in1 = 0.0;
    if (!GetUserVariableValue(&m_preliminary, "In1", in1, m_strError)) {
        TestFailed(1);
        return false;
    }
    const bool accepted = m_accept == Accept::NonZero ? in1 != 0.0 : in1 > 0.0;
    if (in1 == kNoResult || !accepted) {
        FailTest(*this, in1 == kNoResult ? msc_pszErrInternal : msc_pszErrInZero);
        return false;
    }
    return ReadDriveVariable(*this, "REFTST_V", m_reftst) && ReadDriveVariable(*this, "RINCTST_V", m_rinctst);
}

bool CPositioningTestDlg::HandOverPreliminaryResults()
{
    if (!SetUserVariableValue(&m_main, "RefTest", m_reftst, m_strError) ||
        !SetUserVariableValue(&m_main, "RIncTest", m_rinctst, m_strError)) {
        TestFailed(1);
        return false;
    }
    return true;
}

bool CPositioningTestDlg::StartMainProgram(CMC_Logger* logger)
{
    return StartProgram(m_mainProgram, &m_main, logger) && RearmPoll();
}

bool CPositioningTestDlg::MainProgramEnded(std::uint16_t mask)
{
    if (m_nStage != 4) {
        TestFailed(1);
        return false;
    }
    return PollProgramEnd(*this, &m_main, mask) == ProgramState::Ended;
}
