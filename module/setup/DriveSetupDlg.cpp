#include "DriveSetupDlg.h"

#include "AdvancedDialog.h"
#include "AnalogReferenceDlg.h"
#include "CaseInsensitive.h"
#include "DriveInfo.h"
#include "EngineCore.h"
#include "Errors.h"
#include "HostServices.h"
#include "Limits.h"
#include "MotorSetupDialog.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "TestLauncher.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include <cmath>

namespace {

const QStringList& StepTexts()
{
    static const QStringList steps = {
        QStringLiteral("Step 1.\tIn the <<Control mode>> group box, select what do you want to control: "
                       "position, speed or torque."),
        QStringLiteral(
            "Step 2.\tIn the <<External reference>> group box, select <<Yes>> if your drive gets a position, "
            "speed or torque reference from an external device. Press the <<Setup>> button to select the "
            "reference type: analogue or pulse & direction or incremental encoder and its parameters."),
        QStringLiteral("Step 3.\tIn the <<Drive operation parameters>> group box, set the value of the DC "
                       "voltage power supply. Use the <<Detect>> button to measure its actual value as "
                       "applied to the drive. Also set the <<Current limit>> parameter, i.e. the maximum "
                       "current value used by the drive to control the motor."),
        QStringLiteral(
            "Step 4.\tIn the <<Current controller>> group box, set the current controller parameters Kp "
            "(proportional) and Ki (integral). Use the <<Tune & Test>> button to automatically compute the "
            "current controller parameters and to test the current loop behavior."),
        QStringLiteral(
            "Step 5.\tIn the <<Speed Controller>> group box, set the speed controller parameters Kp "
            "(proportional), Ki (integral), Integral limit (saturation limit for the integral term of the "
            "controller) and the acceleration Feedforward. Use the <<Tune & Test>> button to automatically "
            "compute the speed controller parameters and to test the speed loop response. Before tuning the "
            "speed controller, make sure to set the right value for the ratio load inertia /motor inertia or "
            "to identify the total inertia. Note that the controller tuning does not include the "
            "acceleration feedforward. Set initially this value to 0, and then establish the other "
            "controller parameters. Finally increase gradually the acceleration feedforward and check the "
            "speed loop response."),
        QStringLiteral(
            "Step 6.\tIn the <<Position Controller>> group box, set the position controller parameters Kp "
            "(proportional), Ki (integral), Kd (derivative), Kd filter (filtering coefficient for the "
            "derivative term), Integral limit (saturation limit for the integral term of the controller), "
            "Speed limit (saturation limit for the position controller output, seen as a speed reference "
            "value), acceleration and speed feedforward. Use the <<Tune & Test>> button to automatically "
            "compute the position controller parameters and to test the position loop behavior. Before "
            "tuning the position controller, make sure to set the right value for the ratio load inertia "
            "/motor inertia or to identify the total inertia. Note that the controller tuning does not "
            "include the acceleration and speed feedforward. Set initially these values to 0, and then "
            "establish the other controller parameters. Finally increase gradually the acceleration and "
            "speed feedforward and check the speed loop behavior."),
        QStringLiteral("Step 7.\tIn the <<Axis ID>> group box, choose the desired axis ID of the drive for "
                       "network communication. Select \"H/W\" if you want to set the axis ID automatically "
                       "using the dedicated hardware switches, jumpers or solder joints."),
        QStringLiteral("Step 8.\tIn the <<Protections>> group box, select and parameterize the protections "
                       "that you want to activate."),
        QStringLiteral("Step 9. In the <<External brake resistor>> group box, check <<Connected>> if you "
                       "have a brake resistor connected to the drive. Set the voltage level at which the "
                       "drive starts to clamp the supply via the brake resistor."),
        QStringLiteral("Step 10. In the <<Inputs polarity>> check box, select the active levels for the "
                       "Enable and the two limit switch inputs."),
        QStringLiteral("Step 11.  Select the start method to be used. For the method <<Move till aligned "
                       "with phase A>>, set up the current value to use during the motor start and the time "
                       "needed to align the motor first on phase B and than on phase A."),
    };
    return steps;
}

// Control lists of the enable and show rules, each ending with 0.
const int kCurrentControls[] = {3172, 3174, 3175, 3173, 3176, 3137, 0};
const int kSpeedControls[] = {3177, 3184, 3185, 3186, 3187, 3179, 3180, 3181, 3183, 3182, 3188, 3178, 0};
const int kPositionControls[] = {3189, 3199, 3200, 3201, 3202, 3203, 3204, 1101, 3205, 3206,
                                 3190, 3191, 3192, 3193, 3194, 1043, 3195, 1044, 3198, 0};
const int kLoadSpeedLimit[] = {1101, 1043, 1044, 0};
const int kSpeedAccelerationFeedForward[] = {3187, 3183, 3188, 0};
const int kPositionFeedForwardShown[] = {3204, 3205, 3206, 3196, 3197, 0};
const int kSpeedLoopFeedForward[] = {3187, 3183, 3394, 3188, 3395, 0};
const int kPositionLoopFeedForward[] = {3204, 3197, 3196, 3206, 3205, 0};
const int kSpeedFeedForwardOfSpeedLoop[] = {3394, 3395, 0};
const int kStartAlignment[] = {3256, 3259, 3257, 3260, 3258, 3261, 0};
const int kBrakeResistorLevel[] = {3246, 3244, 3245, 0};
const int kEnablePolarity[] = {3248, 1047, 1046, 0};
const int kSoftwareLimitGroup[] = {3276, 3354, 0};
const int kSoftwareLimits[] = {3273, 3270, 3274, 3271, 3275, 3272, 0};
const int kExternalReferenceSetup[] = {3208, 3116, 0};
const int kOverCurrent[] = {3234, 3235, 3214, 3216, 3215, 3217, 0};
const int kMotorI2t[] = {3240, 3241, 3226, 3228, 3227, 3229, 0};
const int kPositionError[] = {3236, 3218, 3219, 3237, 3220, 3221, 0};
const int kSpeedError[] = {3238, 3222, 3223, 3239, 3224, 3225, 0};
const int kBaudRateControls[] = {10023, 10021, 0};
const int kAxisIdControls[] = {3379, 3136, 0};

// Buttons whose click changes what the rules enable or show.
constexpr int kExchangeOnClick[] = {1059, 1060, 1061, 1063, 1064, 1096, 1097, 3213,
                                    3230, 3231, 3233, 3243, 3354, 3377, 3378};

// Axis IDs 1 to 255, then the hardware setting.
constexpr int kAxisIdCount = 255;
constexpr int kLastCANopenAxisId = 127;
const QString kHardwareAxisId = QStringLiteral("H/W");

constexpr unsigned kHelpTopic = 262406;  // 0x40106
constexpr unsigned kHelpContents = 4096; // 0x1000
constexpr int kHelpContentsCommand = 10;
constexpr int kMotorSetupCommand = 1117;

int IntegerPart(double value)
{
    return static_cast<int>(std::trunc(value));
}

// The leading decimal number of a text, 0 when it has none ("H/W").
int LeadingNumber(const QString& text)
{
    int value = 0;
    for (const QChar c : text) {
        if (!c.isDigit())
            break;
        value = value * 10 + c.digitValue();
    }
    return value;
}

} // namespace

