// A setup dialog over the test template 9001 that records what the base tells it.
#pragma once

#include "EditSetupDlg.h"

#include <QComboBox>

#include <string>
#include <vector>

class UiTestDialog : public CMC_EditSetupDlg {
public:
    UiTestDialog(CMC_Setup* setup, QStringList steps = {})
        : CMC_EditSetupDlg(setup, 9001, 1, std::move(steps), nullptr)
    {
        AddParameterControls("L", 1159, 1160);
        AddCheckParameterControls("isMotorI2t", 1183);
        AddSwitchParameterControls("isMotorI2t", 1196, 1197);
        AddSwitchParameterControls("KPI", 3382);
        AddSliderParameterControls("ImaxPS", 1337, 1335, 0, 1336, 1338);
        AddParameterControls("NoSuchParameter", 700, 0);
    }

    std::vector<std::string> events;
    int timerFired = 0;

    void OnChangedParameterValue(const char* name) override
    {
        events.push_back(std::string("changed ") + name);
    }
    void OnChangedParameterUnit(const char* name) override { events.push_back(std::string("unit ") + name); }
    void OnRefreshParameterValue(const char* name) override
    {
        events.push_back(std::string("refresh ") + name);
    }

    using CMC_Dialog::SetTimer;

protected:
    int OnInitDialog() override
    {
        if (auto* combo = Item<QComboBox>(3382)) {
            combo->addItem(QStringLiteral("off"), 0);
            combo->addItem(QStringLiteral("half"), 16384);
            combo->addItem(QStringLiteral("full"), 32767);
        }
        return CMC_EditSetupDlg::OnInitDialog();
    }
    void OnTimer(int id) override
    {
        events.push_back("timer " + std::to_string(id));
        ++timerFired;
    }
};
