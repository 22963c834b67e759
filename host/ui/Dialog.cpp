#include "Dialog.h"

#include "Automation.h"
#include "Errors.h"
#include "MenuResource.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopedValueRollback>
#include <QTabBar>
#include <QTextEdit>
#include <QTimer>
#include <QUiLoader>
#include <QVBoxLayout>
#include <QVariant>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <utility>

namespace {
bool g_instantTimers = false;
// Set while a TimerRefusal lives.
struct RefusedTimers {
    bool active = false;
    std::string reason;
    int allowed = 0;
} g_refusedTimers;

// Whether the next timer may be created; false when a TimerRefusal holds it back.
bool MayCreateTimer()
{
    if (!g_refusedTimers.active)
        return true;
    if (g_refusedTimers.allowed > 0) {
        --g_refusedTimers.allowed;
        return true;
    }
    SetLastErrorText(g_refusedTimers.reason);
    return false;
}
} // namespace

TimerRefusal::TimerRefusal(std::string reason, int allowed)
{
    g_refusedTimers = {true, std::move(reason), allowed};
}

TimerRefusal::~TimerRefusal()
{
    g_refusedTimers = {};
}

QString TemplatePath(int templateId)
{
    return QStringLiteral(":/templates/%1.ui").arg(templateId);
}

QString PicturePath(const char* imageName)
{
    return QStringLiteral(":/pictures/%1.svg").arg(QString::fromUtf8(imageName));
}

CMC_Dialog::CMC_Dialog(int templateId, QWidget* parent) : QDialog(parent), m_templateId(templateId)
{
    LoadTemplate();
    installEventFilter(this);
}

CMC_Dialog::~CMC_Dialog() = default;

namespace {

// The template loader, with the tab bar that tab controls are made of (the
// stock loader only makes tab widgets with pages).
class TemplateLoader final : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        if (className != QLatin1String("QTabBar"))
            return QUiLoader::createWidget(className, parent, name);
        auto* tabs = new QTabBar(parent);
        tabs->setObjectName(name);
        return tabs;
    }
};

} // namespace

void CMC_Dialog::LoadTemplate()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    QFile file(TemplatePath(m_templateId));
    if (!file.open(QIODevice::ReadOnly)) {
        ReportError("The dialog template " + std::to_string(m_templateId) + " is missing.");
        return;
    }
    TemplateLoader loader;
    m_content = loader.load(&file, this);
    if (!m_content) {
        ReportError("The dialog template " + std::to_string(m_templateId) +
                    " cannot be read: " + loader.errorString().toStdString());
        return;
    }
    layout->addWidget(m_content);
    setWindowTitle(m_content->windowTitle());
    IndexControls(m_content);
}

void CMC_Dialog::IndexControls(QWidget* root)
{
    const auto widgets = root->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        const QVariant id = w->property("id");
        if (id.isValid())
            m_controls[id.toInt()] = w;
        w->installEventFilter(this);
    }
}

void CMC_Dialog::ConnectCommands()
{
    for (const auto& [id, widget] : m_controls) {
        const int controlId = id;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            connect(button, &QAbstractButton::clicked, this, [this, controlId] { OnCommand(controlId); });
        else if (auto* combo = qobject_cast<QComboBox*>(widget))
            connect(combo, &QComboBox::activated, this, [this, controlId] { OnSelChange(controlId); });
        else if (auto* tabs = qobject_cast<QTabBar*>(widget))
            connect(tabs, &QTabBar::currentChanged, this, [this, controlId] {
                if (!m_selectingTab)
                    OnTabSelChange(controlId);
            });
    }
}

std::string CMC_Dialog::ClassName() const
{
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    return status == 0 && demangled ? demangled.get() : mangled;
}

int CMC_Dialog::DoModal()
{
    return exec();
}

void CMC_Dialog::EndDialog(int result)
{
    done(result);
}

void CMC_Dialog::done(int result)
{
    if (m_ending)
        return;
    m_ending = true;
    for (auto& [id, timer] : m_timers)
        timer->stop();
    OnDestroyDialog();
    QDialog::done(result);
    m_ending = false;
}

void CMC_Dialog::reject()
{
    OnCancel();
}

void CMC_Dialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_initialised)
        return;
    m_initialised = true;
    // Connected now, after the derived dialog's bindings: a check box stores
    // its value before the dialog hears of the click.
    ConnectCommands();
    OnInitDialog();
    NotifyDialogOpened(this);
}

