// The Motor Phase Connection Test: after the preliminary positioning, the
// drive program drives the test current into phase A and out through phases
// B and C. Phase A must carry about the test current and phase B about minus
// half of it. Nothing is written into the setup.
#pragma once

#include "BarGraph.h"
#include "PositioningTestDlg.h"

class CTestPhaseConnections : public CPositioningTestDlg {
public:
    CTestPhaseConnections(CMC_Setup* setup, int flag, QWidget* parent);
    ~CTestPhaseConnections() override;

    static constexpr int kTemplateId = 288;
    static constexpr unsigned kHelpTopic = 262411;
    static constexpr const char* kProgram = "Motor_Phase_Connection_Test";
    // Why the currents may be wrong.
    static const char* const kFailureText;

    void BeginTest() override;
    void OnChangedParameterValue(const char* name) override;

    // The test current [A], as the pass window uses it.
    double TestCurrent() const { return m_itest; }
    const CBarGraph& BarIA() const { return m_barIA; }
    const CBarGraph& BarIB() const { return m_barIB; }

    // Whether phase currents ia and ib [A] pass at the test current itest [A].
    static bool CurrentsPass(double ia, double ib, double itest);

protected:
    int OnInitDialog() override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;

private:
    void ResetBars();
    void EvaluateCurrents();

    CBarGraph m_barIA;
    CBarGraph m_barIB;
    double m_itest = 0.0; // "TestCurrent" [A]
};
