#include "MotorEditor.h"

#include "EditSetupDlg.h"
#include "Errors.h"
#include "HostServices.h"
#include "JsonReader.h"
#include "Setup.h"
#include "SetupDescription.h"
#include "SetupFile.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cmath>

namespace {
constexpr const char* kMotorFormat = "velmaro-motor";
}

const std::vector<const char*>& MotorDatabase::MotorParameters()
{
    static const std::vector<const char*> names = {"In",
                                                   "ImaxM",
                                                   "pp",
                                                   "K",
                                                   "R",
                                                   "L",
                                                   "Jm",
                                                   "Resolution",
                                                   "MotorPhaseConnectionType",
                                                   "isMotorTemperatureSensor",
                                                   "Motor_TempSensor_Type"};
    return names;
}

QString MotorDatabase::LibraryFolder()
{
    return QString::fromStdString(DataDirectory()) + QStringLiteral("/motors");
}

QString MotorDatabase::UserFolder()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velmaro/motors");
}

QString MotorDatabase::FileNameFor(const QString& motorName)
{
    QString file;
    for (QChar c : motorName.trimmed())
        file += c.isLetterOrNumber() || c == QLatin1Char('-') ? c : QLatin1Char('_');
    return file + QStringLiteral(".json");
}

std::vector<MotorRecord> MotorDatabase::Read(const QString& folder, QStringList& errors)
{
    std::vector<MotorRecord> records;
    const QDir dir(folder);
    const auto files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString& fileName : files) {
        QFile file(dir.filePath(fileName));
        if (!file.open(QIODevice::ReadOnly)) {
            errors << file.fileName() + QStringLiteral(": cannot be opened");
            continue;
        }
        const QByteArray text = file.readAll();
        JsonValue root;
        std::string problem;
        if (!ParseJson(std::string_view(text.constData(), static_cast<std::size_t>(text.size())), root,
                       problem)) {
            errors << file.fileName() + QStringLiteral(":") + QString::fromStdString(problem);
            continue;
        }
        const JsonValue* format = root.Find("format");
        const JsonValue* name = root.Find("name");
        const JsonValue* parameters = root.Find("parameters");
        if (!format || !format->IsString() || format->text != kMotorFormat || !name || !name->IsString() ||
            !parameters || !parameters->IsObject()) {
            errors << file.fileName() + QStringLiteral(": not a motor file");
            continue;
        }
        MotorRecord record{QString::fromStdString(name->text), file.fileName(), {}};
        for (const auto& [key, value] : parameters->members)
            if (value.IsNumber())
                record.parameters.emplace_back(key, value.number);
        records.push_back(std::move(record));
    }
    return records;
}

bool MotorDatabase::Write(const MotorRecord& record, QString& error)
{
    if (!QDir().mkpath(QFileInfo(record.path).absolutePath())) {
        error = record.path + QStringLiteral(": the folder cannot be made");
        return false;
    }
    std::string text = std::string("{\n  \"format\": \"") + kMotorFormat +
                       "\",\n  \"version\": 1,\n  \"name\": " + JsonQuote(record.name.toStdString()) +
                       ",\n  \"parameters\": {";
    for (std::size_t i = 0; i < record.parameters.size(); ++i)
        text += (i ? ",\n    " : "\n    ") + JsonQuote(record.parameters[i].first) + ": " +
                JsonNumber(record.parameters[i].second);
    text += "\n  }\n}\n";
    std::string problem;
    if (!WriteFileAtomically(record.path.toStdString(), text, problem)) {
        error = QString::fromStdString(problem);
        return false;
    }
    return true;
}

bool MotorEditor::IsUserDatabase() const
{
    auto* combo = m_dialog.Item<QComboBox>(kDatabaseCombo);
    return combo && combo->currentIndex() == 1;
}

