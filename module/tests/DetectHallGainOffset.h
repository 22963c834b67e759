// The Offset Detection Test: after the preliminary positioning, the drive
// program turns the motor and works out the gain and offset of each linear
// Hall signal and the offset of the Hall signals against motor phase A. The
// dialog shows the three signals live until the program reports, then copies
// the eight results from the drive into the setup. Close always ends with OK,
// so that the caller recomputes the setup with the new values.
#pragma once

#include "HallTracesTestDlg.h"

class CDetectHallGainOffset : public CHallTracesTestDlg {
public:
    CDetectHallGainOffset(CMC_Setup* setup, int flag, QWidget* parent);
    ~CDetectHallGainOffset() override;

    static constexpr int kTemplateId = 294;
    static constexpr unsigned kHelpTopic = 262416;
    static constexpr const char* kProgram = "Detect_Hall_Gain_Offset_Test";
    // A fixed 5 V full scale of 65472 counts [counts per volt].
    static constexpr double kCountsPerVolt = 13094.4;
    static const char* const kSignalMissingText;
    static const char* const kOrderMismatchText;

    // The results: drive variable -> setup parameter, in the order of transfer.
    struct Transfer {
        const char* variable;
        const char* parameter;
    };
    static const std::array<Transfer, 8> kTransfers;

    void BeginTest() override;

protected:
    void OnCancel() override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;

private:
    void WatchUntilDone();
    void TransferResults();
};
