#include "Automation.h"

#include "Dialog.h"
#include "GraphWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTabBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
ScriptedUser* g_active = nullptr;
// Turns of the event loop a script waits for the dialog's own timers.
constexpr int kSettleRounds = 1000;
} // namespace

int DialogDriver::TemplateId() const
{
    return m_dialog->GetTemplateId();
}

void DialogDriver::SetEditText(int id, const QString& text)
{
    auto* edit = m_dialog->Item<QLineEdit>(id);
    if (!edit || !edit->isEnabled())
        return;
    edit->setFocus();
    edit->setText(text);
    Q_EMIT edit->textEdited(text);
    Q_EMIT edit->editingFinished();
}

void DialogDriver::SelectComboIndex(int id, int index)
{
    auto* combo = m_dialog->Item<QComboBox>(id);
    if (!combo || !combo->isEnabled() || index < 0 || index >= combo->count())
        return;
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

void DialogDriver::SelectComboText(int id, const QString& text)
{
    auto* combo = m_dialog->Item<QComboBox>(id);
    if (combo)
        SelectComboIndex(id, combo->findText(text));
}

void DialogDriver::SelectTab(int id, int index)
{
    auto* tabs = m_dialog->Item<QTabBar>(id);
    if (tabs && tabs->isEnabled() && index >= 0 && index < tabs->count())
        tabs->setCurrentIndex(index);
}

int DialogDriver::CurrentTab(int id) const
{
    return m_dialog->GetCurSel(id);
}

void DialogDriver::Click(int id)
{
    auto* button = m_dialog->Item<QAbstractButton>(id);
    if (button && button->isEnabled())
        button->click();
}

void DialogDriver::PressKey(int key, Qt::KeyboardModifiers modifiers)
{
    QWidget* target = m_dialog->focusWidget() ? m_dialog->focusWidget() : m_dialog;
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

void DialogDriver::Cancel()
{
    if (m_dialog->HasItem(2))
        Click(2);
    else
        m_dialog->reject();
}

bool DialogDriver::ChooseMenuCommand(int controlId, int commandId)
{
    ScriptedUser* user = ScriptedUser::Active();
    QWidget* control = m_dialog->GetDlgItem(controlId);
    if (user == nullptr || control == nullptr || control->isHidden())
        return false;
    const QPoint middle = control->rect().center();
    QWidget* target = control->childAt(middle);
    if (target == nullptr)
        target = control;
    const QPoint local = target->mapFrom(control, middle);
    QContextMenuEvent event(QContextMenuEvent::Mouse, local, target->mapToGlobal(local));
    const std::size_t shown = user->Menus().size();
    user->ChooseNextMenuCommand(commandId);
    QApplication::sendEvent(target, &event);
    user->ChooseNextMenuCommand(0);
    return user->Menus().size() > shown && user->Menus()[shown].chosen == commandId;
}

bool DialogDriver::StepScopeChannel(int controlId, int channel, int code)
{
    QWidget* control = m_dialog->GetDlgItem(controlId);
    auto* button = control != nullptr
                       ? control->findChild<QAbstractButton*>(ScaleStepButtonName(channel, code))
                       : nullptr;
    if (button == nullptr || !button->isEnabled())
        return false;
    button->click();
    return true;
}

bool DialogDriver::WaitUntil(const std::function<bool()>& done, int maxRounds)
{
    for (int round = 0; round < maxRounds; ++round) {
        if (done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
    }
    return done();
}

EveryTurn::EveryTurn(std::function<bool()> act)
{
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [this, act = std::move(act)] {
        if (act())
            m_timer.stop();
    });
    m_timer.start();
}

bool DialogDriver::Exists(int id) const
{
    return m_dialog->HasItem(id);
}

bool DialogDriver::IsEnabled(int id) const
{
    QWidget* w = m_dialog->GetDlgItem(id);
    return w && w->isEnabled();
}

bool DialogDriver::IsVisible(int id) const
{
    QWidget* w = m_dialog->GetDlgItem(id);
    return w && !w->isHidden();
}

bool DialogDriver::IsChecked(int id) const
{
    return m_dialog->IsDlgButtonChecked(id);
}

QString DialogDriver::Text(int id) const
{
    return m_dialog->GetChildText(id);
}

int DialogDriver::ComboCount(int id) const
{
    auto* combo = m_dialog->Item<QComboBox>(id);
    return combo ? combo->count() : 0;
}

QString DialogDriver::ComboItemText(int id, int index) const
{
    auto* combo = m_dialog->Item<QComboBox>(id);
    return combo ? combo->itemText(index) : QString();
}

QString DialogDriver::Hint(int id) const
{
    QWidget* w = m_dialog->GetDlgItem(id);
    return w ? w->property("hint").toString() : QString();
}

ScriptedUser::ScriptedUser() : m_previous(g_active)
{
    g_active = this;
    CMC_Dialog::SetInstantTimers(true);
}

ScriptedUser::~ScriptedUser()
{
    g_active = m_previous;
    CMC_Dialog::SetInstantTimers(m_previous != nullptr);
}

ScriptedUser* ScriptedUser::Active()
{
    return g_active;
}

void ScriptedUser::OnDialog(int templateId, DialogScript script)
{
    for (auto& entry : m_scripts)
        if (entry.templateId == templateId && entry.className.empty()) {
            entry.script = std::move(script);
            return;
        }
    m_scripts.push_back({templateId, {}, std::move(script)});
}

void ScriptedUser::OnDialog(const std::string& className, DialogScript script)
{
    for (auto& entry : m_scripts)
        if (entry.className == className) {
            entry.script = std::move(script);
            return;
        }
    m_scripts.push_back({0, className, std::move(script)});
}

int ScriptedUser::Answer(const MessageBoxRequest& request)
{
    m_messages.push_back(request);
    if (m_answer)
        return m_answer(request);
    const unsigned buttons = request.type & 0x0F;
    return (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) ? IDYES : IDOK;
}

int ScriptedUser::ChooseFromMenu(const MenuPopup& popup)
{
    const int choice = std::exchange(m_menuChoice, 0);
    const bool offered = std::any_of(popup.items.begin(), popup.items.end(),
                                     [choice](const MenuItem& item) { return item.command == choice; });
    m_menus.push_back({popup, offered ? choice : 0});
    return m_menus.back().chosen;
}

QString ScriptedUser::AnswerFile(const FilePromptRequest& request)
{
    m_filePrompts.push_back(request);
    return m_fileAnswer ? m_fileAnswer(request) : QString();
}

void ScriptedUser::DialogOpened(CMC_Dialog* dialog)
{
    m_opened.push_back(dialog->GetTemplateId());
    DialogScript script;
    const std::string className = dialog->ClassName();
    // A script for the dialog's class goes before one for its template.
    for (const auto& entry : m_scripts)
        if (entry.className.empty() && entry.templateId == dialog->GetTemplateId())
            script = entry.script;
    for (const auto& entry : m_scripts)
        if (!entry.className.empty() && entry.className == className)
            script = entry.script;
    RunWhenInFront(dialog, std::move(script));
}

void ScriptedUser::RunWhenInFront(QPointer<CMC_Dialog> guard, DialogScript script, int rounds)
{
    // A real zero-length timer, not a posted event: timers the dialog started
    // while opening (its own one-shot timers) fire first. While another modal
    // dialog is in front, the script waits for it to close, as a person would.
    auto* timer = new QTimer(guard);
    timer->setSingleShot(true);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, guard, [this, guard, script, timer, rounds] {
        timer->deleteLater();
        if (!guard || !guard->isVisible())
            return;
        // Its own timers (opening another dialog, say) run first, for a while.
        QWidget* front = QApplication::activeModalWidget();
        if ((front && front != guard) || (guard->HasActiveTimers() && rounds < kSettleRounds)) {
            RunWhenInFront(guard, script, front && front != guard ? 0 : rounds + 1);
            return;
        }
        if (script) {
            DialogDriver driver(guard);
            script(driver);
        }
        // A script does all its work before it returns; whatever it left
        // open is cancelled, so no run ever waits for a person.
        if (guard && guard->isVisible())
            guard->reject();
    });
    timer->start();
}

void NotifyDialogOpened(CMC_Dialog* dialog)
{
    if (g_active)
        g_active->DialogOpened(dialog);
}
