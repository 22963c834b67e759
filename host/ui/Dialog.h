// The host's modal dialog: a template loaded from a Qt Designer file, controls
// addressed by their numeric ids, one-shot timers by id, commands by id, and
// display exchange. Setup and test dialogs derive from it.
#pragma once

#include "DialogResults.h"

#include <QDialog>
#include <QString>

#include <map>
#include <string>

class QTimer;

class CMC_Dialog : public QDialog {
public:
    // Loads template templateId from the registered templates; a missing
    // template leaves an empty dialog and reports the error.
    CMC_Dialog(int templateId, QWidget* parent);
    ~CMC_Dialog() override;

    // Runs the dialog modally; IDOK when it ended with OK.
    int DoModal();
    void EndDialog(int result);
    int GetTemplateId() const { return m_templateId; }
    // The dialog's class name, for the scripted user and messages.
    std::string ClassName() const;

    QWidget* GetDlgItem(int id) const;
    template <typename T> T* Item(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }
    bool HasItem(int id) const { return GetDlgItem(id) != nullptr; }

    void EnableChild(int id, bool enable, int unused = 0);
    void ShowChild(int id, bool show);
    // Lists of ids end with 0.
    void EnableChildren(const int* ids, bool enable, int unused = 0);
    void ShowChildren(const int* ids, bool show);
    void SetChildText(int id, const QString& text);
    QString GetChildText(int id) const;
    // Shows a picture of the module's resources on a button or a label.
    void SetButtonImage(int id, const char* imageName);
    // Tab controls (a tab bar: the dialog shows and hides the pages' controls
    // itself). Selecting by code does not notify OnTabSelChange.
    void InsertTabItem(int id, int index, const QString& text);
    void SetCurSel(int id, int index);
    int GetCurSel(int id) const;

    bool IsDlgButtonChecked(int id) const;
    void CheckDlgButton(int id, bool check);

    // One-shot timers: OnTimer(id) runs once, ms milliseconds later (at once in
    // instant mode, see SetInstantTimers). Setting a running timer restarts it.
    // Returns 0 when the timer cannot be created (see TimerRefusal), with the
    // reason in GetLastErrorText(); else non-zero.
    int SetTimer(int id, int milliseconds);
    void KillTimer(int id);
    bool IsTimerActive(int id) const;
    bool HasActiveTimers() const;
    // Tests and automatic runs let every timer fire at once, so nothing waits.
    static void SetInstantTimers(bool instant);

    // Display exchange: moves data between controls and the dialog; returns
    // false when a value was refused.
    bool UpdateData(bool saveAndValidate = true);

    // Escape or the window's close box: the dialog's OnCancel.
    void reject() override;

    // A command from outside the dialog's controls (a host menu, say): goes to
    // OnCommand as a click would. Returns true when the dialog handled it.
    bool SendCommand(int id) { return OnCommand(id); }
    // Hands a message from one of the dialog's windows to OnWindowMessage
    // (a scope graph's scale step, see GraphWindow.h).
    void SendWindowMessage(int message, unsigned wParam, unsigned lParam);
    // Shows the popup subMenuIndex of menu resource menuId (MenuResource.h)
    // at globalPos; the command chosen goes to OnCommand. Returns it, or 0
    // when the menu was dismissed or is missing (reported). While a scripted
    // user is active nothing waits: it takes the command its script chose.
    int TrackPopupMenu(int menuId, int subMenuIndex, const QPoint& globalPos);

protected:
    virtual int OnInitDialog() { return 1; }
    virtual void DoDataExchange(bool /*saveAndValidate*/) {}
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnTimer(int /*id*/) {}
    // A button with an id was pressed (also check boxes and radio buttons).
    // Returns true when handled; 1 and 2 end the dialog by default.
    virtual bool OnCommand(int id);
    // The selection of a combo box with an id changed by the user.
    virtual void OnSelChange(int /*id*/) {}
    // The user selected another tab of the tab control with an id.
    virtual void OnTabSelChange(int /*id*/) {}
    // Every key press reaches this first; return true to swallow it.
    virtual bool PreTranslateKey(int /*key*/, Qt::KeyboardModifiers /*modifiers*/) { return false; }
    // Runs when the dialog is closed by any means (OK, Cancel, window close).
    virtual void OnDestroyDialog() {}
    // A right click over a control (or anything inside it, a graph say);
    // globalPos is where on the screen. A dialog shows its menu from here.
    virtual void OnContextMenu(QWidget* /*control*/, const QPoint& /*globalPos*/) {}
    // A message SendWindowMessage passed on.
    virtual void OnWindowMessage(int /*message*/, unsigned /*wParam*/, unsigned /*lParam*/) {}

    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QWidget* Content() const { return m_content; }

private:
    void LoadTemplate();
    void IndexControls(QWidget* root);
    void ConnectCommands();
    // The control with an id that is widget or holds it; null when none.
    QWidget* ControlOf(QWidget* widget) const;

    int m_templateId;
    QWidget* m_content = nullptr;
    std::map<int, QWidget*> m_controls;
    std::map<int, QTimer*> m_timers;
    bool m_initialised = false;
    bool m_ending = false;
    bool m_selectingTab = false;
};

// While one lives, no dialog can create a timer, except the first `allowed`
// asked for: SetTimer fails with `reason`. Tests use it to see how a dialog
// copes with a system that has run out of timers.
class TimerRefusal {
public:
    explicit TimerRefusal(std::string reason, int allowed = 0);
    ~TimerRefusal();
    TimerRefusal(const TimerRefusal&) = delete;
    TimerRefusal& operator=(const TimerRefusal&) = delete;
};

// Where dialog templates and pictures come from: Qt resources of the module,
// ":/templates/<id>.ui" and ":/pictures/<name>.svg".
QString TemplatePath(int templateId);
QString PicturePath(const char* imageName);