bool CMC_Dialog::eventFilter(QObject* watched, QEvent* event)
{
    // A key a control ignores travels on to its parents: only its first
    // receiver, the focus widget, hands it to the dialog.
    const QWidget* first = focusWidget() ? focusWidget() : this;
    if (event->type() == QEvent::KeyPress && watched == first) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (PreTranslateKey(key->key(), key->modifiers()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CMC_Dialog::contextMenuEvent(QContextMenuEvent* event)
{
    // A right click that no control took (an edit box shows its own menu)
    // goes to the dialog for the control under it.
    if (QWidget* control = ControlOf(childAt(event->pos()))) {
        OnContextMenu(control, event->globalPos());
        event->accept();
        return;
    }
    QDialog::contextMenuEvent(event);
}

QWidget* CMC_Dialog::ControlOf(QWidget* widget) const
{
    for (QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget())
        if (const QVariant id = w->property("id"); id.isValid() && GetDlgItem(id.toInt()) == w)
            return w;
    return nullptr;
}

void CMC_Dialog::SendWindowMessage(int message, unsigned wParam, unsigned lParam)
{
    OnWindowMessage(message, wParam, lParam);
}

int CMC_Dialog::TrackPopupMenu(int menuId, int subMenuIndex, const QPoint& globalPos)
{
    MenuResource menu;
    QString error;
    if (!LoadMenuResource(menuId, menu, error)) {
        ReportError(error.toStdString());
        return 0;
    }
    if (subMenuIndex < 0 || subMenuIndex >= static_cast<int>(menu.popups.size())) {
        ReportError("The menu " + std::to_string(menuId) + " has no popup " + std::to_string(subMenuIndex) +
                    ".");
        return 0;
    }
    const MenuPopup& popup = menu.popups[static_cast<std::size_t>(subMenuIndex)];
    int command = 0;
    if (ScriptedUser* user = ScriptedUser::Active()) {
        command = user->ChooseFromMenu(popup);
    } else {
        // The menu waits for the person in its own loop: the dialog may be
        // gone when it returns.
        const QPointer<CMC_Dialog> alive(this);
        QMenu shown;
        FillMenu(shown, popup);
        const QAction* chosen = shown.exec(globalPos);
        command = chosen != nullptr && alive ? chosen->data().toInt() : 0;
    }
    if (command != 0)
        OnCommand(command);
    return command;
}

bool CMC_Dialog::OnCommand(int id)
{
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

QWidget* CMC_Dialog::GetDlgItem(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CMC_Dialog::EnableChild(int id, bool enable, int)
{
    if (QWidget* w = GetDlgItem(id))
        w->setEnabled(enable);
}

void CMC_Dialog::ShowChild(int id, bool show)
{
    if (QWidget* w = GetDlgItem(id))
        w->setVisible(show);
}

void CMC_Dialog::EnableChildren(const int* ids, bool enable, int)
{
    for (; ids && *ids; ++ids)
        EnableChild(*ids, enable);
}

void CMC_Dialog::ShowChildren(const int* ids, bool show)
{
    for (; ids && *ids; ++ids)
        ShowChild(*ids, show);
}

void CMC_Dialog::SetChildText(int id, const QString& text)
{
    QWidget* w = GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        plain->setPlainText(text);
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        rich->setPlainText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (w)
        w->setWindowTitle(text);
}

QString CMC_Dialog::GetChildText(int id) const
{
    QWidget* w = GetDlgItem(id);
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        return plain->toPlainText();
    if (auto* rich = qobject_cast<QTextEdit*>(w))
        return rich->toPlainText();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    return w ? w->windowTitle() : QString();
}

void CMC_Dialog::SetButtonImage(int id, const char* imageName)
{
    QWidget* w = GetDlgItem(id);
    const QString path = PicturePath(imageName);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setIcon(QIcon(path));
        button->setIconSize(QSize(32, 32));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setPixmap(QIcon(path).pixmap(label->size().isValid() ? label->size() : QSize(64, 64)));
    }
}

void CMC_Dialog::InsertTabItem(int id, int index, const QString& text)
{
    if (auto* tabs = Item<QTabBar>(id)) {
        const QScopedValueRollback<bool> quiet(m_selectingTab, true);
        tabs->insertTab(index, text);
    }
}

void CMC_Dialog::SetCurSel(int id, int index)
{
    if (auto* tabs = Item<QTabBar>(id)) {
        const QScopedValueRollback<bool> quiet(m_selectingTab, true);
        tabs->setCurrentIndex(index);
    }
}

int CMC_Dialog::GetCurSel(int id) const
{
    auto* tabs = Item<QTabBar>(id);
    return tabs ? tabs->currentIndex() : -1;
}

bool CMC_Dialog::IsDlgButtonChecked(int id) const
{
    auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
    return button && button->isChecked();
}

void CMC_Dialog::CheckDlgButton(int id, bool check)
{
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id)))
        button->setChecked(check);
}

void CMC_Dialog::SetInstantTimers(bool instant)
{
    g_instantTimers = instant;
}

int CMC_Dialog::SetTimer(int id, int milliseconds)
{
    if (!MayCreateTimer())
        return 0;
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->start(g_instantTimers ? 0 : milliseconds);
    return 1;
}

void CMC_Dialog::KillTimer(int id)
{
    auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->stop();
}

bool CMC_Dialog::IsTimerActive(int id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

bool CMC_Dialog::HasActiveTimers() const
{
    for (const auto& [id, timer] : m_timers)
        if (timer->isActive())
            return true;
    return false;
}

bool CMC_Dialog::UpdateData(bool saveAndValidate)
{
    DoDataExchange(saveAndValidate);
    return true;
}
