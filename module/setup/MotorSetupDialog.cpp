#include "MotorSetupDialog.h"

#include "BrakeOutputs.h"
#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "HostServices.h"
#include "Limits.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <QComboBox>

#include <cmath>
#include <numbers>

namespace {

// Controls of the "Motor brake" group that follow the brake check box.
constexpr int kBrakeControls[] = {3382, 3386, 3388, 3390, 3391, 3389, 3392, 3393, 0};
constexpr int kInertiaControls[] = {1172, 1173, 3267, 0};
constexpr int kSensorTypeControls[] = {1184, 1185, 1186, 0};

constexpr int kCommandOK = 10018;
constexpr int kLimitSwitchAdvice = 3409;

QStringList StepTexts()
{
    return {
        QStringLiteral(
            "Step 1. Select your motor from a database. If your motor does not exist in any database, "
            "proceed through all the next steps in order to define your motor and sensors data. In either "
            "case, use the tests from the next steps to verify/detect the motor and sensors parameters and "
            "operation."),
        QStringLiteral(
            "Step 2. Check the values for nominal and peak currents. Press the <<Test Phase Connections>> "
            "button to verify that your motor phases are well connected to the drive."),
        QStringLiteral("Step 3. Check the maximum speed."),
        QStringLiteral(
            "Step 4. Check the number of motor pole pairs. Press the <<Detect number of Pole Pairs>> "
            "button to autodetect this value."),
        QStringLiteral("Step 5. Check the torque constant value."),
        QStringLiteral(
            "Step 6. Check the resistance and inductance values. Press the <<Identify Resistance and "
            "Inductance>> button to autodetect these parameters."),
        QStringLiteral(
            "Step 7. Check the value of the motor inertia. If you don't know this value, check the "
            "<<Motor inertia is unknown>> checkbox."),
        QStringLiteral(
            "Step 8.\t In the Motor Sensors section press the <<Detect Hall Gain Offset>> button to "
            "automatically detect linear hall sensors parameters (Hall Gain Offset). Use the <<Test "
            "Connections>> button in order to verify the operation of the 3 Hall sensor inputs."),
        QStringLiteral(
            "Step 9. In <<Transmission to load>> select the transmission type and the ratio by setting "
            "the correspondance between the motor and load displacements."),
        QStringLiteral(
            "Step 10. If you want to save your motor data, select USER database, then press the <<Save>> "
            "button."),
    };
}

bool Is(const char* name, const char* other)
{
    return EqualsIgnoringCase(name, other);
}

} // namespace

CMotorSetupDialog::CMotorSetupDialog(CMC_Setup* setup, QWidget* parent)
    : CMySetupDlg(setup, kTemplateId, 1, StepTexts(), parent)
{
    AddParameterControls("In", 1159, 1160);
    AddParameterControls("ImaxM", 1161, 1162);
    AddParameterControls("pp", 1165, 0);
    AddParameterControls("K", 1166, 1167);
    AddParameterControls("R", 1168, 1169);
    AddParameterControls("L", 1170, 1171);
    AddParameterControls("Jm", 1172, 1173);
    AddParameterControls("Resolution", 1174, 0);
    AddCheckParameterControls("isMotorInertiaUnknown", 1178);
    AddSwitchParameterControls("MotorPhaseConnectionType", 1196, 1197);
    AddCheckParameterControls("isMotorTemperatureSensor", 1183);
    AddSwitchParameterControls("Motor_TempSensor_Type", 1185, 1186);
    AddSwitchParameterControls("TransmissionType", 1194, 1195);
    AddParameterControls("Motor_transmission", 1163, 1164);
    AddParameterControls("Load_transmission", 1179, 1192);
    if (HasMotorBrake(setup)) {
        AddCheckParameterControls("isMotorBrake", 3381);
        AddSwitchParameterControls("MotorBrake_output", 3382);
        AddParameterControls("MotorBrake_releasetime", 3390, 3391);
        AddParameterControls("MotorBrake_applytime", 3392, 3393);
    }
    InitializeMotorEditor();
}

double CMotorSetupDialog::Value(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? p->GetValueInBaseUnit() : 0.0;
}

int CMotorSetupDialog::IntValue(const char* name, bool internal) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    if (!p)
        return 0;
    return static_cast<int>(std::trunc(internal ? p->GetValueInInternalUnit() : p->GetValueInBaseUnit()));
}

int CMotorSetupDialog::OnInitDialog()
{
    CMySetupDlg::OnInitDialog();
    SetButtonImage(IDOK, "TO_DRIVESETUP");
    SetButtonImage(kLimitSwitchAdvice, "WARN_SWITCH_HW_LS");
    ShowChild(kLimitSwitchAdvice, false);

    CMC_Setup* setup = GetSetup();
    const bool brake = HasMotorBrake(setup) && GetNumberOfBrakeOutputs() > 0;
    EnableChild(3380, brake);
    EnableChild(3381, brake);
    EnableChildren(kBrakeControls, brake);
    if (auto* combo = Item<QComboBox>(3382)) {
        FillIOBrakeCombo(combo, brake ? IntValue("MotorBrake_output") : 0);
        RefreshParameterControls("MotorBrake_output");
    }

    SetButtonImage(3387, "BITMAP_3065");
    UpdateData(false);
    return 1;
}

