#include "EditSetupDlg.h"

#include "Automation.h"
#include "CanSettingsDlg.h"
#include "Errors.h"
#include "HostServices.h"
#include "MotorEditor.h"
#include "Setup.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTextEdit>
#include <QToolTip>

#include <algorithm>
#include <cmath>

struct CMC_EditSetupDlg::Binding {
    enum class Kind { Value, Check, Radios, Combo, Slider };
    Kind kind = Kind::Value;
    std::string name;
    int editId = 0;
    int unitId = 0;
    int buttonId = 0; // check box, first radio button, combo box or slider
    int lastId = 0;   // last radio button
    int lowerSpinId = 0;
    int upperSpinId = 0;
    double low = 0.0; // slider span [base units]
    double high = 0.0;
};

namespace {

constexpr int kSliderSteps = 1000;

QString Number(double value)
{
    return QString::number(value, 'g', 6);
}

bool ParseNumber(const QString& text, double& value)
{
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value);
}

} // namespace

CMC_EditSetupDlg::CMC_EditSetupDlg(CMC_Setup* setup, int templateId, int flag, QStringList stepTexts,
                                   QWidget* parent)
    : CMC_Dialog(templateId, parent), m_setup(setup), m_flag(flag), m_steps(std::move(stepTexts))
{
}

CMC_EditSetupDlg::~CMC_EditSetupDlg() = default;

CMC_EditSetupDlg::Binding* CMC_EditSetupDlg::Bind(const char* name)
{
    QuietLookup quiet;
    if (!m_setup->FindParameter(name))
        return nullptr;
    m_bindings.push_back(std::make_unique<Binding>());
    m_bindings.back()->name = m_setup->FindParameter(name)->Name();
    return m_bindings.back().get();
}

CMC_Parameter* CMC_EditSetupDlg::Parameter(const Binding& binding) const
{
    QuietLookup quiet;
    return m_setup->FindParameter(binding.name);
}

void CMC_EditSetupDlg::AddParameterControls(const char* name, int editId, int unitComboId)
{
    Binding* binding = Bind(name);
    if (!binding) {
        EnableChild(editId, false);
        EnableChild(unitComboId, false);
        return;
    }
    binding->kind = Binding::Kind::Value;
    binding->editId = editId;
    binding->unitId = unitComboId;
    ConnectEdit(*binding);
    ConnectUnitCombo(*binding);
}

void CMC_EditSetupDlg::AddCheckParameterControls(const char* name, int checkId)
{
    Binding* binding = Bind(name);
    auto* check = Item<QAbstractButton>(checkId);
    if (!binding || !check) {
        EnableChild(checkId, false);
        return;
    }
    binding->kind = Binding::Kind::Check;
    binding->buttonId = checkId;
    const std::string parameter = binding->name;
    connect(check, &QAbstractButton::clicked, this,
            [this, parameter](bool checked) { UserSetsParameter(parameter, checked ? 1.0 : 0.0); });
}

void CMC_EditSetupDlg::AddSwitchParameterControls(const char* name, int firstId, int lastId)
{
    Binding* binding = Bind(name);
    if (!binding) {
        for (int id = firstId; id <= lastId; ++id)
            EnableChild(id, false);
        return;
    }
    binding->kind = Binding::Kind::Radios;
    binding->buttonId = firstId;
    binding->lastId = lastId;
    const std::string parameter = binding->name;
    for (int id = firstId; id <= lastId; ++id) {
        auto* radio = Item<QAbstractButton>(id);
        if (!radio)
            continue;
        const double value = id - firstId;
        connect(radio, &QAbstractButton::clicked, this,
                [this, parameter, value] { UserSetsParameter(parameter, value); });
    }
}

void CMC_EditSetupDlg::AddSwitchParameterControls(const char* name, int comboId)
{
    Binding* binding = Bind(name);
    auto* combo = Item<QComboBox>(comboId);
    if (!binding || !combo) {
        EnableChild(comboId, false);
        return;
    }
    binding->kind = Binding::Kind::Combo;
    binding->buttonId = comboId;
    const std::string parameter = binding->name;
    connect(combo, &QComboBox::activated, this, [this, parameter, combo](int index) {
        if (index >= 0)
            UserSetsParameter(parameter, combo->itemData(index).toDouble());
    });
}

void CMC_EditSetupDlg::AddSliderParameterControls(const char* name, int sliderId, int editId, int unitComboId,
                                                  int lowerSpinId, int upperSpinId)
{
    Binding* binding = Bind(name);
    if (!binding || !Item<QSlider>(sliderId)) {
        for (int id : {sliderId, editId, unitComboId, lowerSpinId, upperSpinId})
            EnableChild(id, false);
        return;
    }
    const CMC_Parameter* p = Parameter(*binding);
    const double value = p->GetValueInBaseUnit();
    binding->kind = Binding::Kind::Slider;
    binding->buttonId = sliderId;
    binding->editId = editId;
    binding->unitId = unitComboId;
    binding->lowerSpinId = lowerSpinId;
    binding->upperSpinId = upperSpinId;
    binding->low = std::max(p->GetMinInBaseUnit(), std::min(0.5 * value, 1.5 * value));
    binding->high = std::min(p->GetMaxInBaseUnit(), std::max(0.5 * value, 1.5 * value));
    ConnectEdit(*binding);
    ConnectUnitCombo(*binding);
    ConnectSlider(*binding);
}

