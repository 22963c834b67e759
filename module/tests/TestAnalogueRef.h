// "Analogue Reference Test": while "Analogue_Reference_Test" runs, reads the
// analogue reference input every 20 ms and shows the input voltage and the
// command it stands for under the control mode, as numbers and as bars,
// until the user presses Stop. Writes nothing into the setup.
#pragma once

#include "BarGraph.h"
#include "MyTestDlg.h"

#include <QString>

class CTestAnalogueRef : public CMyTestDlg {
public:
    static constexpr int kTemplateId = 104;
    static constexpr unsigned kHelpTopic = 262404;
    // Converter counts at the top of the input.
    static constexpr double kFullScale = 65472.0;

    CTestAnalogueRef(CMC_Setup* setup, int flag, QWidget* parent);

    void BeginTest() override;

    // What the dialog shows, for the scripted user.
    const CBarGraph& VoltageBar() const { return m_voltageBar; }
    const CBarGraph& CommandBar() const { return m_commandBar; }

protected:
    int OnInitDialog() override;
    void OnPollTimer() override;

private:
    // Reads the input once and shows it; false when the run failed.
    bool ShowReading();

    QString m_commandLabel;
    CBarGraph m_voltageBar;
    CBarGraph m_commandBar;
    double m_voltageLow = 0.0; // [V]
    double m_voltageHigh = 0.0;
    double m_commandLow = 0.0; // in the unit the command is shown in
    double m_commandHigh = 0.0;
};
