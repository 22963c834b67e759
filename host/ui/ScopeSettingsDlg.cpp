#include "ScopeSettingsDlg.h"

#include "HostServices.h"
#include "Setup.h"
#include "Variable.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

QString NumberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// A unit's name as a person reads it: a value without unit is in the drive's internal units.
QString UnitCaption(const std::string& unit)
{
    return unit.empty() ? QStringLiteral("IU") : QString::fromStdString(unit);
}

} // namespace

CMC_ScopeSettingsDlg::CMC_ScopeSettingsDlg(const CMC_Setup* setup, ScopeSettings settings, QWidget* parent)
    : CMC_Dialog(kTemplate, parent), m_setup(setup), m_settings(std::move(settings))
{
}

void CMC_ScopeSettingsDlg::FillCombo(int id, const std::vector<std::pair<QString, QVariant>>& items,
                                     const QVariant& selected)
{
    auto* combo = Item<QComboBox>(id);
    if (combo == nullptr)
        return;
    combo->clear();
    for (const auto& [text, data] : items)
        combo->addItem(text, data);
    combo->setCurrentIndex(std::max(combo->findData(selected), 0));
}

int CMC_ScopeSettingsDlg::OnInitDialog()
{
    SetChildText(kTimeSpan, NumberText(m_settings.timeSpan));
    FillCombo(kTriggerMode,
              {{QStringLiteral("Auto"), int{ScopeSettings::TriggerAuto}},
               {QStringLiteral("Normal"), int{ScopeSettings::TriggerNormal}},
               {QStringLiteral("Single"), int{ScopeSettings::TriggerSingle}}},
              m_settings.triggerMode);
    FillCombo(kTriggerSlope,
              {{QStringLiteral("Rising"), int{ScopeSettings::SlopeRising}},
               {QStringLiteral("Falling"), int{ScopeSettings::SlopeFalling}}},
              m_settings.triggerSlope);
    std::vector<std::pair<QString, QVariant>> sources{{QStringLiteral("(none)"), QString()}};
    for (const ScopeChannel& channel : m_settings.channels)
        sources.emplace_back(QString::fromStdString(channel.variable),
                             QString::fromStdString(channel.variable));
    FillCombo(kTriggerVariable, sources, QString::fromStdString(m_settings.triggerVariable));
    SetChildText(kTriggerLevel, NumberText(m_settings.triggerLevel));
    SetChildText(kPreTrigger, QString::number(m_settings.preTrigger));
    ShowLevelUnit();

    for (int n = 1; n <= kMaxChannels; ++n) {
        const bool shown = n <= static_cast<int>(m_settings.channels.size());
        for (int id : {ChannelName(n), ChannelUnit(n), ChannelDivision(n), ChannelOffset(n)})
            ShowChild(id, shown);
        if (!shown)
            continue;
        const ScopeChannel& channel = m_settings.channels[static_cast<std::size_t>(n - 1)];
        SetChildText(ChannelName(n), QString::fromStdString(channel.variable));
        std::vector<std::pair<QString, QVariant>> units;
        if (const CMC_Variable* variable = m_setup->FindVariable(channel.variable, 0))
            for (const CMC_Unit& unit : variable->UnitType().GetUnits())
                units.emplace_back(UnitCaption(unit.name), QString::fromStdString(unit.name));
        FillCombo(ChannelUnit(n), units, QString::fromStdString(channel.unit));
        SetChildText(ChannelDivision(n), NumberText(channel.division));
        SetChildText(ChannelOffset(n), NumberText(channel.offset));
    }
    adjustSize(); // without the rows of channels it does not have
    return 1;
}

void CMC_ScopeSettingsDlg::OnSelChange(int id)
{
    if (id == kTriggerVariable)
        ShowLevelUnit();
}

QVariant CMC_ScopeSettingsDlg::SelectedData(int id) const
{
    const auto* combo = Item<QComboBox>(id);
    return combo != nullptr ? combo->currentData() : QVariant();
}

void CMC_ScopeSettingsDlg::ShowLevelUnit()
{
    const std::string name = SelectedData(kTriggerVariable).toString().toStdString();
    const CMC_Variable* variable = name.empty() ? nullptr : m_setup->FindVariable(name, 0);
    SetChildText(kLevelUnit,
                 variable != nullptr ? UnitCaption(variable->UnitType().GetBaseUnit()) : QString());
}

bool CMC_ScopeSettingsDlg::ReadNumber(int id, const char* what, double& value)
{
    bool ok = false;
    const double read = QLocale::c().toDouble(GetChildText(id).trimmed(), &ok);
    if (ok && std::isfinite(read)) {
        value = read;
        return true;
    }
    ShowMessageBox(QStringLiteral("The %1 is not a number.").arg(QString::fromUtf8(what)),
                   MB_OK | MB_ICONWARNING);
    if (QWidget* control = GetDlgItem(id))
        control->setFocus();
    return false;
}

bool CMC_ScopeSettingsDlg::ReadEntries(ScopeSettings& settings)
{
    double preTrigger = 0.0;
    if (!ReadNumber(kTimeSpan, "time span", settings.timeSpan) ||
        !ReadNumber(kTriggerLevel, "trigger level", settings.triggerLevel) ||
        !ReadNumber(kPreTrigger, "pre-trigger", preTrigger))
        return false;
    if (preTrigger != std::trunc(preTrigger) || preTrigger < 0.0 || preTrigger > 100.0) {
        ShowMessageBox(QStringLiteral("The pre-trigger is a whole number of per cent from 0 to 100."),
                       MB_OK | MB_ICONWARNING);
        return false;
    }
    settings.preTrigger = static_cast<int>(preTrigger);
    settings.triggerMode = SelectedData(kTriggerMode).toInt();
    settings.triggerSlope = SelectedData(kTriggerSlope).toInt();
    settings.triggerVariable = SelectedData(kTriggerVariable).toString().toStdString();
    const int shown = std::min(static_cast<int>(settings.channels.size()), static_cast<int>(kMaxChannels));
    for (int n = 1; n <= shown; ++n) {
        ScopeChannel& channel = settings.channels[static_cast<std::size_t>(n - 1)];
        const std::string name = "division of " + channel.variable;
        const std::string offset = "offset of " + channel.variable;
        if (!ReadNumber(ChannelDivision(n), name.c_str(), channel.division) ||
            !ReadNumber(ChannelOffset(n), offset.c_str(), channel.offset))
            return false;
        channel.unit = SelectedData(ChannelUnit(n)).toString().toStdString();
    }
    return true;
}

void CMC_ScopeSettingsDlg::OnOK()
{
    ScopeSettings settings = m_settings;
    if (!ReadEntries(settings))
        return;
    if (const std::string problem = ScopeSettingsProblem(settings); !problem.empty()) {
        ShowMessageBox(
            QStringLiteral("These scope settings cannot be used: %1.").arg(QString::fromStdString(problem)),
            MB_OK | MB_ICONWARNING);
        return;
    }
    m_settings = std::move(settings);
    EndDialog(IDOK);
}