void CMC_EditSetupDlg::ConnectEdit(Binding& binding)
{
    auto* edit = Item<QLineEdit>(binding.editId);
    if (!edit)
        return;
    Binding* b = &binding;
    const int editId = binding.editId;
    connect(edit, &QLineEdit::editingFinished, this, [this, b, editId] { EditFinished(*b, editId); });
}

void CMC_EditSetupDlg::ConnectUnitCombo(Binding& binding)
{
    auto* combo = Item<QComboBox>(binding.unitId);
    if (!combo)
        return;
    const std::string parameter = binding.name;
    connect(combo, &QComboBox::activated, this, [this, parameter, combo](int index) {
        QuietLookup quiet;
        CMC_Parameter* p = m_setup->FindParameter(parameter);
        if (!p || index < 0)
            return;
        p->ChangeUnit(combo->itemText(index).toUtf8().constData());
        OnChangedParameterUnit(parameter.c_str());
        RefreshParameterControls(parameter.c_str());
    });
}

void CMC_EditSetupDlg::ConnectSlider(Binding& binding)
{
    auto* slider = Item<QSlider>(binding.buttonId);
    slider->setRange(0, kSliderSteps);
    Binding* b = &binding;
    auto positionToValue = [b](int position) {
        return b->low + (b->high - b->low) * position / static_cast<double>(kSliderSteps);
    };
    connect(slider, &QSlider::valueChanged, this, [this, b, slider, positionToValue](int position) {
        if (m_refreshing)
            return;
        if (slider->isSliderDown()) {
            const CMC_Parameter* p = Parameter(*b);
            SetChildText(b->editId, Number(p->BaseToDisplay(positionToValue(position))));
            return;
        }
        UserSetsParameter(b->name, positionToValue(position));
    });
    connect(slider, &QSlider::sliderReleased, this, [this, b, slider, positionToValue] {
        UserSetsParameter(b->name, positionToValue(slider->value()));
    });
    auto step = [slider](int direction) {
        slider->setValue(slider->value() + direction * kSliderSteps / 100);
    };
    if (auto* lower = Item<QAbstractButton>(binding.lowerSpinId)) {
        lower->setAutoRepeat(true);
        connect(lower, &QAbstractButton::clicked, this, [step] { step(-1); });
    }
    if (auto* upper = Item<QAbstractButton>(binding.upperSpinId)) {
        upper->setAutoRepeat(true);
        connect(upper, &QAbstractButton::clicked, this, [step] { step(+1); });
    }
}

void CMC_EditSetupDlg::SetHint(int id, const QString& hint)
{
    QWidget* w = GetDlgItem(id);
    if (!w)
        return;
    w->setProperty("hint", hint);
    w->setToolTip(hint);
    w->setStyleSheet(hint.isEmpty() ? QString() : QStringLiteral("QLineEdit { border: 1px solid #c00000; }"));
    if (!hint.isEmpty() && !ScriptedUser::Active() && w->isVisible())
        QToolTip::showText(w->mapToGlobal(QPoint(0, w->height())), hint, w);
}

void CMC_EditSetupDlg::EditFinished(Binding& binding, int editId)
{
    auto* edit = Item<QLineEdit>(editId);
    CMC_Parameter* p = Parameter(binding);
    if (!edit || !p || m_refreshing)
        return;
    const QString shown = Number(p->GetValue());
    if (edit->text().trimmed() == shown)
        return;
    double value = 0.0;
    if (!ParseNumber(edit->text(), value)) {
        SetHint(editId, QStringLiteral("\"%1\" is not a number; the value stays %2 %3.")
                            .arg(edit->text().trimmed(), shown, QString::fromUtf8(p->GetUnitName())));
        Show(binding);
        return;
    }
    const double base = p->DisplayToBase(value);
    if (!p->IsInRange(base)) {
        SetHint(editId, QStringLiteral("Enter a value from %1 to %2 %3; the value stays %4.")
                            .arg(Number(p->BaseToDisplay(p->GetMinInBaseUnit())),
                                 Number(p->BaseToDisplay(p->GetMaxInBaseUnit())),
                                 QString::fromUtf8(p->GetUnitName()), shown));
        Show(binding);
        return;
    }
    SetHint(editId, QString());
    UserSetsParameter(binding.name, base);
}