CDriveSetupDlg::CDriveSetupDlg(CMC_Setup* setup, QWidget* parent)
    : CMySetupDlg(setup, 106, 1, StepTexts(), parent)
{
    ComputeParametersFromRegisters(setup);
    ComputeParameterLimits(setup);
    if (HasSpeedForward(setup))
        EnforceSpeedFeedForward(setup);

    AddParameterControls("Vdc", 3163, 3166);
    AddParameterControls("IlimPS", 3169, 3170);
    AddParameterControls("Kp_C_scl", 3173, 0);
    AddParameterControls("Ki_C_scl", 3176, 0);
    AddParameterControls("Kp_S_scl", 3179, 0);
    AddParameterControls("Ki_S_scl", 3180, 0);
    AddParameterControls("IPSatS", 3181, 3182);
    AddParameterControls("KFFA_scl", 3183, 0);
    AddParameterControls("KFFS_scl", 3394, 0);
    AddParameterControls("Kp_P_scl", 3190, 0);
    AddParameterControls("Ki_P_scl", 3191, 0);
    AddParameterControls("Kd_P_scl", 3192, 0);
    AddParameterControls("filter_D", 3193, 0);
    AddParameterControls("IPSatP", 3194, 3195);
    AddParameterControls("KFFS_scl", 3196, 0);
    AddParameterControls("KFFA_scl", 3197, 0);
    AddParameterControls("Limit_Speed", 1043, 1044);
    AddSwitchParameterControls("ControlMode", 1059, 1061);
    AddSwitchParameterControls("ExternalReference", 1063, 1064);
    AddCheckParameterControls("isAutoActivatedAfterPowerOn", 3116);
    AddSwitchParameterControls("isAnalogueReference", 3290, 3291);
    AddCheckParameterControls("isOverCurrent", 3213);
    AddParameterControls("Imax_Prot", 3214, 3215);
    AddParameterControls("time_Imax_Prot", 3216, 3217);
    AddCheckParameterControls("isPositionControlError", 3230);
    AddParameterControls("ERR_position", 3218, 3219);
    AddParameterControls("time_ERR_pos", 3220, 3221);
    AddCheckParameterControls("isSpeedControlError", 3231);
    AddParameterControls("ERR_speed", 3222, 3223);
    AddParameterControls("time_ERR_spd", 3224, 3225);
    AddCheckParameterControls("isMotori2t", 3233);
    AddParameterControls("I_I2t_M", 3226, 3227);
    AddParameterControls("t_I2t_M", 3228, 3229);
    AddCheckParameterControls("isBrakeResistor", 3243);
    AddParameterControls("Vbrake", 3244, 3245);
    if (!HideEnablePolarity(setup))
        AddSwitchParameterControls("EnablePolarity", 1046, 1047);
    AddSwitchParameterControls("LSPPolarity", 3251, 3252);
    AddSwitchParameterControls("LSNPolarity", 3253, 3254);
    if (HasInputsPolarityType(setup))
        AddSwitchParameterControls("InputsPolarityType", 3406, 3407);
    if (HasSoftwareLimitSwitches(setup)) {
        AddCheckParameterControls("isSWLS", 3354);
        AddParameterControls("Negative_SWLS", 3274, 3275);
        AddParameterControls("Positive_SWLS", 3271, 3272);
    }
    AddSwitchParameterControls("StartMode", 1096, 1097);
    AddParameterControls("StartCurrent", 3257, 3258);
    AddParameterControls("time_AB", 3260, 3261);
    AddCheckParameterControls("isMotorOverTemp", 3232);
    if (HasCommunicationSaveOptions(setup)) {
        AddCheckParameterControls("save_CAN_baudrate", 3377);
        AddCheckParameterControls("save_axis_id", 3378);
    }

    EnableCANSettings();
}

