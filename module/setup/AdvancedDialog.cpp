#include "AdvancedDialog.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "FiltersDialog.h"
#include "HostServices.h"
#include "Limits.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <QIcon>
#include <QLabel>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

constexpr int kTemplate = 110;
constexpr unsigned kHelpTopic = 262419;

// Controls of the template.
constexpr int kWithoutSpeedLoop = 3344;
constexpr int kWithSpeedLoop = 3345;
constexpr int kSchemePicture = 3280;
constexpr int kSpeedComputationGroup = 3353;
constexpr int kSpeedEstimatorCheck = 3355;
constexpr int kFeedForwardGroup = 3376;
constexpr int kFeedForwardToSpeedLoop = 3374;
constexpr int kFeedForwardToCurrentLoop = 3375;
constexpr int kFreezeGroup = 3396;
constexpr int kFreezeCheck = 3397;
constexpr int kFreezeFirstField = 3398;
constexpr int kFreezeLastField = 3403;
constexpr int kFastDividerLabel = 1131;
constexpr int kSlowDividerLabel = 1134;
constexpr int kFastPeriodLabel = 1140;
constexpr int kSlowPeriodLabel = 1143;
constexpr int kFastOutsideLimits = 1148;
constexpr int kSlowOutsideLimits = 1149;
constexpr int kFiltersButton = 3510;
constexpr int kHelpButton = 10024;

const QColor kWarningRed(255, 0, 0);
const QColor kNormalBlack(0, 0, 0);

// The control scheme pictures, in the order of m_schemes.
constexpr const char* kSchemeNames[] = {"BITMAP_3016", "BITMAP_3017", "BITMAP_3062", "BITMAP_3063"};
constexpr int kSchemeBitmaps[] = {3016, 3017, 3062, 3063};

void SetTextColour(QWidget* widget, const QColor& colour)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

std::vector<const CMC_UnitType*> DriveTypes(const CMC_Setup* setup,
                                            std::initializer_list<const char*> baseUnits)
{
    std::vector<const CMC_UnitType*> types;
    for (const char* base : baseUnits) {
        const auto found = setup->GetUnits().DriveTypesOfBaseUnit(base);
        types.insert(types.end(), found.begin(), found.end());
    }
    return types;
}

bool Contains(const std::vector<const CMC_UnitType*>& types, const CMC_UnitType* type)
{
    return std::find(types.begin(), types.end(), type) != types.end();
}

// Stores an internal value, held within the parameter's range. Returns true
// when the range cut it.
bool StoreWithinRange(CMC_Parameter* p, double internal)
{
    const double base = p->InternalToBase(internal);
    double held = base;
    if (held > p->GetMaxInBaseUnit())
        held = p->GetMaxInBaseUnit();
    if (held < p->GetMinInBaseUnit())
        held = p->GetMinInBaseUnit();
    if (held == base) {
        p->SetValueInInternalUnit(internal);
        return false;
    }
    p->SetValueInBaseUnit(held);
    return true;
}

bool DiffersBeyondRounding(double a, double b)
{
    return std::abs(a - b) > 1e-9 * std::max(std::abs(a), std::abs(b));
}

} // namespace

CAdvancedDialog::CAdvancedDialog(CMC_Setup* setup, QWidget* parent)
    : CMySetupDlg(setup, kTemplate, 1, {}, parent)
{
    AddSwitchParameterControls("PositionControlType", kWithoutSpeedLoop, kWithSpeedLoop);
    if (HasSpeedEstimatorOption(setup))
        AddCheckParameterControls("isSpeedEstimator", kSpeedEstimatorCheck);
    AddParameterControls("CLPER", 1132, 0);
    AddParameterControls("SLPER", 1135, 0);
    AddParameterControls("PWM_freq", 1129, 1130);
    AddParameterControls("Ts_C", 1141, 1142);
    AddParameterControls("Ts_S", 1144, 1145);
    AddParameterControls("PWMperiod", 1138, 1139);
    if (HasSpeedForward(setup))
        AddSwitchParameterControls("SpeedForward", kFeedForwardToSpeedLoop, kFeedForwardToCurrentLoop);
    if (HasFreezeControl(setup)) {
        AddCheckParameterControls("isFreezeControl", kFreezeCheck);
        AddParameterControls("FreezeControl_errband", 3400, 3401);
        AddParameterControls("FreezeControl_time", 3402, 3403);
    }
    // The warning labels keep their place while hidden, so nothing jumps.
    for (int id : {kFastOutsideLimits, kSlowOutsideLimits})
        if (QWidget* label = GetDlgItem(id)) {
            QSizePolicy policy = label->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            label->setSizePolicy(policy);
        }
}

