// The base of the two Hall signal tests: after the preliminary positioning
// (any "In1" but 0 passes: the sign does not matter to them) the main
// program runs while the dialog shows the three linear Hall signals live.
#pragma once

#include "HallTraces.h"
#include "PositioningTestDlg.h"

class CHallTracesTestDlg : public CPositioningTestDlg {
public:
    const HallTraces& Traces() const { return m_traces; }

protected:
    CHallTracesTestDlg(CMC_Setup* setup, int templateId, int flag, QWidget* parent,
                       std::span<const char* const> stageTexts, unsigned helpTopic, const char* mainProgram);

    // The traces into their controls, then the common start-up.
    int OnInitDialog() override;
    // Empties the value boxes and begins with the preliminary test.
    bool BeginWithEmptyValues();
    // Starts the main program and its poll on empty traces.
    bool StartMainProgramOnEmptyTraces();

    HallTraces m_traces;
};