double CDriveSetupDlg::Value(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? p->GetValueInBaseUnit() : 0.0;
}

int CDriveSetupDlg::OnInitDialog()
{
    CMySetupDlg::OnInitDialog();
    UpdateData(false);
    SetButtonImage(10019, "TO_MOTORSETUP");
    CMC_Setup* setup = GetSetup();

    EnableChild(3262, HasAnalogueInput(setup));
    FillAxisIdCombo();
    ShowReferenceTypeCaption();

    const int programmable = InputsTypeProgrammable(setup);
    const bool hasType = HasInputsPolarityType(setup);
    EnableChild(3406, hasType && programmable == 1);
    EnableChild(3407, hasType && programmable == 1);
    if (programmable == -1) {
        // Drives of the "QZ" series take sink (PNP) inputs.
        const bool sink = setup->GetDescription().find("QZ") != std::string::npos;
        SelectInputsType(sink);
        ShowPolarityCaptions(sink);
    } else if (hasType) {
        ShowPolarityCaptions(IntegerPart(Value("InputsPolarityType")) == 1);
    } else {
        // Bit 2 of "ASR" set: source (NPN) inputs.
        const bool sink = (TruncRegister(Value("ASR")) & 4) == 0;
        SelectInputsType(sink);
        ShowPolarityCaptions(sink);
    }

    CenterOnParent();
    return 1;
}

void CDriveSetupDlg::showEvent(QShowEvent* event)
{
    CMySetupDlg::showEvent(event);
    // A window system's own show (a restore) is not a new opening.
    if (event->spontaneous())
        return;
    CenterOnParent();
    SetTimer(kMotorSetupTimer, 1);
}

void CDriveSetupDlg::OnTimer(int id)
{
    if (id != kMotorSetupTimer)
        return;
    KillTimer(kMotorSetupTimer);
    {
        CMotorSetupDialog motorSetup(GetSetup(), this);
        motorSetup.DoModal();
    }
    Recompute();
    RefreshAllParameters(0);
    UpdateData(false);
}

void CDriveSetupDlg::CenterOnParent()
{
    QRect area;
    if (QWidget* owner = parentWidget())
        area = owner->window()->frameGeometry();
    else if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    if (!area.isValid())
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}

