// The scope logger's settings dialog (template 30001): time span, trigger and
// each channel's unit, division and offset. OK checks every entry and keeps
// the dialog open, with a message, while one is not usable.
//
//   3001 time span [s]        3002 trigger mode       3003 slope
//   3004 trigger variable     3005 trigger level      3006 the level's unit
//   3007 pre-trigger [%]
//   channel n (1 to 8): 3000 + 10 n name, + 1 unit, + 2 division, + 3 offset
#pragma once

#include "Dialog.h"
#include "ScopeSettings.h"

#include <QString>
#include <QVariant>

#include <utility>
#include <vector>

class CMC_Setup;

class CMC_ScopeSettingsDlg : public CMC_Dialog {
public:
    enum {
        kTemplate = 30001,
        kTimeSpan = 3001,
        kTriggerMode = 3002,
        kTriggerSlope = 3003,
        kTriggerVariable = 3004,
        kTriggerLevel = 3005,
        kLevelUnit = 3006,
        kPreTrigger = 3007,
        kMaxChannels = 8,
    };
    // The controls of channel n (from 1).
    static int ChannelName(int n) { return 3000 + 10 * n; }
    static int ChannelUnit(int n) { return ChannelName(n) + 1; }
    static int ChannelDivision(int n) { return ChannelName(n) + 2; }
    static int ChannelOffset(int n) { return ChannelName(n) + 3; }

    // Channels past the eighth keep their scales.
    CMC_ScopeSettingsDlg(const CMC_Setup* setup, ScopeSettings settings, QWidget* parent);

    // The settings as the user left them (after OK).
    const ScopeSettings& Chosen() const { return m_settings; }

protected:
    int OnInitDialog() override;
    void OnOK() override;
    void OnSelChange(int id) override;

private:
    void FillCombo(int id, const std::vector<std::pair<QString, QVariant>>& items, const QVariant& selected);
    QVariant SelectedData(int id) const;
    void ShowLevelUnit();
    bool ReadNumber(int id, const char* what, double& value);
    bool ReadEntries(ScopeSettings& settings);

    const CMC_Setup* m_setup;
    ScopeSettings m_settings;
};
