#include "HallTraces.h"

#include "Comm.h"
#include "HostServices.h"
#include "MyTestDlg.h"
#include "Setup.h"
#include "TestSequence.h"

namespace {

constexpr std::array<int, HallTraces::kChannels> kTraceControls = {3352, 3353, 3354};
constexpr std::array<int, HallTraces::kChannels> kPictureControls = {3355, 3359, 3358};
constexpr std::array<const char*, HallTraces::kChannels> kPictures = {"BITMAP_3059", "BITMAP_3060",
                                                                      "BITMAP_3061"};
constexpr std::array<int, HallTraces::kChannels> kColours = {4, 1, 16}; // host palette
constexpr double kLowestVolts = -1.0;
constexpr double kHighestVolts = 6.0;
// The value boxes show every tenth sample.
constexpr int kSamplesPerDisplay = 10;

} // namespace

std::array<const char*, HallTraces::kChannels> HallTraces::VariableNames(const CMC_Setup& setup)
{
    return {"AD6", "AD3", setup.GetMCVersion() > 2 ? "AD9" : "AD8"};
}

void HallTraces::Attach(CMC_Dialog& dialog)
{
    for (int i = 0; i < kChannels; ++i) {
        dialog.SetButtonImage(kPictureControls[i], kPictures[i]);
        m_traces[i].Attach(&dialog, kTraceControls[i]);
    }
    // Empty traces over the signals' span until the first run.
    Prepare();
}

void HallTraces::Prepare()
{
    m_samples = 0;
    for (int i = 0; i < kChannels; ++i) {
        CMC_Oscilloscope& trace = m_traces[i];
        trace.Initialize(QString(), 1, 0);
        trace.Channel(0).lowerLimit = kLowestVolts;
        trace.Channel(0).upperLimit = kHighestVolts;
        trace.Channel(0).color = RGB16(kColours[i]);
    }
}

void HallTraces::AddSample(CMC_Dialog& dialog, const Volts& volts)
{
    for (int i = 0; i < kChannels; ++i) {
        m_traces[i].Channel(0).value = volts[i];
        m_traces[i].UpdateLastPoint();
    }
    if (++m_samples == kSamplesPerDisplay) {
        ShowValues(dialog, volts);
        m_samples = 0;
    }
}

void HallTraces::ClearValues(CMyTestDlg& test)
{
    EmptyControls(test, {kValueEdits[0], kValueEdits[1], kValueEdits[2]});
}

void HallTraces::ShowValues(CMC_Dialog& dialog, const Volts& volts)
{
    for (int i = 0; i < kChannels; ++i) {
        dialog.SetChildText(kValueEdits[i], QString::asprintf(kValueFormat, volts[i]));
        if (QWidget* edit = dialog.GetDlgItem(kValueEdits[i]))
            edit->repaint();
    }
}

bool HallTraces::FindSignals(CMyTestDlg& test)
{
    CMC_Setup* setup = test.GetSetup();
    const auto names = VariableNames(*setup);
    for (int i = 0; i < kChannels; ++i) {
        if (!(m_signals[i] = setup->FindVariable(names[i], 1))) {
            FailTest(test, CMC_TestDlg::msc_pszErrInternal);
            return false;
        }
    }
    return true;
}

bool HallTraces::ReadSignals(CMyTestDlg& test, double countsPerVolt, Volts& volts)
{
    for (int i = 0; i < kChannels; ++i) {
        if (!m_signals[i]->ReadFromChip()) {
            FailTest(test, CMC_Comm::GetLastErrorText());
            return false;
        }
        volts[i] = m_signals[i]->GetValueInInternalUnit() / countsPerVolt;
    }
    return true;
}
