#include "HostServices.h"

#include "Automation.h"
#include "HelpViewer.h"
#include "SetupDescription.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

int ShowMessageBox(const QString& text, unsigned type, const QString& caption)
{
    MessageBoxRequest request{text, caption.isEmpty() ? QStringLiteral("Velmaro") : caption, type};
    if (ScriptedUser* user = ScriptedUser::Active())
        return user->Answer(request);

    QMessageBox box;
    box.setWindowTitle(request.caption);
    box.setText(text);
    switch (type & 0xF0) {
    case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::Information);
    }
    switch (type & 0x0F) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNOCANCEL:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Cancel:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

QString PromptFileName(const FilePromptRequest& request, QWidget* parent)
{
    if (ScriptedUser* user = ScriptedUser::Active())
        return user->AnswerFile(request);
    if (request.load)
        return QFileDialog::getOpenFileName(parent, request.caption, request.proposed, request.filter);
    return QFileDialog::getSaveFileName(parent, request.caption, request.proposed, request.filter);
}

QString GetGUIDirectory()
{
    return QString::fromStdString(DataDirectory()) + QStringLiteral("/");
}

QString GetHelpFileOfGUI(const CMC_Setup*)
{
    return QStringLiteral("help");
}

void OpenHelpTopic(const CMC_Setup* setup, unsigned topic)
{
    const QString file = GetHelpFileOfGUI(setup);
    if (file.isEmpty())
        return;
    if (ScriptedUser* user = ScriptedUser::Active()) {
        user->RecordHelp(topic);
        return;
    }
    ShowHelpPage(GetGUIDirectory() + file, topic);
}

void PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

WaitCursor::WaitCursor()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::restoreOverrideCursor();
}

QColor RGB16(int index)
{
    static const QColor palette[16] = {
        QColor(0, 0, 0),     QColor(0, 0, 192),   QColor(0, 128, 0),   QColor(0, 128, 128),
        QColor(192, 0, 0),   QColor(128, 0, 128), QColor(128, 96, 0),  QColor(128, 128, 128),
        QColor(64, 64, 64),  QColor(64, 96, 255), QColor(0, 200, 0),   QColor(0, 192, 192),
        QColor(255, 64, 64), QColor(255, 0, 255), QColor(200, 160, 0), QColor(255, 128, 0),
    };
    if (index < 1 || index > 16)
        return palette[0];
    return palette[index - 1];
}
