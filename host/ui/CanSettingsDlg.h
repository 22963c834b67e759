// The CANopen settings of the drive (template 30002), opened by the Drive
// Setup's "CANopen settings..." button: node id, baud rate, producer heartbeat
// time and SDO timeout. OK checks every entry and keeps the dialog open, with
// a message, while one is not usable; then it stores them in the setup's
// options (CanSettings.h). Cancel changes nothing.
#pragma once

#include "CanSettings.h"
#include "Dialog.h"

class CMC_Setup;
class QComboBox;

class CMC_CanSettingsDlg : public CMC_Dialog {
public:
    enum {
        kTemplate = 30002,
        kNodeId = 30011,
        kBaudRate = 30012,
        kHeartbeatTime = 30013,
        kSdoTimeout = 30014,
    };

    // The baud rate is offered only when the caller's list of rates is live:
    // a drive that does not save its rate keeps the one it has.
    CMC_CanSettingsDlg(CMC_Setup* setup, bool baudRateEditable, QWidget* parent);

protected:
    int OnInitDialog() override;
    void OnOK() override;

private:
    bool ReadEntry(int id, const CanOption& option, CanSettings& settings);

    CMC_Setup* m_setup;
    bool m_baudRateEditable;
};

// Fills a combo box with the CAN baud rates, each item carrying its rate
// [bit/s] as item data, and selects rate (the first when it is not listed).
void FillBaudRateCombo(QComboBox* combo, int rate);