CAdvancedDialog::~CAdvancedDialog() = default;

int CAdvancedDialog::IntValue(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? static_cast<int>(std::trunc(p->GetValueInBaseUnit())) : 0;
}

double CAdvancedDialog::BaseValue(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? p->GetValueInBaseUnit() : 0.0;
}

int CAdvancedDialog::OnInitDialog()
{
    m_original = GetSetup()->Clone();
    CMySetupDlg::OnInitDialog();
    LoadPictures();

    CMC_Setup* setup = GetSetup();
    const int mode = IntValue("ControlMode");
    ShowChild(kWithoutSpeedLoop, mode == 0);
    ShowChild(kWithSpeedLoop, mode == 0);
    EnableSpeedFeedForward();
    const bool freeze = HasFreezeControl(setup) && mode == 0;
    for (int id = kFreezeGroup; id <= kFreezeLastField; ++id)
        EnableChild(id, freeze);
    const bool estimator = ExistsQuietly(setup, "isSpeedEstimator");
    EnableChild(kSpeedComputationGroup, estimator);
    EnableChild(kSpeedEstimatorCheck, estimator);
    const bool filters = HasBiquadFilters(setup);
    ShowChild(kFiltersButton, filters);
    EnableChild(kFiltersButton, filters);

    m_referenceSlowPeriod = BaseValue("Ts_S");
    m_slowPeriodToKeep = m_referenceSlowPeriod;
    m_fastPeriodToKeep = BaseValue("Ts_C");

    ShowChild(kFastOutsideLimits, false);
    ShowChild(kSlowOutsideLimits, false);
    ApplyWarningColours();
    UpdateData(false);
    return 1;
}

void CAdvancedDialog::LoadPictures()
{
    auto* picture = Item<QLabel>(kSchemePicture);
    const QSize size = picture && picture->minimumSize().isValid() && !picture->minimumSize().isEmpty()
                           ? picture->minimumSize()
                           : QSize(360, 150);
    for (std::size_t i = 0; i < m_schemes.size(); ++i)
        m_schemes[i] = QIcon(PicturePath(kSchemeNames[i])).pixmap(size);
}

void CAdvancedDialog::ShowSchemePicture()
{
    const int mode = IntValue("ControlMode");
    std::size_t index = 3;
    if (mode == 0)
        index = IntValue("PositionControlType") == 1 ? 0 : 1;
    else if (mode == 1)
        index = 2;
    m_schemeBitmap = kSchemeBitmaps[index];
    if (auto* picture = Item<QLabel>(kSchemePicture))
        picture->setPixmap(m_schemes[index]);
}

void CAdvancedDialog::EnableSpeedFeedForward()
{
    const int mode = IntValue("ControlMode");
    const bool feedForward = HasSpeedForward(GetSetup()) && mode != 2;
    EnableChild(kFeedForwardGroup, feedForward);
    EnableChild(kFeedForwardToCurrentLoop, feedForward);
    EnableChild(kFeedForwardToSpeedLoop, feedForward && mode == 0 && IntValue("PositionControlType") == 1);
}

void CAdvancedDialog::DoDataExchange(bool saveAndValidate)
{
    CMySetupDlg::DoDataExchange(saveAndValidate);
    if (saveAndValidate)
        return;
    ShowSchemePicture();
    EnableSpeedFeedForward();
    const bool freezeFields =
        HasFreezeControl(GetSetup()) && IntValue("isFreezeControl") == 1 && IntValue("ControlMode") == 0;
    for (int id = kFreezeFirstField; id <= kFreezeLastField; ++id)
        EnableChild(id, freezeFields);
}

void CAdvancedDialog::ApplyWarningColours()
{
    SetTextColour(GetDlgItem(kFastDividerLabel), m_fastColour);
    SetTextColour(GetDlgItem(kFastPeriodLabel), m_fastColour);
    SetTextColour(GetDlgItem(kSlowDividerLabel), m_slowColour);
    SetTextColour(GetDlgItem(kSlowPeriodLabel), m_slowColour);
    SetTextColour(GetDlgItem(kFastOutsideLimits), kWarningRed);
    SetTextColour(GetDlgItem(kSlowOutsideLimits), kWarningRed);
}

