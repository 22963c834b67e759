// What the two Hall signal tests share: the three linear Hall signals, each
// shown as a live trace, a picture and a value box, and the preliminary
// results they accept.
#pragma once

#include "Oscilloscope.h"

#include <array>

class CMC_CoffFormat;
class CMC_Dialog;
class CMC_Setup;
class CMyTestDlg;

class HallTraces {
public:
    static constexpr int kChannels = 3;
    using Volts = std::array<double, kChannels>; // [V]

    // Value boxes of the three signals.
    static constexpr std::array<int, kChannels> kValueEdits = {1029, 1030, 1031};
    // The text of a value box.
    static constexpr const char* kValueFormat = "%.2g";

    // Drive variables of the three signals, in converter counts: the third
    // input moved on controllers after version 2.
    static std::array<const char*, kChannels> VariableNames(const CMC_Setup& setup);

    // Pictures and (prepared) traces into the dialog's controls.
    void Attach(CMC_Dialog& dialog);
    // Empty traces over -1 V .. 6 V, one colour per signal.
    void Prepare();
    // Adds one sample of each signal as its newest point.
    void AddSample(const Volts& volts);
    // Shows the values in the value boxes at once.
    static void ShowValues(CMC_Dialog& dialog, const Volts& volts);

    const CMC_Oscilloscope& Trace(int channel) const { return m_traces[channel]; }

private:
    std::array<CMC_Oscilloscope, kChannels> m_traces;
};

// After the preliminary test of a Hall test: its "In1" fails only when it
// holds no result or is exactly 0 (the sign does not matter here); then
// "REFTST_V" and "RINCTST_V" are read [internal units].
bool TakeHallPreliminaryResults(CMyTestDlg& test, CMC_CoffFormat* image, double& reftst, double& rinctst);
