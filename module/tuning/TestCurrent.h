// "Current Controller Tuning Test": after the preliminary positioning the
// drive steps the current reference between 0 and the test current while it
// logs the current reference, the measured current and the voltage
// reference; the dialog uploads the log and plots it. "Tune" designs the PI
// gains from the bandwidth "PB_C"; the gains can also be set by hand, and
// while a test runs every change goes to the drive at once. OK keeps the
// test's over-current protection as the drive's.
#pragma once

#include "Logger.h"
#include "TuningTestDlg.h"

#include <memory>

class CTestCurrent : public CTuningTestDlg {
public:
    static constexpr int kTemplateId = 101;
    static constexpr unsigned kHelpTopic = 262408;
    static constexpr const char* kMainProgram = "Current_Controller_Tuning_Test";
    // Controls.
    static constexpr int kTune = 3149;
    static constexpr int kUseFilter = 3142;
    static constexpr int kCompensateGravity = 3147;
    // The log: points at the current-loop rate.
    static constexpr int kLogPoints = 1000;

    CTestCurrent(CMC_Setup* setup, int flag, QWidget* parent);
    ~CTestCurrent() override;

    void BeginTest() override;

    // The logger, null before OnInitDialog.
    CMC_SingleAxisLogger* Logger() const { return m_logger.get(); }

protected:
    int OnInitDialog() override;
    bool OnCommand(int id) override;
    void OnChangedParameterValue(const char* name) override;
    void OnRefreshParameterValue(const char* name) override;
    void showEvent(QShowEvent* event) override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;
    const char* TestPageRefusal() const override;
    void PageShown(int page) override;
    void UpdateControls() override;

private:
    void SetUpLogger();
    void Tune();
    void ApplyFilterAndGravity();
    void EndMainProgram();
    void UploadResults();

    std::unique_ptr<CMC_SingleAxisLogger> m_logger;
};
