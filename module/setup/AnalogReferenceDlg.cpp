#include "AnalogReferenceDlg.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "HostServices.h"
#include "Limits.h"
#include "TestLauncher.h"

#include <QIcon>
#include <QLabel>

#include <cmath>

namespace {

constexpr int kTemplate = 111;
constexpr unsigned kHelpTopic = 262401;

constexpr int kPicture = 1014;
constexpr int kMaximumLabel = 1007;
constexpr int kMinimumLabel = 1009;
constexpr int kRangeLeft = 3328;
constexpr int kRangeRight = 3327;
constexpr int kLimitCheck = 3116;
constexpr int kLimitEdit = 3302; // analogue: "ErefMaxSpeed" (position) or "ErefMaxAcceleration" (speed)
constexpr int kLimitUnit = 3136;
constexpr int kDigitalLimitEdit = 3304; // digital: "ErefMaxAcceleration"
constexpr int kDigitalLimitUnit = 3137;
constexpr int kDigitalRadio = 3289;
constexpr int kAnalogueRadio = 3290;
constexpr int kTestButton = 1000;
constexpr int kHelpButton = 10024;

constexpr int kFilterControls[] = {1002, 1003, 1004, 0};
constexpr int kAnalogueControls[] = {1007, 1009, 1006, 1008, 1015, 1016, 1011, 1010, 1013,
                                     1012, 1004, 1001, 1002, 1003, 1000, 3328, 3327, 0};
constexpr int kDigitalControls[] = {3291, 3292, 3294, 3297, 3295, 3298, 3299, 3296, 3300, 0};

// The pairs whose minimum shows the unit picked for the maximum.
struct EndPoints {
    const char* maximum;
    const char* minimum;
};
constexpr EndPoints kEndPoints[] = {
    {"POS_max", "POS_min"},
    {"SPD_max", "SPD_min"},
    {"CRT_max", "CRT_min"},
    {"DeadBand_Point", "DeadBand_Range"},
};

bool Is(const char* name, const char* other)
{
    return EqualsIgnoringCase(name, other);
}

} // namespace

CAnalogReferenceDlg::CAnalogReferenceDlg(CMC_Setup* setup, QWidget* parent)
    : CMySetupDlg(setup, kTemplate, 1, {}, parent), m_original(setup->Clone())
{
    m_mode = IntValue("ControlMode");
    m_hasAnalogueInput = HasAnalogueInput(setup);
    const bool analogue = m_hasAnalogueInput;

    if (analogue) {
        const EndPoints& ends = kEndPoints[m_mode == 0 ? 0 : m_mode == 1 ? 1 : 2];
        AddParameterControls(ends.maximum, 1006, 1015);
        AddParameterControls(ends.minimum, 1008, 0);
        MatchUnit(ends.minimum, ends.maximum);
    }
    if (m_mode == 0) {
        AddCheckParameterControls("isLimitMaximum", kLimitCheck);
        AddParameterControls("ErefMaxSpeed", kLimitEdit, kLimitUnit);
        AddParameterControls("ErefMaxAcceleration", kDigitalLimitEdit, kDigitalLimitUnit);
    } else if (m_mode == 1) {
        AddCheckParameterControls("isLimitMaximum", kLimitCheck);
        AddParameterControls("ErefMaxAcceleration", kLimitEdit, kLimitUnit);
    }
    if (analogue) {
        AddParameterControls("DeadBand_Point", 1010, 1016);
        AddParameterControls("DeadBand_Range", 1012, 0);
        MatchUnit("DeadBand_Range", "DeadBand_Point");
    }
    AddSwitchParameterControls("isAnalogueReference", kDigitalRadio, kAnalogueRadio);
    AddSwitchParameterControls("DigitalReferenceType", 3291, 3292);
    AddParameterControls("GEARMASTER", 3296, 0);
    AddParameterControls("GEARSLAVE", 3295, 0);
    if (analogue) {
        AddCheckParameterControls("UseFilter", 1001);
        AddParameterControls("filter", 1003, 1004);
    }
}

CAnalogReferenceDlg::~CAnalogReferenceDlg() = default;

int CAnalogReferenceDlg::IntValue(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? static_cast<int>(std::trunc(p->GetValueInBaseUnit())) : 0;
}

void CAnalogReferenceDlg::MatchUnit(const char* minimum, const char* maximum)
{
    CMC_Parameter* low = FindQuietly(GetSetup(), minimum);
    const CMC_Parameter* high = FindQuietly(GetSetup(), maximum);
    if (low && high)
        low->ChangeUnit(high->GetUnitName());
}

