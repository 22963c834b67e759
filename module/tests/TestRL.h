// "Total Resistance and Inductance Identification Test": the phase resistance
// "R" from two resistance runs at the test current and at half of it (each
// after its own preliminary positioning), then the phase inductance "L" from
// the current response to an alternating voltage. Both are motor plus drive.
// The second resistance run measures the DC bus voltage, which "Vdc" holds
// from then on until the dialog closes; closing always restores "Vdc".
#pragma once

#include "CoffFormat.h"
#include "Logger.h"
#include "PositioningTestDlg.h"

#include <memory>
#include <string>
#include <vector>

class QCloseEvent;

class CTestRL : public CPositioningTestDlg {
public:
    static constexpr int kTemplateId = 290;
    static constexpr unsigned kHelpTopic = 262412;
    // Identified inductances outside these limits fail the test [H].
    static constexpr double kMinimumInductance = 50e-6;
    static constexpr double kMaximumInductance = 1.0;

    // The test always runs with flag 1; the argument keeps the common signature.
    CTestRL(CMC_Setup* setup, int flag, QWidget* parent);
    ~CTestRL() override;

    void BeginTest() override;

protected:
    int OnInitDialog() override;
    void OnCancel() override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;
    // The window's close box.
    void closeEvent(QCloseEvent* event) override;

    // Records the runs; created with the dialog, null when that failed.
    std::unique_ptr<CMC_SingleAxisLogger> m_logger;

private:
    void RestoreVdc();
    // Stage by stage, as the timer ticks.
    void LaunchResistanceRun(int current, double reftst, double rinctst, int logType);
    bool EndFirstResistanceRun();
    void LaunchSecondPreliminaryTest();
    bool EndSecondResistanceRun();
    void LaunchInductanceRun();
    void EndInductanceRun();
    // Why the resistance runs cannot be trusted with this inductance [H,
    // equivalent star], or empty: the PWM ripple at half the test current.
    std::string DeadTimeSpoilsResistance(double starInductance) const;
    // Uploads the log; false (the test failed) when it cannot.
    bool UploadLog(std::vector<std::vector<double>>& points);
    // The mean of the first logged variable of an uploaded log.
    bool UploadLogMean(double& mean);

    CMC_CoffFormat m_lImage; // the resistance runs use m_main
    double m_u1 = 0.0;       // voltage command [internal units] and mean current of the first run
    double m_i1 = 0.0;
    double m_u2 = 0.0; // the same for the second run
    double m_i2 = 0.0;
    double m_rNew = 0.0; // [ohm]
    double m_lNew = 0.0; // [H]
    double m_rOld = 0.0;
    double m_lOld = 0.0;
    double m_vdcSaved = 0.0; // [V]
};
