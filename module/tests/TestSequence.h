// Steps that the identification tests share: polling a drive program until it
// has run and switched the power stage off, reading drive variables, and the
// question asked on Close when a test found values that differ from the old
// ones.
// Every step that fails has already put its text into m_strError and called
// TestFailed(1) when it returns false (or ProgramState::Failed).
#pragma once

#include "MyTestDlg.h"

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class CMC_CoffFormat;

// A user or drive variable that holds this value has no valid result.
inline constexpr double kNoResult = 1.2345e100;
// Drive error masks: short circuit; short circuit and ENABLE; every error.
inline constexpr std::uint16_t kMaskShortCircuit = 0x0002;
inline constexpr std::uint16_t kMaskShortCircuitEnable = 0x8002;
inline constexpr std::uint16_t kMaskAll = 0xFFFF;

// Ends the run as failed with the text.
void FailTest(CMyTestDlg& test, const std::string& text);

// Empties edit boxes and unit combo boxes.
void EmptyControls(CMyTestDlg& test, std::initializer_list<int> ids);

enum class ProgramState { Failed, Running, Ended };

// One poll of a program: still running (the poll is re-armed), ended with no
// drive error under the mask, or failed (a poll that cannot be re-armed too). Until the program has started a
// drive error may be why it has not; once it has switched the power stage
// off the errors are checked again unless the caller checks them itself.
enum class EndCheck { DriveErrors, None };
ProgramState PollProgramEnd(CMyTestDlg& test, CMC_CoffFormat* image, std::uint16_t mask,
                            EndCheck endCheck = EndCheck::DriveErrors);

// Reads a drive variable from the drive, in internal or base units. A
// variable the setup lacks, or one that holds the no-result value, fails
// with the internal error, a failed read with the communication error.
enum class DriveUnits { Internal, Base };
bool ReadDriveVariable(CMyTestDlg& test, const char* name, double& value,
                       DriveUnits units = DriveUnits::Internal);

// Reads a result the program left in a user variable of its image. A failed
// read fails with the communication error, the no-result value with the
// internal error.
bool ReadProgramResult(CMyTestDlg& test, CMC_CoffFormat* image, const char* name, double& value);

// A value a test determined, as the question on Close shows it.
struct ComparedValue {
    QString label;   // "Power supply"
    QString oldText; // formatted with the test's format
    QString newText;
};

// The question "keep the new values?", listing the values whose texts differ;
// empty when none differs or the last run did not succeed.
QString ChangedValuesQuestion(const std::vector<ComparedValue>& values, int result);
// Asks it (Yes, No, Cancel); returns 0 when there was nothing to ask.
int AskToSaveChangedValues(const QString& question);

// printf-style formatting of one double ("%f", "%G", "%g", "%.2f").
QString FormatValue(const char* format, double value);
