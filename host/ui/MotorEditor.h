// The motor database of the motor setup dialog (controls 10010 to 10013): the
// library motors shipped in data/motors and the user's own motors in the
// user's configuration folder. Picking a motor writes its data into the
// setup as a user's edits would.
#pragma once

#include <QString>

#include <map>
#include <string>
#include <vector>

class CMC_EditSetupDlg;

// The motor data a database record holds, in base units.
struct MotorRecord {
    QString name;
    QString path;
    std::vector<std::pair<std::string, double>> parameters;
};

class MotorDatabase {
public:
    static QString LibraryFolder();
    static QString UserFolder(); // $XDG_CONFIG_HOME/velmaro/motors or ~/.config/velmaro/motors

    // Reads every motor file of a folder; damaged files are skipped and listed in errors.
    static std::vector<MotorRecord> Read(const QString& folder, QStringList& errors);
    static bool Write(const MotorRecord& record, QString& error);
    static QString FileNameFor(const QString& motorName);
    // The parameters a motor record carries.
    static const std::vector<const char*>& MotorParameters();
};

class MotorEditor {
public:
    explicit MotorEditor(CMC_EditSetupDlg& dialog) : m_dialog(dialog) {}

    void Initialize();
    bool OnCommand(int id);

private:
    enum { kDatabaseCombo = 10010, kMotorCombo = 10011, kSaveButton = 10012, kDeleteButton = 10013 };
    bool IsUserDatabase() const;
    void FillMotors();
    void ApplyMotor(int index);
    void SaveToUserDatabase();
    void DeleteMotor();

    CMC_EditSetupDlg& m_dialog;
    std::vector<MotorRecord> m_motors;
};