void CDriveSetupDlg::FillAxisIdCombo()
{
    if (!m_axisIdCombo)
        return;
    m_axisIdCombo->clear();
    for (int axis = 1; axis <= kAxisIdCount; ++axis)
        m_axisIdCombo->addItem(QString::number(axis));
    m_axisIdCombo->addItem(kHardwareAxisId);

    const bool hasAxisId = ExistsQuietly(GetSetup(), "Axis_ID_list");
    const int axis = IntegerPart(Value("Axis_ID_list"));
    int selected = -1;
    if (axis == 0) {
        selected = m_axisIdCombo->count() - 1;
    } else {
        const QString prefix = QString::number(axis);
        for (int i = 0; i < m_axisIdCombo->count() && selected < 0; ++i)
            if (m_axisIdCombo->itemText(i).startsWith(prefix))
                selected = i;
    }
    m_axisIdCombo->setCurrentIndex(selected);
    if (!hasAxisId)
        m_axisIdCombo->setEnabled(false);
}

void CDriveSetupDlg::SelectInputsType(bool sink)
{
    // Check first: clearing the checked one of two exclusive radios does nothing.
    CheckDlgButton(sink ? 3407 : 3406, true);
    CheckDlgButton(sink ? 3406 : 3407, false);
}

void CDriveSetupDlg::ShowPolarityCaptions(bool sink)
{
    if (sink) {
        SetChildText(3404, QStringLiteral("Active high (Connected to +Vlog)"));
        SetChildText(3405, QStringLiteral("Active low (Open/No connection)"));
    } else {
        SetChildText(3404, QStringLiteral("Active high (Open/No connection)"));
        SetChildText(3405, QStringLiteral("Active low (Connected to GND)"));
    }
}

void CDriveSetupDlg::ShowReferenceTypeCaption()
{
    SetChildText(3318, Value("DigitalReferenceType") != 0.0 ? QStringLiteral("Incremental Encoder")
                                                            : QStringLiteral("Pulse && Direction"));
}

void CDriveSetupDlg::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    m_axisIdCombo = Item<QComboBox>(3136);
    if (!saveAndValidate)
        ApplyControlRules();
    RefreshAllParameters(0);
    m_shownInputsType = Value("InputsPolarityType");
}

void CDriveSetupDlg::ApplyControlRules()
{
    CMC_Setup* setup = GetSetup();
    const int mode = IntegerPart(Value("ControlMode"));
    const int positionType = IntegerPart(Value("PositionControlType"));
    const bool position = mode == 0;
    const bool speedLoop = mode == 1 || (mode == 0 && positionType == 1);
    const bool loadSpeedLimit = mode == 0 && positionType == 1;

    EnableChildren(kCurrentControls, true);
    EnableChildren(kSpeedControls, speedLoop);
    EnableChildren(kPositionControls, position);
    EnableChild(3196, position && loadSpeedLimit);
    ShowChildren(kLoadSpeedLimit, loadSpeedLimit);
    ShowChildren(kSpeedAccelerationFeedForward, speedLoop && !position);
    ShowChildren(kPositionFeedForwardShown, position);

    if (HasSpeedForward(setup)) {
        if (mode == 2) {
            ShowChildren(kSpeedLoopFeedForward, false);
            ShowChildren(kPositionLoopFeedForward, false);
        } else if (mode == 1) {
            ShowChildren(kSpeedLoopFeedForward, true);
            EnableChildren(kSpeedLoopFeedForward, true);
            ShowChildren(kPositionLoopFeedForward, false);
        } else {
            ShowChildren(kSpeedLoopFeedForward, false);
            const bool positionLoop = mode == 0 && (positionType == 0 || positionType == 1);
            ShowChildren(kPositionLoopFeedForward, positionLoop);
            if (positionLoop)
                EnableChildren(kPositionLoopFeedForward, true);
        }
    } else {
        ShowChildren(kSpeedFeedForwardOfSpeedLoop, false);
    }

    EnableChildren(kStartAlignment, IntegerPart(Value("StartMode")) == 0);
    EnableChildren(kBrakeResistorLevel, IntegerPart(Value("isBrakeResistor")) == 1);
    ShowChildren(kEnablePolarity, !HideEnablePolarity(setup));
    const bool hasLimitSwitches = HasSoftwareLimitSwitches(setup);
    EnableChildren(kSoftwareLimitGroup, hasLimitSwitches);
    EnableChildren(kSoftwareLimits, hasLimitSwitches && IntegerPart(Value("isSWLS")) == 1);
    EnableChildren(kExternalReferenceSetup, IntegerPart(Value("ExternalReference")) == 1);
    EnableChildren(kOverCurrent, IntegerPart(Value("isOverCurrent")) == 1);
    EnableChildren(kMotorI2t, IntegerPart(Value("isMotori2t")) != 0);
    EnableChild(3230, position);
    EnableChildren(kPositionError, position && IntegerPart(Value("isPositionControlError")) != 0);
    EnableChild(3231, mode == 1);
    EnableChildren(kSpeedError, mode == 1 && IntegerPart(Value("isSpeedControlError")) != 0);
    EnableChild(3232, setup->GetIntOption("DisableMotorTemperature") == 0 &&
                          Value("isMotorTemperatureSensor") == 1.0);

    if (HasCommunicationSaveOptions(setup)) {
        EnableChildren(kBaudRateControls, Value("save_CAN_baudrate") == 1.0);
        EnableChildren(kAxisIdControls, Value("save_axis_id") == 1.0);
        if (!ExistsQuietly(setup, "Axis_ID_list"))
            EnableChild(3136, false);
    } else {
        ShowChild(3377, false);
        ShowChild(3378, false);
    }
    ShowReferenceTypeCaption();
}

