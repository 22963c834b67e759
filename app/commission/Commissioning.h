// The automatic commissioning: a scripted engineer who opens the setup editor
// and, in its own dialogs on the virtual drive, picks the motor from the motor
// database, runs every identification twice, tunes and tries the current,
// speed and position loops, looks for a resonance in the speed loop and sets
// a notch on it, and ends with OK. What each test found, its plots and the
// time each stage took are gathered for the report.
#pragma once

#include "CommissionResult.h"
#include "MotorModel.h"
#include "TuningPlan.h"

#include <QString>

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class CMC_Setup;
class DialogDriver;
class ScriptedUser;
class SteppedClock;
class VirtualDrive;

struct CommissionOptions {
    std::string setupFile;
    std::string motorFile; // its "parameters" are the datasheet, its "plant" the virtual drive's motor
    std::vector<std::string> faults;
    bool strict = false; // a flagged value fails the run
    QString workFolder;  // where the tuning tests save their plots
};

class Commissioning {
public:
    using EditSetup = std::function<int(CMC_Setup*)>;

    // progress: one line per test and stage as it runs.
    Commissioning(CommissionOptions options, const MotorModel& motor, VirtualDrive& drive,
                  SteppedClock& clock, std::ostream& progress);
    ~Commissioning();

    // Works the editor on the setup through the module's EditSetup. True
    // when every test passed (and, with strict, nothing was flagged) and the
    // editor ended with OK: the setup then holds the result.
    bool Run(CMC_Setup& setup, const EditSetup& editSetup);
    const CommissionResult& Result() const { return m_result; }

    // An identification test: its name, the values it finds, and how far two
    // runs may differ for the test's noise.
    struct Test;

private:
    class Watch;
    using Rows = std::vector<std::vector<double>>;

    void OnDriveSetup(DialogDriver& d);
    void OnMotorSetup(DialogDriver& d);
    void PickMotor(DialogDriver& d);
    void RunMotorTests(DialogDriver& d);
    void ScriptTestDialogs();
    void OpenDialog(DialogDriver& parent, int button, const std::string& label);

    // Presses a button that opens an identification test, `runs` times, and
    // takes the values it found from the setup after each.
    void Identify(DialogDriver& parent, int button, const Test& test, int runs = 2);
    void IdentifyInertia(DialogDriver& speedTest);
    IdentifiedValue& Value(const Test& test, const char* name);
    void Judge(IdentifiedValue& value);
    double TrueValue(const std::string& name) const;
    void RunTestDialog(DialogDriver& d, const std::function<void(DialogDriver&)>& during);
    void TypeTestCurrent(DialogDriver& d);
    bool FollowRun(DialogDriver& d, const std::string& label,
                   const std::function<void(DialogDriver&)>& start = {});
    void WatchHallSignals(DialogDriver& d);
    void CountPolePairs(DialogDriver& d);

    void TuneCurrentLoop(DialogDriver& d);
    void TuneSpeedLoop(DialogDriver& d);
    void TunePositionLoop(DialogDriver& d);
    void TypePlan(DialogDriver& d, bool speed, const ProfilePlan& plan, double finalValue);
    Rows SavedPlot(DialogDriver& d, int button, const char* name, const std::string& id,
                   const std::string& title);
    void SearchResonance(DialogDriver& d, const Rows& log);
    void SetNotch(DialogDriver& d);
    void GatherGains(const CMC_Setup& setup);

    bool Failed() const { return !m_result.failedTest.empty(); }
    void Fail(const std::string& test, const std::string& message);
    void Close(DialogDriver& d) const;
    void Say(const std::string& line);
    double Elapsed() const;

    CommissionOptions m_options;
    MotorModel m_motor;
    VirtualDrive& m_drive;
    SteppedClock& m_clock;
    std::ostream& m_progress;
    std::unique_ptr<ScriptedUser> m_user;
    CommissionResult m_result;
    CMC_Setup* m_setup = nullptr;
    std::vector<std::pair<std::string, double>> m_datasheet; // base units
    int m_motorSetupOpens = 0;
    bool m_hallsCalibrated = false;
    std::string m_label;        // the test run going on, as the terminal names it
    std::string m_currentTitle; // its dialog's title
    Watch* m_watch = nullptr;
    std::chrono::steady_clock::time_point m_started;
};
