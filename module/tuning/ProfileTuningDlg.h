// The base of the speed and position controller tuning tests. Page "Test
// Parameters" holds the current limits and the reference profile, page "Test"
// the gains, the graph and Start. A run positions the rotor first (unless
// the start mode makes that unnecessary), then the drive's loop follows the
// profile while it is logged: after the run by the data logger, or during it
// on the scope (the drive streams frames) or, without a scope, on a plain
// two-channel plot of two variables read in a loop. In multi-cycle mode the
// drive repeats the profile until Stop, and the gains can change live.
#pragma once

#include "BitmapButton.h"
#include "Comm.h"
#include "Logger.h"
#include "Oscilloscope.h"
#include "ProfileTable.h"
#include "ScopeLogger.h"
#include "TuningSupport.h"
#include "TuningTestDlg.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// What differs between the two loops' dialogs, besides their gains.
struct ProfileLoop {
    int templateId;
    unsigned helpTopic;
    const char* finalValue; // the profile's height
    int finalEdit;
    int finalUnit;
    double (*scale)(CMC_Setup*); // internal units per base unit of the final value
    const char* times[4];        // tp, tn, tap, tan
    const char* onlineSwitch;
    const char* multiCycle;
    const char* referenceType;
    const char* scopeOption; // where the scope settings are kept
    const char* plotFile;
    int valueTexts[4]; // plain on-line plot: the two names, then the two values
    int identify;
    const char* limitsPicture[2]; // "StartMode" 0, 1
    RampCut cut;
    const char* const* procedure; // five lines
    const int* parametersPage;    // control lists end with 0
    const int* testPage;
    const int* gainGroup;
    std::span<const LoopGain> gains; // besides the feed-forward gains
    // Whether the acceleration feed-forward gain follows its edit only
    // while the motor inertia is known.
    bool accelerationNeedsMotorInertia;
};

class CProfileTuningDlg : public CTuningTestDlg {
public:
    // Controls both dialogs have.
    static constexpr int kLimitsPicture = 1305;
    static constexpr int kProfilePicture = 1322;
    static constexpr int kScopeGraph = 1362;
    static constexpr int kDataLogger = 1368;
    static constexpr int kOnlinePlot = 1369;
    static constexpr int kTune = 1390;
    static constexpr int kFilters = 3510;
    static constexpr int kPause = 10016;
    static constexpr int kContinue = 10017;
    static constexpr int kLegendReference = 3331;
    static constexpr int kLegendActual = 3332;
    // Scope menu commands and the graph's scale message.
    static constexpr int kScopeMenu = 101;
    static constexpr int kScopeSettings = 10062;
    static constexpr int kScopeDefaults = 10063;
    static constexpr int kScopeAutoscale = 10064;
    static constexpr int kScopeLoad = 10065;
    static constexpr int kScopeSave = 10066;
    static constexpr int kSavePlotsCommand = 10067;
    static constexpr int kSavePicture = 10068;
    static constexpr int kExportData = 10069;
    static constexpr int kScaleMessage = 0x467;
    // Data logger: points at the speed-loop rate.
    static constexpr int kLogPoints = 2000;

    ~CProfileTuningDlg() override;

    void BeginTest() override;

    const ProfileLoop& Loop() const { return m_loop; }
    CMC_SingleAxisLogger* Logger() const { return m_logger.get(); }
    CMC_ScopeLogger* Scope() const { return m_scope.get(); }
    CGraphWindow& ScopeGraph() { return m_scopeGraph; }
    const CMC_Oscilloscope& PlainPlot() const { return m_plainPlot; }
    bool SettingsChanged() const { return m_settingsChanged; }

protected:
    CProfileTuningDlg(CMC_Setup* setup, int flag, QWidget* parent, const ProfileLoop& loop,
                      const char* mainProgram);