int CAnalogReferenceDlg::OnInitDialog()
{
    CMySetupDlg::OnInitDialog();

    const double range = GetSetup()->GetParameterValueInBaseUnit("AnalogueInputsRange"); // [V]
    if (range == 20.0) {
        SetChildText(kRangeLeft, QStringLiteral("-10"));
        SetChildText(kRangeRight, QStringLiteral("10"));
    } else if (range == 5.0) {
        SetChildText(kRangeLeft, QStringLiteral("0"));
        SetChildText(kRangeRight, QStringLiteral("5"));
    } else {
        SetChildText(kRangeLeft, QStringLiteral("0"));
        SetChildText(kRangeRight, QStringLiteral("3.3"));
    }

    const char* picture = "BITMAP_3002";
    if (m_mode == 0) {
        SetChildText(kMaximumLabel, QStringLiteral("Maximum Position"));
        SetChildText(kMinimumLabel, QStringLiteral("Minimum Position"));
        picture = "BITMAP_3003";
    } else if (m_mode == 1) {
        SetChildText(kMaximumLabel, QStringLiteral("Maximum Speed"));
        SetChildText(kMinimumLabel, QStringLiteral("Minimum Speed"));
        picture = "BITMAP_3044";
    } else {
        SetChildText(kMaximumLabel, QStringLiteral("Maximum Current"));
        SetChildText(kMinimumLabel, QStringLiteral("Minimum Current"));
        for (int id : {kLimitCheck, kLimitEdit, kLimitUnit})
            ShowChild(id, false);
        // Nothing is left in the limit's group in torque control.
        if (QWidget* group =
                Content() ? Content()->findChild<QWidget*>(QStringLiteral("groupLimit")) : nullptr)
            group->hide();
    }
    SetLimitCaption();
    if (auto* label = Item<QLabel>(kPicture)) {
        const QSize size = label->minimumSize().isEmpty() ? QSize(300, 150) : label->minimumSize();
        label->setPixmap(QIcon(PicturePath(picture)).pixmap(size));
    }

    EnableChild(kRangeLeft, false);
    EnableChild(kRangeRight, false);
    EnableChild(kAnalogueRadio, m_hasAnalogueInput);
    UpdateData(false);
    return 1;
}

void CAnalogReferenceDlg::SetLimitCaption()
{
    const bool speedLimit = m_mode == 0 && IntValue("isAnalogueReference") == 1;
    SetChildText(kLimitCheck, speedLimit ? QStringLiteral("Limit maximum speed at")
                                         : QStringLiteral("Limit maximum acceleration at"));
}

void CAnalogReferenceDlg::ShowFilterBandwidth(bool show)
{
    ShowChildren(kFilterControls, show);
}

void CAnalogReferenceDlg::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    if (saveAndValidate)
        return;
    const bool analogue = IntValue("isAnalogueReference") == 1;
    const bool limit = IntValue("isLimitMaximum") == 1;
    ShowFilterBandwidth(m_hasAnalogueInput && IntValue("UseFilter") != 0);
    ShowChild(kLimitEdit, analogue && limit && m_mode < 2);
    ShowChild(kLimitUnit, analogue && limit && m_mode < 2);
    ShowChild(kDigitalLimitEdit, !analogue && limit && m_mode < 2);
    ShowChild(kDigitalLimitUnit, !analogue && limit && m_mode < 2);
    EnableChildren(kAnalogueControls, analogue && m_hasAnalogueInput);
    if (QWidget* caption =
            Content() ? Content()->findChild<QWidget*>(QStringLiteral("labelInputVolts")) : nullptr)
        caption->setEnabled(analogue && m_hasAnalogueInput);
    EnableChildren(kDigitalControls, !analogue && m_mode == 0);
    EnableChild(kDigitalRadio,
                m_mode == 0 && GetSetup()->GetIntOption("DisableExternalDigitalReference") == 0);
}

bool CAnalogReferenceDlg::OnCommand(int id)
{
    switch (id) {
    case kLimitCheck:
    case kDigitalRadio:
    case kAnalogueRadio:
        UpdateData(false);
        return true;
    case kTestButton:
        RunAnalogueReferenceTest();
        return true;
    case kHelpButton:
        OpenHelp(kHelpTopic);
        return true;
    default:
        return CMySetupDlg::OnCommand(id);
    }
}

void CAnalogReferenceDlg::RunAnalogueReferenceTest()
{
    Recompute();
    if (RunModuleTest(ModuleTest::AnalogueReference, GetSetup(), 1, nullptr) != IDOK)
        return;
    Recompute();
    RefreshAllParameters(0);
    UpdateData(false);
}

void CAnalogReferenceDlg::OnChangedParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    if (Is(name, "UseFilter")) {
        ShowFilterBandwidth(IntValue("UseFilter") != 0);
    } else if (Is(name, "isAnalogueReference")) {
        SetLimitCaption();
        UpdateData(false);
    } else if (Is(name, "DeadBand_Range")) {
        Limit_DeadBand_Range(setup);
        RefreshParameterControls("DeadBand_Point");
    } else if (Is(name, "DeadBand_Point")) {
        Limit_DeadBand_Range(setup);
        RefreshParameterControls("DeadBand_Range");
    }
    CMySetupDlg::OnChangedParameterValue(name);
}

void CAnalogReferenceDlg::OnChangedParameterUnit(const char* name)
{
    for (const EndPoints& ends : kEndPoints)
        if (Is(name, ends.maximum)) {
            MatchUnit(ends.minimum, ends.maximum);
            RefreshParameterControls(ends.minimum);
        }
    CMC_EditSetupDlg::OnChangedParameterUnit(name);
}

void CAnalogReferenceDlg::OnRefreshParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    bool limited = false;
    if (Is(name, "POS_min") || Is(name, "POS_max")) {
        Limit_POS_min(setup);
        Limit_POS_max(setup);
        limited = true;
    } else if (Is(name, "SPD_min") || Is(name, "SPD_max")) {
        Limit_SPD_min(setup);
        Limit_SPD_max(setup);
        limited = true;
    } else if (Is(name, "CRT_min") || Is(name, "CRT_max")) {
        Limit_CRT_min(setup);
        Limit_CRT_max(setup);
        limited = true;
    }
    if (limited)
        RefreshAllParameters(0);
    CMC_EditSetupDlg::OnRefreshParameterValue(name);
}

void CAnalogReferenceDlg::OnCancel()
{
    if (m_original)
        GetSetup()->AssignFrom(*m_original);
    EndDialog(IDCANCEL);
}
