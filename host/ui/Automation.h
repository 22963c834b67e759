// The scripted user: sees each dialog as it opens and works it by control id,
// as a person would, answers message boxes and records help requests. GUI
// tests and automatic commissioning both use it, so they go through the very
// dialogs a person uses. While a scripted user is active no window waits for
// a person: a dialog nobody scripted is cancelled, a message box nobody
// answers gets its default button, and a file prompt nobody answers is
// cancelled.
#pragma once

#include "HostServices.h"
#include "MenuResource.h"

#include <Qt>

#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "Dialog.h"

// Works one open dialog.
class DialogDriver {
public:
    explicit DialogDriver(CMC_Dialog* dialog) : m_dialog(dialog) {}

    CMC_Dialog* Dialog() const { return m_dialog; }
    int TemplateId() const;

    // Types into an edit box and leaves it, as a person does.
    void SetEditText(int id, const QString& text);
    void SelectComboIndex(int id, int index);
    void SelectComboText(int id, const QString& text);
    // Selects a tab of a tab control, as a click on it does.
    void SelectTab(int id, int index);
    int CurrentTab(int id) const;
    // Presses a button, a check box or a radio button.
    void Click(int id);
    void PressKey(int key, Qt::KeyboardModifiers modifiers);
    void Ok() { Click(1); }
    void Cancel();
    // Right-clicks the middle of a control, as a person does, and takes the
    // command from the menu the dialog shows there. False when no menu came
    // or it did not offer the command (it is then dismissed).
    bool ChooseMenuCommand(int controlId, int commandId);
    // Presses a scale step button of a scope graph's channel (GraphWindow.h);
    // false when the control has no such enabled button.
    bool StepScopeChannel(int controlId, int channel, int code);

    // Lets the dialog run (timers, drive polls) until done() holds; false when
    // it did not within maxRounds turns of the event loop.
    bool WaitUntil(const std::function<bool()>& done, int maxRounds = 200000);

    bool Exists(int id) const;
    bool IsEnabled(int id) const;
    bool IsVisible(int id) const;
    bool IsChecked(int id) const;
    QString Text(int id) const;
    int ComboCount(int id) const;
    QString ComboItemText(int id, int index) const;
    // The hint shown for a refused entry, empty when none.
    QString Hint(int id) const;

private:
    CMC_Dialog* m_dialog;
};

// Calls `act` at every turn of the event loop until it says it is done (or
// the object goes). A dialog's own loops (a scope, a plot, an upload) turn the
// event loop without returning to the script that started them: what a user
// does in the middle of one comes from here.
class EveryTurn {
public:
    explicit EveryTurn(std::function<bool()> act);

private:
    QTimer m_timer;
};

using DialogScript = std::function<void(DialogDriver&)>;
using MessageAnswer = std::function<int(const MessageBoxRequest&)>;
// The path chosen, or empty to cancel.
using FileAnswer = std::function<QString(const FilePromptRequest&)>;

class ScriptedUser {
public:
    ScriptedUser();
    ~ScriptedUser();
    ScriptedUser(const ScriptedUser&) = delete;
    ScriptedUser& operator=(const ScriptedUser&) = delete;

    // The scripted user that is active now, or null.
    static ScriptedUser* Active();

    // Runs script each time a dialog of this template (or class) opens. A
    // script for the same dialog replaces the earlier one.
    void OnDialog(int templateId, DialogScript script);
    void OnDialog(const std::string& className, DialogScript script);
    // Answers message boxes; without it the default button (OK or Yes) is taken.
    void AnswerMessages(MessageAnswer answer) { m_answer = std::move(answer); }
    // Answers file prompts; without it every prompt is cancelled.
    void AnswerFilePrompts(FileAnswer answer) { m_fileAnswer = std::move(answer); }

    const std::vector<MessageBoxRequest>& Messages() const { return m_messages; }
    const std::vector<FilePromptRequest>& FilePrompts() const { return m_filePrompts; }
    const std::vector<unsigned>& HelpTopics() const { return m_helpTopics; }
    // Dialogs opened, by template id, in order.
    const std::vector<int>& OpenedDialogs() const { return m_opened; }
    // Popup menus shown, in order, with the command taken (0: dismissed).
    struct ShownMenu {
        MenuPopup popup;
        int chosen = 0;
    };
    const std::vector<ShownMenu>& Menus() const { return m_menus; }
    // The command to take from the next popup menu; without one it is dismissed.
    void ChooseNextMenuCommand(int command) { m_menuChoice = command; }

    // Called by the host's services.
    int Answer(const MessageBoxRequest& request);
    QString AnswerFile(const FilePromptRequest& request);
    void RecordHelp(unsigned topic) { m_helpTopics.push_back(topic); }
    // A popup menu: the command chosen when the popup offers it, else 0. A
    // choice serves one menu.
    int ChooseFromMenu(const MenuPopup& popup);
    void DialogOpened(CMC_Dialog* dialog);

private:
    void RunWhenInFront(QPointer<CMC_Dialog> dialog, DialogScript script, int rounds = 0);

    struct Entry {
        int templateId;
        std::string className;
        DialogScript script;
    };
    std::vector<Entry> m_scripts;
    MessageAnswer m_answer;
    FileAnswer m_fileAnswer;
    std::vector<MessageBoxRequest> m_messages;
    std::vector<FilePromptRequest> m_filePrompts;
    std::vector<unsigned> m_helpTopics;
    std::vector<int> m_opened;
    std::vector<ShownMenu> m_menus;
    int m_menuChoice = 0;
    ScriptedUser* m_previous;
};

// Called by CMC_Dialog once a dialog has initialised and shown.
void NotifyDialogOpened(CMC_Dialog* dialog);