void CDriveSetupDlg::OnChangedParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    if (EqualsIgnoringCase(name, "ControlMode")) {
        if (HasSpeedForward(setup))
            EnforceSpeedFeedForward(setup);
        if (IntegerPart(Value("ControlMode")) != 0) {
            // Speed and torque references are taken one to one, from the analogue input.
            for (const char* reset : {"GEARMASTER", "GEARSLAVE", "isAnalogueReference"})
                if (CMC_Parameter* p = FindQuietly(setup, reset))
                    p->SetValueInBaseUnit(1.0);
            RefreshAllParameters(0);
        }
    } else if (EqualsIgnoringCase(name, "ExternalReference")) {
        if (IntegerPart(Value("ExternalReference")) == 0) {
            if (CMC_Parameter* p = FindQuietly(setup, "isAutoActivatedAfterPowerOn")) {
                p->SetValueInBaseUnit(0.0);
                RefreshParameterControls("isAutoActivatedAfterPowerOn");
            }
        }
    } else if (EqualsIgnoringCase(name, "Negative_SWLS") || EqualsIgnoringCase(name, "Positive_SWLS")) {
        CMC_Parameter* negative = FindQuietly(setup, "Negative_SWLS");
        CMC_Parameter* positive = FindQuietly(setup, "Positive_SWLS");
        if (negative && positive && negative->GetValueInBaseUnit() > positive->GetValueInBaseUnit()) {
            // The limit just entered follows the other one.
            if (EqualsIgnoringCase(name, "Negative_SWLS"))
                negative->SetValueInInternalUnit(positive->GetValueInInternalUnit());
            else
                positive->SetValueInInternalUnit(negative->GetValueInInternalUnit());
        }
    }
    CMySetupDlg::OnChangedParameterValue(name);
}

void CDriveSetupDlg::OnRefreshParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    if (EqualsIgnoringCase(name, "Vdc") || EqualsIgnoringCase(name, "Limit_Speed")) {
        Compute_SATP(setup);
        Compute_Limit_Speed(setup);
        ComputeParameterLimits(setup);
        RefreshAllParameters(0);
    } else if (EqualsIgnoringCase(name, "InputsPolarityType")) {
        const double type = Value("InputsPolarityType");
        if (type != m_shownInputsType) {
            // The same electrical level reads the other way round with the other input type.
            for (const char* polarity : {"EnablePolarity", "LSNPolarity", "LSPPolarity"})
                if (CMC_Parameter* p = FindQuietly(setup, polarity))
                    p->SetValueInBaseUnit(p->GetValueInBaseUnit() == 0.0 ? 1.0 : 0.0);
            m_shownInputsType = type;
        }
        ShowPolarityCaptions(IntegerPart(type) == 1);
        RefreshAllParameters(0);
    } else if (EqualsIgnoringCase(name, "StartCurrent")) {
        Compute_REFTST(setup);
        Compute_RINCTST(setup);
        Compute_StartCurrent(setup);
        RefreshParameterControls("StartCurrent");
        if (Value("StartCurrent") > 100.0) {
            ShowMessageBox(
                QString::asprintf("You have set a start current bigger than the nominal current! The start "
                                  "current will be applied for %.2f s.\n\nThe motor must withstand this "
                                  "over current condition or it may be damaged.",
                                  2.0 * Value("time_AB")),
                MB_OK | MB_ICONINFORMATION);
            if (isVisible())
                activateWindow();
        }
    }
    CMySetupDlg::OnRefreshParameterValue(name);
}

