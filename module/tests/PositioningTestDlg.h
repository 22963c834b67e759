// The base of the identification tests whose run begins with the preliminary
// positioning test: at the test current it aligns the rotor and leaves the
// reference and the angle increment that the main program starts from.
// Stage 2 polls the preliminary program, stage 3 launches the main program;
// the stages after that are the test's own.
#pragma once

#include "CoffFormat.h"
#include "MyTestDlg.h"

class CPositioningTestDlg : public CMyTestDlg {
public:
    static constexpr const char* kPreliminaryProgram = "Initial_Positioning_Test";
    // Which "In1" results of the preliminary test pass: positive ones, or any
    // but 0 (the Hall tests, to which the sign does not matter).
    enum class Accept { Positive, NonZero };

protected:
    CPositioningTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
                        std::span<const char* const> stageTexts, unsigned helpTopic, const char* mainProgram,
                        Accept accept = Accept::Positive);

    void OnPollTimer() override;
    // Stage 3: gives the main program its inputs and starts it.
    virtual void LaunchMainProgram() = 0;
    // A poll in any other stage: the test's own from stage 4 on; a stage the
    // test does not know fails the run.
    virtual void PollOwnStage() = 0;
    // The own stage of a test with one main program: true once the main
    // program has ended in stage 4 without a drive error under the mask.
    // Any other stage fails the run.
    bool MainProgramEnded(std::uint16_t mask);

    // Takes "TestCurrent", opens the run, starts the preliminary program with
    // it as "In1" and polls; false when the run has already failed.
    bool BeginWithPreliminaryTest();
    // The same with another current [internal units].
    bool BeginWithPreliminaryTest(int current);
    // One poll of the preliminary program: true once it has ended without a
    // drive error and its results are taken, with the next stage's text shown.
    bool PreliminaryTestEnded();
    // Writes the preliminary results into the main program's "RefTest" and
    // "RIncTest".
    bool HandOverPreliminaryResults();
    // StartProgram for the main program, then its poll.
    bool StartMainProgram(CMC_Logger* logger = nullptr);

    CMC_CoffFormat m_main;
    CMC_CoffFormat m_preliminary;
    int m_testCurrent = 0; // "TestCurrent" when the run began [internal units]
    double m_reftst = 0.0; // preliminary results [internal units]
    double m_rinctst = 0.0;

private:
    // Checks the preliminary "In1" (no result, or not accepted), then reads
    // "REFTST_V" and "RINCTST_V".
    bool TakePreliminaryResults();

    const char* m_mainProgram;
    Accept m_accept;
};