void CMotorSetupDialog::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    if (saveAndValidate)
        return;
    CMC_Setup* setup = GetSetup();
    EnableChildren(kInertiaControls, IntValue("isMotorInertiaUnknown") == 0);
    EnableChildren(kSensorTypeControls, IntValue("isMotorTemperatureSensor") == 1);
    if (HasMotorBrake(setup)) {
        EnableChildren(kBrakeControls, Value("isMotorBrake") == 1.0);
        ShowBrakeWiring();
    }
    if (!HasNegativeTransmission(setup)) {
        const double ratio = Value("Motor_transmission") / Value("Load_transmission");
        ShowChild(kLimitSwitchAdvice, ratio < 0);
    }
}

void CMotorSetupDialog::ShowBrakeWiring()
{
    const int port = IntValue("MotorBrake_output", true);
    const bool activeHigh =
        ((IsBrakePortEnable(port) & 0xff) & BRAKE_PORT_POLARITY_MASK) == BRAKE_PORT_ACTIVE_HIGH;
    const bool inverted = IsIOMC3PortInverted(port);
    SetChildText(3386,
                 QStringLiteral("Motor brake is applied when ") +
                     (activeHigh == inverted ? QStringLiteral("NPN (sink) output is connected to GND.")
                                             : QStringLiteral("PNP (source) output is connected to +Vlog.")));
}

void CMotorSetupDialog::OnChangedParameterValue(const char* name)
{
    CMySetupDlg::OnChangedParameterValue(name);
    if (Is(name, "isMotorInertiaUnknown") || Is(name, "isMotorTemperatureSensor") ||
        Is(name, "MotorBrake_output") || Is(name, "Motor_transmission") || Is(name, "Load_transmission")) {
        UpdateData(false);
    } else if (Is(name, "TransmissionType")) {
        UpdateTransmissionUnits(GetSetup());
        RefreshParameterControls("Load_transmission");
    }
}

void CMotorSetupDialog::OnRefreshParameterValue(const char* name)
{
    CMySetupDlg::OnRefreshParameterValue(name);
    CMC_Setup* setup = GetSetup();
    if (Is(name, "pp")) {
        // New pole pairs: the electrical angle registers, then what the drive
        // will really use for the pole pairs and the resolution.
        Compute_ENC2THL(setup);
        Compute_DBTTH(setup);
        Compute_pp(setup);
        Compute_Resolution(setup);
        Compute_MECRESL(setup);
        RefreshParameterControls("pp");
        RefreshParameterControls("Resolution");
    } else if (Is(name, "Motor_transmission") || Is(name, "Load_transmission")) {
        ReplaceZeroTransmission(Is(name, "Motor_transmission") ? "Motor_transmission" : "Load_transmission");
    }
}

void CMotorSetupDialog::ReplaceZeroTransmission(const char* name)
{
    // A zero displacement would make the transmission ratio infinite.
    CMC_Parameter* p = FindQuietly(GetSetup(), name);
    if (p && p->GetValueInBaseUnit() == 0.0)
        p->SetValueInBaseUnit(2.0 * std::numbers::pi);
    RefreshParameterControls(name);
    UpdateData(false);
}

bool CMotorSetupDialog::RunTest(ModuleTest test, int testFlag)
{
    Recompute();
    if (RunModuleTest(test, GetSetup(), testFlag, nullptr) != IDOK)
        return false;
    Recompute();
    return true;
}

bool CMotorSetupDialog::OnCommand(int id)
{
    switch (id) {
    case 1175:
        if (RunTest(ModuleTest::PhaseConnections, 1))
            RefreshAllParameters(0);
        return true;
    case 1176:
        if (RunTest(ModuleTest::PolePairs, 1))
            RefreshAllParameters(0);
        return true;
    case 1177:
        if (RunTest(ModuleTest::ResistanceInductance, 0)) {
            OnRefreshParameterValue("R");
            OnRefreshParameterValue("L");
            RefreshParameterControls("R");
            RefreshParameterControls("L");
        }
        return true;
    case 3348:
        if (RunTest(ModuleTest::HallGainOffset, 1))
            RefreshAllParameters(0);
        return true;
    case 1188:
        if (RunTest(ModuleTest::HallSignals, 1))
            RefreshAllParameters(0);
        return true;
    case kLimitSwitchAdvice:
        ShowMessageBox(
            QStringLiteral("When there is only a position sensor on the motor and the load moves in "
                           "opposite direction (i.e. transmission is negative), the h/w limit switches "
                           "connections need to be reversed. \n\nConnect positive limit switch sensor to "
                           "drive's LSN input and negative limit switch sensor to drive's LSP input."),
            MB_OK | MB_ICONWARNING);
        return true;
    case 3381:
        UpdateData(false);
        return true;
    case 10024:
        OpenHelp(kHelpTopic);
        return true;
    case kCommandOK:
        OnOK();
        return true;
    default:
        return CMySetupDlg::OnCommand(id);
    }
}

void CMotorSetupDialog::OnOK()
{
    // The motor over temperature protection cannot stay on without a sensor.
    if (IntValue("isMotorTemperatureSensor") == 0) {
        if (CMC_Parameter* overTemp = FindQuietly(GetSetup(), "isMotorOverTemp"))
            overTemp->SetValueInBaseUnit(0.0);
    }
    CMySetupDlg::OnOK();
}
