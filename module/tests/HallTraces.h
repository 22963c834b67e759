// What the two Hall signal tests share: the three linear Hall signals, read
// from the drive and each shown as a live trace, a picture and a value box.
#pragma once

#include "Oscilloscope.h"

#include <array>

class CMC_Dialog;
class CMC_Setup;
class CMC_Variable;
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
    // Empty traces over -1 V .. 6 V, one colour per signal; the count of
    // samples starts again.
    void Prepare();
    // Adds one sample of each signal as its newest point; every tenth sample
    // since Prepare also goes into the value boxes.
    void AddSample(CMC_Dialog& dialog, const Volts& volts);
    // Empties the value boxes.
    static void ClearValues(CMyTestDlg& test);

    // Finds the signals' drive variables in the test's setup; when one is
    // missing the test has failed with the internal error.
    bool FindSignals(CMyTestDlg& test);
    // Reads each signal afresh from the drive [V] at the converter's counts
    // per volt; when a read fails the test has failed with the drive's error.
    bool ReadSignals(CMyTestDlg& test, double countsPerVolt, Volts& volts);
    // A signal's drive variable, once found.
    CMC_Variable* Signal(int channel) const { return m_signals[channel]; }

    const CMC_Oscilloscope& Trace(int channel) const { return m_traces[channel]; }

private:
    // Shows the values in the value boxes at once.
    static void ShowValues(CMC_Dialog& dialog, const Volts& volts);

    std::array<CMC_Oscilloscope, kChannels> m_traces;
    std::array<CMC_Variable*, kChannels> m_signals{};
    int m_samples = 0; // since the value boxes last showed a sample
};
