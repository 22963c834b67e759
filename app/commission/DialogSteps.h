// What the scripted engineer's steps share: the test dialogs' own controls,
// the dialogs it scripts, and typing into a dialog as a person does.
#pragma once

#include "Automation.h"
#include "DetectPolePairs.h"
#include "EditSetupDlg.h"
#include "Plant.h"
#include "Setup.h"
#include "TestDlg.h"

#include <QString>

#include <cmath>
#include <functional>
#include <numbers>

#include <string>
#include <vector>

namespace commissioning {

// Every test dialog's Start (Stop while it runs), status and result texts.
inline constexpr int kStart = 10000;
inline constexpr int kStatus = 10001;
inline constexpr int kResult = 10002;
inline constexpr int kFiltersTemplate = 295;

using Rows = std::vector<std::vector<double>>;

inline double Base(const CMC_Setup* s, const char* name)
{
    return s->GetParameterValueInBaseUnit(name);
}

inline CMC_Setup* SetupOf(DialogDriver& d)
{
    auto* dialog = dynamic_cast<CMC_EditSetupDlg*>(d.Dialog());
    return dialog ? dialog->GetSetup() : nullptr;
}

// Types a value given in base units into an edit, in the unit it shows.
inline void Type(DialogDriver& d, int edit, const CMC_Setup* s, const char* name, double base)
{
    d.SetEditText(edit, QString::number(s->FindParameter(name)->BaseToDisplay(base), 'g', 12));
}

inline int ComboIndexOf(DialogDriver& d, int id, const QString& text)
{
    for (int i = 0; i < d.ComboCount(id); ++i)
        if (d.ComboItemText(id, i) == text)
            return i;
    return -1;
}

// Presses Move of the pole pairs test until the shaft has turned one
// revolution from where it stood, as a user watching a mark on it does, then
// Stop. Begins once the test shows Move; `onTurn` runs at each turn of that wait.
inline void CountPolePairsOnTheShaft(DialogDriver& d, const CMC_TestDlg& test, const Plant& plant,
                                     const std::function<void()>& onTurn = {})
{
    d.WaitUntil([&] {
        if (onTurn)
            onTurn();
        return test.m_bRunning == 0 || d.IsVisible(CDetectPolePairs::kMoveButton);
    });
    const double start = plant.MotorAngle();
    for (int moves = 0; moves < 200 && test.m_bRunning; ++moves) {
        d.Click(CDetectPolePairs::kMoveButton);
        if (std::abs(plant.MotorAngle() - start) > 2.0 * std::numbers::pi - 0.1)
            break;
    }
    if (test.m_bRunning)
        d.Click(kStart);
}

} // namespace commissioning