void CDriveSetupDlg::OnSelChange(int id)
{
    if (id != 3136 || !m_axisIdCombo)
        return CMySetupDlg::OnSelChange(id);
    const int axis = m_axisIdCombo->currentIndex() + 1;
    if (axis > kLastCANopenAxisId && axis <= kAxisIdCount)
        ShowMessageBox(
            QStringLiteral("If your drive is set in CANopen mode, the axis ID values must be in the range "
                           "1-127. Any value over 127 will set the drive as non-configured and further "
                           "CANopen communication will be disabled until a valid Axis ID will be set in "
                           "the drive. Leave the drive with a non-configured axis ID only if you intend "
                           "to set the Axis ID later via a CANopen master using CiA305 LSS protocol."),
            MB_OK | MB_ICONINFORMATION);
}

int CDriveSetupDlg::RunChild(const std::function<int()>& open, bool limitsBefore, AfterOk after)
{
    Recompute();
    if (limitsBefore)
        ComputeParameterLimits(GetSetup());
    const int result = open();
    if (result != IDOK)
        return result;
    Recompute();
    if (after == AfterOk::RecomputeRefresh)
        RefreshAllParameters(0);
    if (after != AfterOk::Recompute)
        UpdateData(false);
    return result;
}

template <typename Dialog> int CDriveSetupDlg::RunSetupDialog()
{
    Dialog dialog(GetSetup(), this);
    return dialog.DoModal();
}

bool CDriveSetupDlg::OnCommand(int id)
{
    for (int exchange : kExchangeOnClick)
        if (id == exchange) {
            UpdateData(false);
            return true;
        }

    auto test = [this](ModuleTest which) {
        return [this, which] { return RunModuleTest(which, GetSetup(), 1, this); };
    };
    switch (id) {
    case 3171:
        RunChild(test(ModuleTest::SupplyVoltage), false, AfterOk::RecomputeRefresh);
        return true;
    case 3137:
        RunChild(test(ModuleTest::CurrentTuning), false, AfterOk::RecomputeRefresh);
        return true;
    case 3178:
        RunChild(test(ModuleTest::SpeedTuning), true, AfterOk::RecomputeRefresh);
        return true;
    case 3198:
        RunChild(test(ModuleTest::PositionTuning), false, AfterOk::RecomputeRefresh);
        return true;
    case 3208:
        RunChild([this] { return RunSetupDialog<CAnalogReferenceDlg>(); }, true, AfterOk::RecomputeRefresh);
        return true;
    case 10019:
        RunChild([this] { return RunSetupDialog<CMotorSetupDialog>(); }, false, AfterOk::RecomputeExchange);
        return true;
    case 3158:
        RunChild([this] { return RunSetupDialog<CAdvancedDialog>(); }, false, AfterOk::RecomputeExchange);
        return true;
    case 3159:
        RunChild([this] { return RunSetupDialog<CDriveInfo>(); }, false, AfterOk::Recompute);
        return true;
    case kMotorSetupCommand:
        RunChild([this] { return RunSetupDialog<CMotorSetupDialog>(); }, false, AfterOk::RecomputeRefresh);
        return true;
    case 10024:
        OpenHelp(kHelpTopic);
        return true;
    case kHelpContentsCommand:
        OpenHelp(kHelpContents);
        return true;
    default:
        return CMySetupDlg::OnCommand(id);
    }
}

void CDriveSetupDlg::StoreAxisId()
{
    CMC_Parameter* axisId = FindQuietly(GetSetup(), "Axis_ID_list");
    if (!axisId || !m_axisIdCombo || m_axisIdCombo->currentIndex() < 0)
        return;
    const QString text = m_axisIdCombo->currentText();
    if (text != QString::number(IntegerPart(axisId->GetValueInBaseUnit())))
        axisId->SetValueInBaseUnit(LeadingNumber(text));
}

void CDriveSetupDlg::OnOK()
{
    StoreAxisId();
    ComputeRegistersFromParameters(GetSetup());
    UpdateClosedLoopOptions(GetSetup());
    if (!UpdateData(true))
        return;
    EndDialog(IDOK);
}

void CDriveSetupDlg::OnCancel()
{
    EndDialog(IDCANCEL);
}
