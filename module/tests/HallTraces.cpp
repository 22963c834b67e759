#include "HallTraces.h"

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
    for (int i = 0; i < kChannels; ++i) {
        CMC_Oscilloscope& trace = m_traces[i];
        trace.Initialize(QString(), 1, 0);
        trace.Channel(0).lowerLimit = kLowestVolts;
        trace.Channel(0).upperLimit = kHighestVolts;
        trace.Channel(0).color = RGB16(kColours[i]);
    }
}

void HallTraces::AddSample(const Volts& volts)
{
    for (int i = 0; i < kChannels; ++i) {
        m_traces[i].Channel(0).value = volts[i];
        m_traces[i].UpdateLastPoint();
    }
}

void HallTraces::ShowValues(CMC_Dialog& dialog, const Volts& volts)
{
    for (int i = 0; i < kChannels; ++i) {
        dialog.SetChildText(kValueEdits[i], QString::asprintf(kValueFormat, volts[i]));
        if (QWidget* edit = dialog.GetDlgItem(kValueEdits[i]))
            edit->repaint();
    }
}

bool TakeHallPreliminaryResults(CMyTestDlg& test, CMC_CoffFormat* image, double& reftst, double& rinctst)
{
    double in1 = 0.0;
    if (!test.GetUserVariableValue(image, "In1", in1, test.m_strError)) {
        test.TestFailed(1);
        return false;
    }
    if (in1 == kNoResult) {
        FailTest(test, CMC_TestDlg::msc_pszErrInternal);
        return false;
    }
    if (in1 == 0.0) {
        FailTest(test, CMC_TestDlg::msc_pszErrInZero);
        return false;
    }
    return ReadDriveVariable(test, "REFTST_V", reftst) && ReadDriveVariable(test, "RINCTST_V", rinctst);
}