bool CAdvancedDialog::OnCommand(int id)
{
    switch (id) {
    case kWithoutSpeedLoop:
    case kWithSpeedLoop:
        UpdateData(false);
        return true;
    case kFiltersButton:
        OpenFilters();
        return true;
    case kHelpButton:
        OpenHelp(kHelpTopic);
        return true;
    default:
        return CMySetupDlg::OnCommand(id);
    }
}

void CAdvancedDialog::OpenFilters()
{
    if (!HasBiquadFilters(GetSetup()))
        return;
    Recompute();
    CFiltersDialog filters(GetSetup(), 0, this);
    if (filters.DoModal() != IDOK)
        return;
    Recompute();
    RefreshAllParameters(0);
    UpdateData(false);
}

void CAdvancedDialog::SetDivider(const char* name, double value)
{
    CMC_Parameter* p = FindQuietly(GetSetup(), name);
    if (!p)
        return;
    // A divider the drive cannot hold (0 at a low PWM frequency, or past its
    // register) is kept within the divider's range.
    value = std::min(value, p->GetMaxInBaseUnit());
    value = std::max(value, p->GetMinInBaseUnit());
    p->SetValueInBaseUnit(value);
}

void CAdvancedDialog::OnChangedParameterValue(const char* name)
{
    if (!EqualsIgnoringCase(name, "PWM_freq"))
        return;
    CMC_Setup* setup = GetSetup();
    Compute_PWMPER(setup);
    Compute_SATPWM(setup);
    Compute_PWMperiod(setup);
    const double dsp = BaseValue("DSP_freq");     // [Hz]
    const double pwmPeriod = BaseValue("PWMPER"); // [half processor cycles]
    if (pwmPeriod > 0.0) {
        SetDivider("CLPER", std::floor(dsp * m_fastPeriodToKeep * 0.5 / pwmPeriod + 0.5));
        SetDivider("SLPER", std::floor(dsp * m_slowPeriodToKeep * 0.5 / pwmPeriod + 0.5));
    }
    Compute_Ts_S(setup);
    Compute_Ts_C(setup);
    for (const char* shown : {"CLPER", "SLPER", "Ts_S", "Ts_C", "PWMperiod"})
        RefreshParameterControls(shown);
    UpdateData(false);
}

void CAdvancedDialog::OnRefreshParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    const bool fastDivider = EqualsIgnoringCase(name, "CLPER");
    bool slowDivider = EqualsIgnoringCase(name, "SLPER");

    // The slow loop is never faster than the fast loop. Raising it is a slow
    // period change like any other: the loop-counted values follow it.
    CMC_Parameter* clper = FindQuietly(setup, "CLPER");
    CMC_Parameter* slper = FindQuietly(setup, "SLPER");
    if (clper && slper && clper->GetValueInBaseUnit() > slper->GetValueInBaseUnit()) {
        slper->SetValueInBaseUnit(clper->GetValueInBaseUnit());
        slowDivider = true;
    }

    Compute_Ts_S(setup);
    Compute_Ts_C(setup);
    Compute_PWMPER(setup);
    Compute_SATPWM(setup);
    Compute_PWMperiod(setup);
    if (HasSpeedForward(setup))
        EnforceSpeedFeedForward(setup);

    const bool pwm = EqualsIgnoringCase(name, "PWM_freq");
    if (slowDivider || pwm)
        FollowSlowLoopPeriod();

    // A new PWM frequency moves both periods, so both warnings are checked.
    if (fastDivider || pwm)
        CheckLoopPeriod(MinimumCurrentLoopPeriod(setup), "Ts_C", m_fastColour, kFastOutsideLimits);
    if (slowDivider || pwm)
        CheckLoopPeriod(MinimumSpeedLoopPeriod(setup), "Ts_S", m_slowColour, kSlowOutsideLimits);
    if (fastDivider)
        m_fastPeriodToKeep = BaseValue("Ts_C");
    if (slowDivider)
        m_slowPeriodToKeep = BaseValue("Ts_S");

    RefreshAllParameters(0);
    UpdateData(false);
}