    // The four logged variables: the reference and the load value of the
    // loop, then two of the loop below it.
    virtual std::array<const char*, 4> LoggedVariables() const = 0;
    // The loop's own program inputs, written before and after the segment
    // table; false when the run has failed.
    virtual bool WriteInputsBeforeTable() = 0;
    virtual bool WriteInputsAfterTable() { return true; }
    // Where the scope triggers for a final value (base units) and reference type.
    struct TriggerPoint {
        const char* variable;
        double level;
        int slope;
    };
    virtual TriggerPoint ScopeTrigger(double finalValue, int referenceType) const = 0;
    // Scope channels 3 and 4.
    virtual void RescaleLowerLoopChannels() = 0;
    // The loop's enable rules for the feed-forward controls.
    virtual void UpdateFeedForwardControls() = 0;
    virtual void Tune() = 0;

    // The scope's current channels.
    void RescaleCurrentChannels();
    bool HasScopeDefaults() const { return m_scope && !m_settingsChanged; }
    // A program input in internal units; false (the run failed) when it
    // cannot be written.
    bool WriteInput(const char* name, double value);
    // A parameter the setup may lack (then 0).
    double ParameterInBase(const char* name) const;
    double ParameterInternal(const char* name) const;

    int OnInitDialog() override;
    void OnOK() override;
    bool OnCommand(int id) override;
    void OnChangedParameterValue(const char* name) override;
    void OnChangedParameterUnit(const char* name) override;
    void OnRefreshParameterValue(const char* name) override;
    void OnContextMenu(QWidget* control, const QPoint& globalPos) override;
    void OnWindowMessage(int message, unsigned wParam, unsigned lParam) override;
    void OnDestroyDialog() override;
    void LaunchMainProgram() override;
    void PollOwnStage() override;
    const char* TestPageRefusal() const override;
    void PageShown(int page) override;
    void UpdateControls() override;

private:
    friend struct ProfileScopeHandler;

    bool OnlineMode() const;
    bool MultiCycle() const;
    int ReferenceTypeValue() const;
    double FinalValue() const;

    void SetUpLogger();
    void SetUpScope();
    void BuildScopeDefaults();
    void RescaleReferenceChannels();
    void UpdateTrigger();
    void AttachScopeGraph();
    void ShowPictures();
    void SnapFinalValue();
    void InertiaChanged(const char* name);
    // A gain edited: its registers, and the gain they hold; and its live
    // write while a test runs. The loop's own gains, then the feed-forward
    // gains both loops have.
    void ConvertGain(const char* name);
    void WriteGainToDrive(const char* name);
    void ConvertFeedForwardGain(const char* name);
    void WriteFeedForwardToDrive(const char* name);
    void WarnAboutStartCurrent();

    // The final value in internal units, as the profile's height.
    std::int64_t FinalValueInternal() const;
    bool WriteRestartPoint();
    bool WriteSegmentTable();
    void StartPlainPlot(double finalInternal);

    void WatchMultiCycle();
    void RunScope();
    bool SweepLeftIncomplete();
    void RunPlainPlot();
    void WaitForSingleRun();
    void UploadResults();
    // "test_flag" of the main program: fails the run (with failOnError)
    // and gives false on no result or a triggered protection.
    bool TestFlagPasses(int failOnError);

    void Identify();
    void EditFilters();
    void SavePlots();
    void SavePicture();
    void ExportData();
    void ScopeCommand(int id);
    void OnScopeFrame(const UnsolicitedFrame& frame);

    const ProfileLoop& m_loop;
    const char* m_mainProgram;
    std::unique_ptr<CMC_SingleAxisLogger> m_logger;
    std::unique_ptr<CMC_ScopeLogger> m_scope;
    CGraphWindow m_scopeGraph{4, 0};
    CMC_Oscilloscope m_plainPlot;
    CBitmapButton m_pause;
    CBitmapButton m_continue;
    CMC_Comm::UnsolicitedHandler m_previousHandler;
    bool m_preliminaryRan = false;
    bool m_settingsChanged = false;
    bool m_paused = false;
    bool m_frameReceived = false;
    bool m_plainPlotRunning = false;
};