bool CMC_EditSetupDlg::UserSetsParameter(const std::string& name, double baseValue)
{
    QuietLookup quiet;
    CMC_Parameter* p = m_setup->FindParameter(name);
    if (!p || !p->SetValueInBaseUnit(baseValue)) {
        RefreshParameterControls(name.c_str());
        return false;
    }
    OnChangedParameterValue(name.c_str());
    RefreshParameterControls(name.c_str());
    OnRefreshParameterValue(name.c_str());
    return true;
}

void CMC_EditSetupDlg::ShowUnits(const Binding& binding)
{
    auto* combo = Item<QComboBox>(binding.unitId);
    const CMC_Parameter* p = Parameter(binding);
    if (!combo || !p)
        return;
    combo->clear();
    for (const auto& unit : p->UnitType().GetUnits())
        combo->addItem(QString::fromStdString(unit.name));
    combo->setCurrentIndex(p->UnitType().FindUnit(p->GetUnitName()));
}

void CMC_EditSetupDlg::Show(const Binding& binding)
{
    const CMC_Parameter* p = Parameter(binding);
    if (!p)
        return;
    const bool wasRefreshing = m_refreshing;
    m_refreshing = true;
    switch (binding.kind) {
    case Binding::Kind::Slider:
        if (auto* slider = Item<QSlider>(binding.buttonId)) {
            const double span = binding.high - binding.low;
            const double base = p->GetValueInBaseUnit();
            slider->setValue(
                span > 0 ? static_cast<int>(std::lround((base - binding.low) / span * kSliderSteps)) : 0);
        }
        [[fallthrough]];
    case Binding::Kind::Value:
        if (auto* edit = Item<QLineEdit>(binding.editId))
            edit->setText(Number(p->GetValue()));
        ShowUnits(binding);
        break;
    case Binding::Kind::Check:
        CheckDlgButton(binding.buttonId, std::trunc(p->GetValueInBaseUnit()) == 1.0);
        break;
    case Binding::Kind::Radios:
        for (int id = binding.buttonId; id <= binding.lastId; ++id)
            CheckDlgButton(id, std::trunc(p->GetValueInBaseUnit()) == id - binding.buttonId);
        break;
    case Binding::Kind::Combo:
        if (auto* combo = Item<QComboBox>(binding.buttonId)) {
            int selected = -1;
            for (int i = 0; i < combo->count(); ++i)
                if (combo->itemData(i).toDouble() == p->GetValueInBaseUnit())
                    selected = i;
            combo->setCurrentIndex(selected);
        }
        break;
    }
    m_refreshing = wasRefreshing;
}

void CMC_EditSetupDlg::RefreshAllParameters(int)
{
    for (const auto& binding : m_bindings)
        Show(*binding);
}

void CMC_EditSetupDlg::RefreshParameterControls(const char* name)
{
    for (const auto& binding : m_bindings)
        if (EqualsIgnoringCase(binding->name, name))
            Show(*binding);
}

void CMC_EditSetupDlg::OnChangedParameterValue(const char*) {}

void CMC_EditSetupDlg::OnChangedParameterUnit(const char*) {}

void CMC_EditSetupDlg::OnRefreshParameterValue(const char*) {}

int CMC_EditSetupDlg::OnInitDialog()
{
    RefreshAllParameters(0);
    ShowStep();
    if (m_motorEditor)
        m_motorEditor->Initialize();
    return 1;
}

void CMC_EditSetupDlg::ShowStep()
{
    if (m_steps.isEmpty())
        return;
    m_step = std::clamp(m_step, 0, static_cast<int>(m_steps.size()) - 1);
    SetChildText(10007, m_steps[m_step]);
    EnableChild(10005, m_step > 0);
    EnableChild(10006, m_step + 1 < m_steps.size());
}

bool CMC_EditSetupDlg::OnCommand(int id)
{
    if (!m_steps.isEmpty() && (id == 10005 || id == 10006)) {
        m_step += id == 10006 ? 1 : -1;
        ShowStep();
        return true;
    }
    if (id == 10022 && HasItem(10022)) {
        const auto* rates = Item<QComboBox>(10021);
        CMC_CanSettingsDlg settings(m_setup, rates == nullptr || rates->isEnabled(), this);
        if (settings.DoModal() == IDOK)
            FillBaudRateCombo(Item<QComboBox>(10021), ReadCanSettings(*m_setup).baudRate);
        return true;
    }
    if (m_motorEditor && m_motorEditor->OnCommand(id))
        return true;
    return CMC_Dialog::OnCommand(id);
}

void CMC_EditSetupDlg::EnableCANSettings()
{
    for (int id : {10020, 10021, 10022, 10023})
        EnableChild(id, true);
    auto* combo = Item<QComboBox>(10021);
    if (!combo)
        return;
    FillBaudRateCombo(combo, ReadCanSettings(*m_setup).baudRate);
    connect(combo, &QComboBox::activated, this, [this, combo](int index) {
        m_setup->SetOption("CANBaudRate", combo->itemData(index).toString().toStdString());
    });
}

void CMC_EditSetupDlg::InitializeMotorEditor()
{
    m_motorEditor = std::make_unique<MotorEditor>(*this);
}
