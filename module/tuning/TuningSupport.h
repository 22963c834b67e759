// What the controller tuning dialogs share: the live register writes, the
// switches a setup may lack, and the upload of a log onto a graph.
#pragma once

#include <array>
#include <initializer_list>
#include <span>

class CGraphWindow;
class CMC_Dialog;
class CMC_Setup;
class CMC_SingleAxisLogger;
class CMC_EditSetupDlg;
class CMC_TestDlg;

// The stage texts of a tuning run, in order.
inline constexpr std::array<const char*, 6> kTuningStageTexts = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Running test",
    "Uploading results",
    "Test running. Press \"Stop\" to end the test",
};
inline constexpr const char* kProtectionTriggered = "Test failed!\nCurrent protection triggered during test!";

// Whether a parameter name is the expected one, ignoring case.
bool IsName(const char* name, const char* expected);

// A switch the setup may lack (then off).
bool IsOn(const CMC_Setup* setup, const char* name);

// Sends registers to the drive in order, up to the first that is missing or
// that the drive does not take (or a null name).
void WriteRegistersToDrive(CMC_Setup* setup, std::span<const char* const> names);
void WriteRegistersToDrive(CMC_Setup* setup, std::initializer_list<const char*> names);

// A controller gain edited by hand: how its registers follow it (null: the
// setup's own dispatch, which also gives back the gain they hold), and the
// registers the drive gets at once while a test runs.
struct LoopGain {
    const char* name;
    int (*convert)(CMC_Setup*);
    std::array<const char*, 2> registers; // the second may be null
};
// The gain of the list with this name, or null.
const LoopGain* FindGain(std::span<const LoopGain> gains, const char* name);
void ConvertLoopGain(CMC_Setup* setup, const LoopGain& gain);

// "Tune": designs a controller's gains; the conversions, in order, give
// their registers and the gains those hold. While a test runs the drive gets
// the registers at once. Then the dialog's controls show the gains, and the
// user is warned of registers clamped at their limits. A design that fails
// changes nothing.
void TuneController(CMC_EditSetupDlg& dialog, int (*design)(CMC_Setup*),
                    std::initializer_list<int (*)(CMC_Setup*)> conversions,
                    std::initializer_list<const char*> registers, bool running);

// Tells the user, in a message box, when a designed gain's registers (names)
// could not hold the gain and were clamped to their widths.
void WarnOfGainsAtLimit(CMC_Setup* setup, std::initializer_list<const char*> names);

// A value in internal units as a program's signed 16-bit input takes it.
double TruncatedProgramInput(double internal);
double RoundedProgramInput(double internal);

// How a logged column is drawn: axis, column, colour index of the palette.
struct CurveStyle {
    int axis;
    int column;
    int color;
};

// Sets the data logger up to record the variables (columns 1, 2, ...) with
// the sampling given, draws them as the curves say, and attaches its graph to
// the dialog's control.
void SetUpLogOnGraph(CMC_SingleAxisLogger& logger, int points, int logType,
                     std::span<const char* const> variables, std::span<const CurveStyle> curves,
                     CGraphWindow& graph, CMC_Dialog* dialog, int graphId);

// Reads the uploaded log point by point onto the graph while the dialog stays
// responsive. Gives false when the dialog closed in the middle (nothing more
// may be done), true when the log was read to its end or a stoppable run
// was stopped, with the points read so far kept.
bool UploadOntoGraph(CMC_TestDlg& test, CMC_SingleAxisLogger& logger, CGraphWindow& graph);