void CAdvancedDialog::FollowSlowLoopPeriod()
{
    CMC_Setup* setup = GetSetup();
    const double period = BaseValue("Ts_S"); // [s]
    double ratio = 1.0;
    if (m_referenceSlowPeriod > 0.0 && m_referenceSlowPeriod != period) {
        ratio = m_referenceSlowPeriod / period;
        m_referenceSlowPeriod = period;
    }
    if (ratio != 1.0) {
        // The I2t times in seconds as they were before the change.
        const double driveTime = BaseValue("t_I2t_D") * ratio;
        const double motorTime = BaseValue("t_I2t_M") * ratio;
        // Ranges that count slow-loop samples follow the new period first, so a
        // value the drive can no longer hold is cut to what it can.
        Recompute();
        ComputeParameterLimits(setup);
        RescaleLoopCountedValues(ratio);
        CorrectI2tCurrent("I_I2t_D", "t_I2t_D", driveTime);
        CorrectI2tCurrent("I_I2t_M", "t_I2t_M", motorTime);
    }
    Recompute();
}

void CAdvancedDialog::RescaleLoopCountedValues(double ratio)
{
    CMC_Setup* setup = GetSetup();
    const auto times = DriveTypes(setup, {"s"});
    const auto speeds = DriveTypes(setup, {"rad/s", "m/s"});
    const auto accelerations = DriveTypes(setup, {"rad/s^2", "m/s^2"});
    const auto currentRates = DriveTypes(setup, {"A/s"});

    const auto& parameters = setup->GetParameters();
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        CMC_Parameter* p = parameters[i].get();
        // Computed values and constants follow the registers; physical values
        // hold SI units and do not count samples.
        if (p->GetType() == PT_COMPUTED || p->GetType() == PT_READ_ONLY || !p->IsDriveScaled())
            continue;
        const CMC_UnitType* type = &p->UnitType();
        double factor = 0.0;
        if (Contains(times, type))
            factor = ratio;
        else if (Contains(speeds, type) || Contains(currentRates, type))
            factor = 1.0 / ratio;
        else if (Contains(accelerations, type))
            factor = 1.0 / ratio / ratio;
        else
            continue;
        const double rescaled = p->GetValueInInternalUnit() * factor;
        // The model stores any value; a rescaled value outside the range is
        // stored clamped to the range, and that counts as the range cutting it.
        // The setup is then recomputed, which may move dependent ranges, and
        // the value is stored once more.
        if (StoreWithinRange(p, rescaled)) {
            Recompute();
            StoreWithinRange(p, rescaled);
        }
    }
}

// Keeps current squared times time of an I2t protection when the range of its
// time cut the rescaled time.
void CAdvancedDialog::CorrectI2tCurrent(const char* current, const char* time, double expectedTime)
{
    CMC_Parameter* i = FindQuietly(GetSetup(), current);
    const CMC_Parameter* t = FindQuietly(GetSetup(), time);
    if (!i || !t)
        return;
    const double held = t->GetValueInBaseUnit(); // [s]
    if (held > 0.0 && DiffersBeyondRounding(held, expectedTime))
        i->SetValueInBaseUnit(i->GetValueInBaseUnit() * std::sqrt(expectedTime / held));
}

void CAdvancedDialog::CheckLoopPeriod(double minimum, const char* period, QColor& colour, int labelId)
{
    if (minimum <= 0.0)
        return;
    const bool below = BaseValue(period) < minimum;
    colour = below ? kWarningRed : kNormalBlack;
    ShowChild(labelId, below);
    ApplyWarningColours();
    update();
}

void CAdvancedDialog::OnOK()
{
    CMC_Setup* setup = GetSetup();
    const double fastMinimum = MinimumCurrentLoopPeriod(setup); // [s]
    const double slowMinimum = MinimumSpeedLoopPeriod(setup);
    bool refused = false;
    if (fastMinimum > 0.0 && fastMinimum > BaseValue("Ts_C")) {
        ShowMessageBox(
            QString::asprintf("The minimum value for Fast loop sampling period is %.3f ms!\nPlease "
                              "adjust the PWM frequency and/or the Fast loop sampling frequency "
                              "divider until this condition is fulfilled!",
                              fastMinimum * 1000.0),
            MB_OK | MB_ICONWARNING);
        refused = true;
    }
    if (slowMinimum > 0.0 && slowMinimum > BaseValue("Ts_S")) {
        ShowMessageBox(
            QString::asprintf("The minimum value for Slow loop sampling period is %.3f ms!\nPlease "
                              "adjust the PWM frequency and/or the Slow loop sampling frequency "
                              "divider until this condition is fulfilled!",
                              slowMinimum * 1000.0),
            MB_OK | MB_ICONWARNING);
        refused = true;
    }
    if (!refused)
        EndDialog(IDOK);
}

void CAdvancedDialog::OnCancel()
{
    if (m_original)
        GetSetup()->AssignFrom(*m_original);
    EndDialog(IDCANCEL);
}
