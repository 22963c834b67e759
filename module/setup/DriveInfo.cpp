#include "DriveInfo.h"

#include "EngineCore.h"
#include "HostServices.h"
#include "ParametersToRegisters.h"

#include <QLineEdit>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

enum : int {
    kDescription = 3275,
    kE2ROMSize = 3276,
    kProductID = 3277,
    kFirmwareID = 3278,
    kApplicationID = 3114,
    kTemperatureSensor = 3097,
    kOverVoltage = 3103,
    kUnderVoltage = 3105,
    kDriveI2t = 3107,
    kDriveOverTemp = 3325,
};

// Editable in service mode only: the drive's ratings and protection switches,
// and the identity but for the application ID.
constexpr int kServiceControls[] = {3087, 3089, 3092, 3094, 1159, 1161, 3097,
                                    1179, 1163, 3103, 3105, 3107, 0};
constexpr int kIdentityEdits[] = {kE2ROMSize, kDescription, kProductID, kFirmwareID, 0};
constexpr int kSensorServiceControls[] = {1165, 1167, kDriveOverTemp, 0};
constexpr int kSensorUnitsAndLabels[] = {1166, 1168, 3098, 3101, 0};
constexpr int kOverVoltageUnitsAndLabels[] = {1170, 3104, 0};
constexpr int kUnderVoltageUnitsAndLabels[] = {1172, 3106, 0};
constexpr int kI2tServiceControls[] = {1173, 1175, 0};
constexpr int kI2tUnitsAndLabels[] = {1174, 3108, 1176, 3109, 0};
constexpr int kOverTempUnitsAndLabels[] = {1178, 3326, 0};

// The E2ROM size is shown and entered in units of 1024 words.
constexpr int kKwordShift = 10;

// The leading decimal number of a text (0 when there is none), as a count of
// 1024-word units that fits the drive's size field.
unsigned LeadingKwords(const QString& text)
{
    const std::string s = text.toStdString();
    const long value = std::strtol(s.c_str(), nullptr, 10);
    return static_cast<unsigned>(std::clamp(value, 0L, 0x3fffffL));
}

} // namespace

CDriveInfo::CDriveInfo(CMC_Setup* setup, QWidget* parent) : CMySetupDlg(setup, kTemplateId, 1, {}, parent)
{
    AddParameterControls("VMOT_min", 3087, 3088);
    AddParameterControls("VMOT_max", 3089, 3090);
    AddParameterControls("VLOG_min", 3092, 3093);
    AddParameterControls("VLOG_max", 3094, 3095);
    AddParameterControls("InPS", 1159, 1160);
    AddParameterControls("ImaxPS", 1161, 1162);
    AddParameterControls("VdcMaxMeasurable", 1163, 1164);
    AddCheckParameterControls("isDriveTemperatureSensor", kTemperatureSensor);
    AddParameterControls("DriveTempSensorGain", 1165, 1166);
    AddParameterControls("DriveTempOutputAt0oC", 1167, 1168);
    AddParameterControls("Temp_2", 1177, 1178);
    AddCheckParameterControls("isDriveOverTemp", kDriveOverTemp);
    AddCheckParameterControls("isOverVoltage", kOverVoltage);
    AddParameterControls("UMAX_PROT", 1169, 1170);
    AddCheckParameterControls("isUnderVoltage", kUnderVoltage);
    AddParameterControls("UMIN_PROT", 1171, 1172);
    AddCheckParameterControls("isDriveI2t", kDriveI2t);
    AddParameterControls("I_I2t_D", 1173, 1174);
    AddParameterControls("t_I2t_D", 1175, 1176);
    AddParameterControls("AnalogueInputsRange", 1179, 1180);
}

bool CDriveInfo::IsOn(const char* flag) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), flag);
    return p && p->GetValueInBaseUnit() == 1.0;
}

int CDriveInfo::OnInitDialog()
{
    CMySetupDlg::OnInitDialog();
    const CMC_Setup* setup = GetSetup();
    SetChildText(kE2ROMSize,
                 QString::asprintf("%d", static_cast<int>((setup->GetE2ROMSize() >> kKwordShift) & 0x3f)));
    SetChildText(kFirmwareID, QString::fromStdString(setup->GetFirmwareID()));
    SetChildText(kProductID, QString::fromStdString(setup->GetProductID()));
    SetChildText(kDescription, QString::fromStdString(setup->GetDescription()));
    SetChildText(kApplicationID, QString::fromStdString(setup->GetUserAppID()));
    if (auto* edit = Item<QLineEdit>(kApplicationID))
        edit->setMaxLength(static_cast<int>(CMC_Setup::kMaxUserAppIdLength));
    UpdateData(false);
    return 1;
}

void CDriveInfo::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    if (saveAndValidate)
        return;
    const bool e = m_serviceEdit;
    const bool sensor = IsOn("isDriveTemperatureSensor");
    const bool overVoltage = IsOn("isOverVoltage");
    const bool underVoltage = IsOn("isUnderVoltage");
    const bool i2t = IsOn("isDriveI2t");
    const bool overTemp = IsOn("isDriveOverTemp");

    EnableChildren(kServiceControls, e);
    EnableChildren(kIdentityEdits, e);
    EnableChildren(kSensorServiceControls, e && sensor);
    EnableChild(1169, e && overVoltage);
    EnableChild(1171, e && underVoltage);
    EnableChildren(kI2tServiceControls, e && i2t);
    EnableChild(1177, e && overTemp);

    EnableChildren(kSensorUnitsAndLabels, sensor);
    EnableChildren(kOverVoltageUnitsAndLabels, overVoltage);
    EnableChildren(kUnderVoltageUnitsAndLabels, underVoltage);
    EnableChildren(kI2tUnitsAndLabels, i2t);
    EnableChildren(kOverTempUnitsAndLabels, overTemp);
}

bool CDriveInfo::PreTranslateKey(int key, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
    if (key != kServiceKey || (modifiers & chord) != chord)
        return CMySetupDlg::PreTranslateKey(key, modifiers);
    m_serviceEdit = !m_serviceEdit;
    UpdateData(false);
    // The key goes on to the control and the dialog as any other: only its
    // first receiver hands it here, so it toggles once.
    return false;
}

bool CDriveInfo::OnCommand(int id)
{
    switch (id) {
    case kTemperatureSensor:
    case kOverVoltage:
    case kUnderVoltage:
    case kDriveI2t:
    case kDriveOverTemp:
        // Without a temperature sensor the drive cannot protect itself
        // against over temperature.
        if (!IsOn("isDriveTemperatureSensor") && IsOn("isDriveOverTemp")) {
            FindQuietly(GetSetup(), "isDriveOverTemp")->SetValueInBaseUnit(0.0);
            RefreshParameterControls("isDriveOverTemp");
        }
        UpdateData(false);
        return true;
    default:
        return CMySetupDlg::OnCommand(id);
    }
}

void CDriveInfo::OnOK()
{
    CMC_Setup* setup = GetSetup();
    setup->SetE2ROMSize(LeadingKwords(GetChildText(kE2ROMSize)) << kKwordShift);
    setup->SetUserAppID(GetChildText(kApplicationID).toStdString());
    setup->SetProductID(GetChildText(kProductID).toStdString());
    setup->SetDescription(GetChildText(kDescription).toStdString());
    if (!setup->SetFirmwareID(GetChildText(kFirmwareID).toStdString()))
        ShowMessageBox(QStringLiteral("Error setting the firmware ID!"), MB_OK | MB_ICONERROR);
    ComputeRegistersFromParameters(setup);
    CMySetupDlg::OnOK();
}
