// The Motor Pole Pairs Detection Test: after the preliminary positioning, the
// drive program turns the field one step per press of Move while the user
// watches a mark on the shaft; Stop ends the count and the program reports the
// number of pole pairs, which goes into "pp". Close asks whether to keep a
// number that differs from the one the setup had.
#pragma once

#include "PositioningTestDlg.h"

#include <QString>

class CDetectPolePairs : public CPositioningTestDlg {
public:
    CDetectPolePairs(CMC_Setup* setup, int flag, QWidget* parent);
    ~CDetectPolePairs() override;

    static constexpr int kTemplateId = 289;
    static constexpr unsigned kHelpTopic = 262410;
    static constexpr int kMoveButton = 1021;
    static constexpr int kPolePairsEdit = 3126;
    static constexpr const char* kProgram = "Motor_Pole_Pairs_Detection_Test";

    void BeginTest() override;
    void OnChangedParameterValue(const char* name) override;

    int PolePairs() const { return m_polePairs; }
    int OldPolePairs() const { return m_oldPolePairs; }

protected:
    void DoDataExchange(bool saveAndValidate) override;
    void OnCancel() override;
    bool OnCommand(int id) override;
    void OnPollTimer() override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;

private:
    void OnStartStop();
    void OnMove();
    void WaitUntilReady();
    void Finish();
    bool WriteCommand(double command);

    int m_polePairs = 0;
    QString m_polePairsText;
    int m_oldPolePairs = 0;
    int m_moveVisible = 0;
    int m_moveEnabled = 1;
};
