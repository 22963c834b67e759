#include "TestSequence.h"

#include "Comm.h"
#include "HostServices.h"
#include "Setup.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

void FailTest(CMyTestDlg& test, const std::string& text)
{
    test.m_strError = text;
    test.TestFailed(1);
}

void EmptyControls(CMyTestDlg& test, std::initializer_list<int> ids)
{
    for (int id : ids) {
        if (auto* edit = test.Item<QLineEdit>(id))
            edit->clear();
        else if (auto* combo = test.Item<QComboBox>(id))
            combo->clear();
        else if (auto* label = test.Item<QLabel>(id))
            label->clear();
    }
}

ProgramState PollProgramEnd(CMyTestDlg& test, CMC_CoffFormat* image, std::uint16_t mask, EndCheck endCheck)
{
    double started = 0.0;
    if (!test.GetUserVariableValue(image, "STARTED", started, test.m_strError)) {
        test.TestFailed(1);
        return ProgramState::Failed;
    }
    if (started == 0.0) {
        // Not started yet: a drive error may be why.
        if (!test.CheckDriveErrors(1, mask))
            return ProgramState::Failed;
        return test.RearmPoll() ? ProgramState::Running : ProgramState::Failed;
    }
    int on = 0;
    if (!test.GetAxisOn(on)) {
        // The link's reason, not an empty outcome.
        FailTest(test, CMC_Comm::GetLastErrorText());
        return ProgramState::Failed;
    }
    if (on != 0) {
        return test.RearmPoll() ? ProgramState::Running : ProgramState::Failed;
    }
    // The program switches the power stage off when it ends.
    if (endCheck == EndCheck::DriveErrors && !test.CheckDriveErrors(1, mask))
        return ProgramState::Failed;
    return ProgramState::Ended;
}

bool ReadDriveVariable(CMyTestDlg& test, const char* name, double& value, DriveUnits units)
{
    CMC_Variable* variable = test.GetSetup()->FindVariable(name, 1);
    if (!variable) {
        test.m_strError = CMC_TestDlg::msc_pszErrInternal;
        test.TestFailed(1);
        return false;
    }
    if (!variable->ReadFromChip()) {
        test.m_strError = CMC_Comm::GetLastErrorText();
        test.TestFailed(1);
        return false;
    }
    // A program that found nothing leaves the no-result value: no number to use.
    if (variable->GetValueInInternalUnit() == kNoResult) {
        FailTest(test, CMC_TestDlg::msc_pszErrInternal);
        return false;
    }
    value = units == DriveUnits::Base ? variable->GetValueInBaseUnit() : variable->GetValueInInternalUnit();
    return true;
}

bool ReadProgramResult(CMyTestDlg& test, CMC_CoffFormat* image, const char* name, double& value)
{
    double read = 0.0;
    if (!test.GetUserVariableValue(image, name, read, test.m_strError)) {
        test.TestFailed(1);
        return false;
    }
    if (read == kNoResult) {
        FailTest(test, CMC_TestDlg::msc_pszErrInternal);
        return false;
    }
    value = read;
    return true;
}

QString ChangedValuesQuestion(const std::vector<ComparedValue>& values, int result)
{
    if (result != 1)
        return {};
    QString lines;
    for (const ComparedValue& value : values)
        if (value.oldText != value.newText)
            lines += value.label + QStringLiteral(":\tOld = ") + value.oldText + QStringLiteral("\tNew = ") +
                     value.newText + QStringLiteral("\r\n");
    if (lines.isEmpty())
        return {};
    return QStringLiteral("A different value than specified has been detected for the following parameter(s):"
                          "\r\n\r\n") +
           lines + QStringLiteral("\r\nDo you want to save the new value(s)? (Recommended)");
}

int AskToSaveChangedValues(const QString& question)
{
    if (question.isEmpty())
        return 0;
    return ShowMessageBox(question, MB_YESNOCANCEL | MB_ICONQUESTION);
}

QString FormatValue(const char* format, double value)
{
    return QString::asprintf(format, value);
}
