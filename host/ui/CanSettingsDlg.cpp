#include "CanSettingsDlg.h"

#include "HostServices.h"
#include "Setup.h"

#include <QComboBox>

#include <algorithm>

namespace {

// The edit boxes and the settings they hold.
struct Entry {
    int id;
    const char* option;
};
constexpr Entry kEntries[] = {
    {CMC_CanSettingsDlg::kNodeId, "CANNodeId"},
    {CMC_CanSettingsDlg::kHeartbeatTime, "CANHeartbeatTime"},
    {CMC_CanSettingsDlg::kSdoTimeout, "CANSdoTimeout"},
};

} // namespace

void FillBaudRateCombo(QComboBox* combo, int rate)
{
    if (combo == nullptr)
        return;
    combo->clear();
    for (const CanBaudRate& listed : CanBaudRates())
        combo->addItem(QString::fromUtf8(listed.caption), listed.bitsPerSecond);
    combo->setCurrentIndex(std::max(0, combo->findData(rate)));
}

CMC_CanSettingsDlg::CMC_CanSettingsDlg(CMC_Setup* setup, bool baudRateEditable, QWidget* parent)
    : CMC_Dialog(kTemplate, parent), m_setup(setup), m_baudRateEditable(baudRateEditable)
{
}

int CMC_CanSettingsDlg::OnInitDialog()
{
    const CanSettings settings = ReadCanSettings(*m_setup);
    for (const Entry& entry : kEntries)
        SetChildText(entry.id, QString::number(settings.*FindCanOption(entry.option)->field));
    FillBaudRateCombo(Item<QComboBox>(kBaudRate), settings.baudRate);
    EnableChild(kBaudRate, m_baudRateEditable);
    return 1;
}

bool CMC_CanSettingsDlg::ReadEntry(int id, const CanOption& option, CanSettings& settings)
{
    const QString text = GetChildText(id).trimmed();
    if (const auto value = ParseCanOption(option, text.toStdString())) {
        settings.*option.field = *value;
        return true;
    }
    ShowMessageBox(
        QStringLiteral("\"%1\" cannot be used: %2.").arg(text, QString::fromStdString(CanOptionRule(option))),
        MB_OK | MB_ICONWARNING);
    if (QWidget* control = GetDlgItem(id))
        control->setFocus();
    return false;
}

void CMC_CanSettingsDlg::OnOK()
{
    CanSettings settings = ReadCanSettings(*m_setup);
    for (const Entry& entry : kEntries)
        if (!ReadEntry(entry.id, *FindCanOption(entry.option), settings))
            return;
    if (const auto* combo = Item<QComboBox>(kBaudRate);
        m_baudRateEditable && combo != nullptr && combo->currentIndex() >= 0)
        settings.baudRate = combo->currentData().toInt();
    StoreCanSettings(*m_setup, settings);
    EndDialog(IDOK);
}
