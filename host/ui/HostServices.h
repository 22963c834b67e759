// Services of the host's user interface that the module calls: message boxes,
// file prompts, help, the wait cursor, the message pump and the palette. A
// scripted user (Automation.h) answers message boxes and file prompts and
// records help requests, so tests and automatic commissioning run without
// windows.
#pragma once

#include "DialogResults.h"

#include <QColor>
#include <QString>

class CMC_Setup;
class QWidget;

// Message box types and answers.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};

struct MessageBoxRequest {
    QString text;
    QString caption;
    unsigned type = MB_OK;
};

// Shows a message box and returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO).
int ShowMessageBox(const QString& text, unsigned type = MB_OK, const QString& caption = QString());

// A file to open (load) or to save, with a proposed path.
struct FilePromptRequest {
    bool load = true;
    QString caption;
    QString proposed;
    QString filter; // "Scope settings (*.osc)"
};

// Asks for a file name; the path chosen, empty when the user cancelled.
QString PromptFileName(const FilePromptRequest& request, QWidget* parent = nullptr);

// Help: "<GUI directory><help file of the setup>/<topic>.html" in the help viewer.
QString GetGUIDirectory();
QString GetHelpFileOfGUI(const CMC_Setup* setup);
void OpenHelpTopic(const CMC_Setup* setup, unsigned topic);

// Lets pending events run (the framework's message pump).
void PumpMessages();

// The hourglass while the drive is busy.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The host's 16-colour palette, index 1 to 16.
QColor RGB16(int index);