void MotorEditor::Initialize()
{
    auto* database = m_dialog.Item<QComboBox>(kDatabaseCombo);
    auto* motor = m_dialog.Item<QComboBox>(kMotorCombo);
    if (!database || !motor)
        return;
    database->clear();
    database->addItems({QStringLiteral("Library"), QStringLiteral("User")});
    motor->setEditable(true);
    motor->setInsertPolicy(QComboBox::NoInsert);
    QObject::connect(database, &QComboBox::activated, &m_dialog, [this] { FillMotors(); });
    QObject::connect(motor, &QComboBox::activated, &m_dialog, [this](int index) { ApplyMotor(index); });
    FillMotors();
}

void MotorEditor::FillMotors()
{
    QStringList errors;
    m_motors = MotorDatabase::Read(
        IsUserDatabase() ? MotorDatabase::UserFolder() : MotorDatabase::LibraryFolder(), errors);
    for (const QString& error : errors)
        ReportError(error.toStdString());
    auto* motor = m_dialog.Item<QComboBox>(kMotorCombo);
    motor->clear();
    for (const auto& record : m_motors)
        motor->addItem(record.name);
    motor->setCurrentIndex(-1);
    m_dialog.EnableChild(kDeleteButton, IsUserDatabase() && !m_motors.empty());
    m_dialog.EnableChild(kSaveButton, IsUserDatabase());
}

void MotorEditor::ApplyMotor(int index)
{
    if (index < 0 || index >= static_cast<int>(m_motors.size()))
        return;
    for (const auto& [name, value] : m_motors[static_cast<std::size_t>(index)].parameters)
        m_dialog.UserSetsParameter(name, value);
    m_dialog.RefreshAllParameters(0);
    m_dialog.UpdateData(false);
}

void MotorEditor::SaveToUserDatabase()
{
    auto* motor = m_dialog.Item<QComboBox>(kMotorCombo);
    const QString name = motor->currentText().trimmed();
    if (name.isEmpty()) {
        ShowMessageBox(QStringLiteral("Type a name for the motor in the Motor box first."),
                       MB_OK | MB_ICONWARNING);
        return;
    }
    MotorRecord record{
        name, MotorDatabase::UserFolder() + QLatin1Char('/') + MotorDatabase::FileNameFor(name), {}};
    if (QFile::exists(record.path) &&
        ShowMessageBox(QStringLiteral("The user database has a motor \"%1\" already. Replace it?").arg(name),
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    QuietLookup quiet;
    for (const char* parameter : MotorDatabase::MotorParameters())
        if (const CMC_Parameter* p = m_dialog.GetSetup()->FindParameter(parameter))
            record.parameters.emplace_back(p->Name(), p->GetValueInBaseUnit());
    QString error;
    if (!MotorDatabase::Write(record, error)) {
        ShowMessageBox(QStringLiteral("The motor was not saved: %1").arg(error), MB_OK | MB_ICONERROR);
        return;
    }
    FillMotors();
    motor->setCurrentIndex(motor->findText(name));
}

void MotorEditor::DeleteMotor()
{
    auto* motor = m_dialog.Item<QComboBox>(kMotorCombo);
    const int index = motor->currentIndex();
    if (!IsUserDatabase() || index < 0 || index >= static_cast<int>(m_motors.size()))
        return;
    const MotorRecord& record = m_motors[static_cast<std::size_t>(index)];
    if (ShowMessageBox(QStringLiteral("Delete the motor \"%1\" from the user database?").arg(record.name),
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    if (!QFile::remove(record.path))
        ShowMessageBox(QStringLiteral("The motor file %1 cannot be deleted.").arg(record.path),
                       MB_OK | MB_ICONERROR);
    FillMotors();
}

bool MotorEditor::OnCommand(int id)
{
    if (id == kSaveButton) {
        SaveToUserDatabase();
        return true;
    }
    if (id == kDeleteButton) {
        DeleteMotor();
        return true;
    }
    return false;
}
