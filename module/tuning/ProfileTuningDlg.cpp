#include "ProfileTuningDlg.h"

#include "Comm.h"
#include "EngineCore.h"
#include "Errors.h"
#include "FiltersDialog.h"
#include "HostServices.h"
#include "InertiaQuestion.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"
#include "Setup.h"
#include "TestSequence.h"
#include "TotalInertiaTest.h"
#include "TuningSupport.h"

#include <QPalette>
#include <QShowEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kProtectionBelowLimit =
    "Over current protection must be greater than Drive current limit. Recommended value for Drive current "
    "limit is maximum 90% of Over current protection.";
constexpr const char* kInertiaBelowMotor =
    "You have chosen a value for the total inertia that is lower than the value of the motor "
    "inertia.\nThe application will assume the motor inertia is unknown.";
constexpr const char* kStartCurrentAboveNominal =
    "You have set a start current bigger than the nominal current! The start current will be applied for "
    "%.2f s.\n\nThe motor must withstand this over current condition or it may be damaged.";
constexpr const char* kScopeNotTriggered =
    "The test ended before the oscilloscope was triggered: the reference did not cross the trigger level. "
    "Check the oscilloscope's trigger, or use the data logger.";
constexpr const char* kSegmentErrors[] = {
    "",
    "Distances between consecutive points on X axis must be greater than 0 and below 32768.",
    "Reference variation between two consecutive points is too big (slope overflow).",
};

constexpr int kDetails = 10003;
constexpr int kStartCurrentControls[] = {3285, 3287, 3286, 0};
constexpr int kInertiaRatioControls[] = {1384, 1385, 1386, 1387, 1388, 0};
constexpr int kReferenceTypeControls[] = {1323, 3528, 3529, 3530, 0};
constexpr const char* kCurrentChannels[] = {"Current_Reference", "Motor_Current"};
constexpr std::uint16_t kMaskRunning = 0xFFDF;
constexpr int kScopePollMs = 1;

// How the logged columns are drawn.
constexpr CurveStyle kLoggerCurves[] = {{1, 1, 2}, {2, 3, 8}, {1, 2, 5}, {2, 4, 9}};
constexpr int kScopeColors[] = {2, 5, 8, 9};
constexpr int kScopeGridColor = 4;

// The dialog that receives the drive's scope frames, one per test.
CProfileTuningDlg* g_scopeDialogs[2] = {nullptr, nullptr};
int ScopeSlot(const ProfileLoop& loop)
{
    return loop.templateId == 102 ? 0 : 1;
}

// The legend of the plain plot's values is drawn in the channels' colours.
void ColorText(QWidget* control, const QColor& color)
{
    if (control == nullptr)
        return;
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, color);
    control->setPalette(palette);
}

} // namespace

struct ProfileScopeHandler {
    static void Receive(int slot, const UnsolicitedFrame& frame)
    {
        if (CProfileTuningDlg* dialog = g_scopeDialogs[slot])
            dialog->OnScopeFrame(frame);
    }
};

CProfileTuningDlg::CProfileTuningDlg(CMC_Setup* setup, int flag, QWidget* parent, const ProfileLoop& loop,
                                     const char* mainProgram)
    : CTuningTestDlg(setup, loop.templateId, flag, parent, loop.helpTopic, mainProgram,
                     std::span(loop.procedure, 5), loop.parametersPage, loop.testPage),
      m_loop(loop), m_mainProgram(mainProgram)
{
    AddParameterControls("TestLimitCurrent", 3284, 3283);
    AddParameterControls("TestProtectionCurrent", 3281, 3279);
    AddParameterControls("TestStartCurrent", 3287, 3286);
    AddParameterControls("Jt", 3270, 3288);
    AddParameterControls(loop.finalValue, loop.finalEdit, loop.finalUnit);
    AddParameterControls(loop.times[0], 1314, 1315);
    AddParameterControls(loop.times[1], 1317, 1318);
    AddParameterControls(loop.times[2], 1327, 1328);
    AddParameterControls(loop.times[3], 1330, 1331);
    AddSwitchParameterControls(loop.onlineSwitch, kDataLogger, kOnlinePlot);
    AddCheckParameterControls(loop.multiCycle, 1332);
    if (HasSpeedTestReferenceType(setup))
        AddSwitchParameterControls(loop.referenceType, 3528, 3530);
    // The feed-forward gains and the inertia ratio of both loops.
    AddSliderParameterControls("KFFS_scl", 1354, 1352, 0, 1353, 1355);
    AddSliderParameterControls("KFFA_scl", 1359, 1357, 0, 1358, 1360);
    AddSliderParameterControls("Jload_over_J", 1387, 1385, 0, 1386, 1388);
    SnapFinalValue();
    m_logger = std::make_unique<CMC_SingleAxisLogger>(setup, nullptr);
    if (setup->GetIntOption("hasOscilloscope") != 0) {
        m_scope = std::make_unique<CMC_ScopeLogger>(setup, nullptr);
        const int slot = ScopeSlot(loop);
        g_scopeDialogs[slot] = this;
        m_previousHandler = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(
            [slot](const UnsolicitedFrame& frame) { ProfileScopeHandler::Receive(slot, frame); });
    }
}

CProfileTuningDlg::~CProfileTuningDlg()
{
    if (m_scope) {
        CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(m_previousHandler);
        CProfileTuningDlg*& registered = g_scopeDialogs[ScopeSlot(m_loop)];
        if (registered == this)
            registered = nullptr;
    }
}

// ---- Settings read from the setup -----------------------------------------------------------------------

bool CProfileTuningDlg::OnlineMode() const
{
    return IsOn(GetSetup(), m_loop.onlineSwitch);
}

bool CProfileTuningDlg::MultiCycle() const
{
    return IsOn(GetSetup(), m_loop.multiCycle);
}

int CProfileTuningDlg::ReferenceTypeValue() const
{
    CMC_Setup* setup = GetSetup();
    if (!HasSpeedTestReferenceType(setup))
        return 0;
    const CMC_Parameter* type = FindQuietly(setup, m_loop.referenceType);
    return type ? static_cast<int>(TruncRegister(type->GetValueInBaseUnit())) : 0;
}

double CProfileTuningDlg::ParameterInBase(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? p->GetValueInBaseUnit() : 0.0;
}

double CProfileTuningDlg::ParameterInternal(const char* name) const
{
    const CMC_Parameter* p = FindQuietly(GetSetup(), name);
    return p ? p->GetValueInInternalUnit() : 0.0;
}

double CProfileTuningDlg::FinalValue() const
{
    return ParameterInBase(m_loop.finalValue);
}

void CProfileTuningDlg::SnapFinalValue()
{
    CMC_Setup* setup = GetSetup();
    CMC_Parameter* final = FindQuietly(setup, m_loop.finalValue);
    if (final == nullptr)
        return;
    const double snapped = ::SnapFinalValue(final->GetValueInBaseUnit(), m_loop.scale(setup));
    if (snapped != final->GetValueInBaseUnit())
        final->SetValueInBaseUnit(snapped);
}

// ---- Start-up ---------------------------------------------------------------------------------------------

int CProfileTuningDlg::OnInitDialog()
{
    const int result = CTuningTestDlg::OnInitDialog();
    CMC_Setup* setup = GetSetup();
    ShowPictures();
    m_pause.AutoLoad(kPause, this);
    m_continue.AutoLoad(kContinue, this);
    SetChildText(m_loop.valueTexts[2], QString());
    SetChildText(m_loop.valueTexts[3], QString());
    ColorText(GetDlgItem(kLegendReference), RGB16(2));
    ColorText(GetDlgItem(kLegendActual), RGB16(5));
    SetUpLogger();
    if (m_scope)
        SetUpScope();
    else
        m_plainPlot.Attach(this, kScopeGraph);
    if (ParameterInBase("Jt") < ParameterInBase("Jm") && !IsOn(setup, "isMotorInertiaUnknown")) {
        CInertiaQuestion question(setup, this);
        question.DoModal();
    }
    if (CMC_Parameter* ratio = FindQuietly(setup, "Jload_over_J"); ratio && ParameterInBase("Jm") != 0.0)
        ratio->SetValueInBaseUnit((ParameterInBase("Jt") - ParameterInBase("Jm")) / ParameterInBase("Jm"));
    EnableChild(kFilters, HasBiquadFilters(setup));
    RefreshAllParameters(0);
    return result;
}

void CProfileTuningDlg::ShowPictures()
{
    const bool startMode = ParameterInBase("StartMode") == 1.0;
    SetButtonImage(kLimitsPicture, m_loop.limitsPicture[startMode ? 1 : 0]);
    static constexpr const char* kProfilePictures[] = {"BITMAP_314", "BITMAP_3067", "BITMAP_3066"};
    const int type = ReferenceTypeValue();
    SetButtonImage(kProfilePicture, kProfilePictures[type == 1 || type == 2 ? type : 0]);
}

void CProfileTuningDlg::SetUpLogger()
{
    const std::array<const char*, 4> logged = LoggedVariables();
    SetUpLogOnGraph(*m_logger, kLogPoints, CMC_Logger::LogSpeedLoop, logged, kLoggerCurves, m_graph, this,
                    kGraph);
}

void CProfileTuningDlg::SetUpScope()
{
    SetChildText(kOnlinePlot, QStringLiteral("Scope"));
    m_settingsChanged = m_scope->LoadSettingsFromSetupOption(m_loop.scopeOption) != 0;
    if (!m_settingsChanged)
        BuildScopeDefaults();
    AttachScopeGraph();
}

void CProfileTuningDlg::AttachScopeGraph()
{
    m_scopeGraph.SubclassDlgItem(kScopeGraph, this, m_scope->GetGraphDocument().GetAt(0));
    m_scopeGraph.Initialize();
    m_scopeGraph.RefreshGraph();
}

void CProfileTuningDlg::BuildScopeDefaults()
{
    for (const char* name : LoggedVariables())
        m_scope->AddVariable(name, 1);
    CGraphFilter* filter = m_scope->GetGraphDocument().GetAt(0);
    filter->SetColor(RGB16(kScopeGridColor).rgb());
    filter->Values() = {-4.2, -3.5};
    for (int column = 1; column <= 4; ++column)
        filter->Add(CXYCurve(1, 0, column, 2, RGB16(kScopeColors[column - 1]).rgb()));
    RescaleReferenceChannels();
    RescaleLowerLoopChannels();
    UpdateTrigger();
}

// ---- Scope scales and trigger -----------------------------------------------------------------------------

void CProfileTuningDlg::RescaleReferenceChannels()
{
    const CMC_Parameter* final = FindQuietly(GetSetup(), m_loop.finalValue);
    if (!HasScopeDefaults() || final == nullptr)
        return;
    const double division = DivisionFor(std::fabs(final->GetValue()) * 0.25);
    const double offset = final->GetValueInBaseUnit() >= 0.0 ? 0.0 : -4.0 * division;
    const std::array<const char*, 4> logged = LoggedVariables();
    for (int channel = 0; channel < 2; ++channel)
        m_scope->RescaleVariable(logged[channel], final->GetUnitName(), division, offset);
}

void CProfileTuningDlg::RescaleCurrentChannels()
{
    const CMC_Parameter* limit = FindQuietly(GetSetup(), "TestLimitCurrent");
    if (!HasScopeDefaults() || limit == nullptr)
        return;
    const double division = DivisionFor(limit->GetValue() / 3.0);
    for (const char* name : kCurrentChannels)
        m_scope->RescaleVariable(name, limit->GetUnitName(), division, 2.0 * division);
}

void CProfileTuningDlg::UpdateTrigger()
{
    if (!HasScopeDefaults())
        return;
    const double tp = ParameterInBase(m_loop.times[0]);
    const double tn = ParameterInBase(m_loop.times[1]);
    const double tap = ParameterInBase(m_loop.times[2]);
    const double tan = ParameterInBase(m_loop.times[3]);
    const int type = ReferenceTypeValue();
    const double full = 2.0 * tap + tp + 2.0 * tan + tn;
    if (!ExistsQuietly(GetSetup(), m_loop.finalValue)) {
        m_scope->ChangeSettings(type == 2 ? full : tap + tp + tan + tn, CMC_ScopeLogger::TriggerAuto,
                                CMC_ScopeLogger::SlopeRising, nullptr, 0.0, 0);
    } else {
        const double span = type == 2 ? full : tap + tp + tan + std::min(tap, tan);
        const TriggerPoint trigger = ScopeTrigger(FinalValue(), type);
        const int preTrigger = static_cast<int>(std::ceil(100.0 * tap / span));
        m_scope->ChangeSettings(
            span, MultiCycle() ? CMC_ScopeLogger::TriggerNormal : CMC_ScopeLogger::TriggerSingle,
            trigger.slope, trigger.variable, trigger.level, preTrigger);
    }
    m_scope->LocateItems();
}

// ---- Pages and display rules ------------------------------------------------------------------------------

const char* CProfileTuningDlg::TestPageRefusal() const
{
    return ParameterInBase("TestLimitCurrent") > ParameterInBase("TestProtectionCurrent")
               ? kProtectionBelowLimit
               : nullptr;
}

void CProfileTuningDlg::PageShown(int page)
{
    if (page == 1) {
        if (m_nResult == 1)
            TestSucceeded(0);
        else if (m_nResult == 0 && !m_strError.empty())
            TestFailed(0);
    }
    UpdateData(false);
}

void CProfileTuningDlg::UpdateControls()
{
    CMC_Setup* setup = GetSetup();
    const bool idle = m_bRunning == 0;
    const bool online = OnlineMode();
    const bool testPage = m_page == 1;
    EnableChild(IDOK, idle);
    EnableChild(kDataLogger, idle);
    EnableChild(m_loop.identify, idle);
    EnableChild(kOnlinePlot, idle && (MultiCycle() || m_scope));
    if (m_scope) {
        ShowChild(kPause, false);
        ShowChild(kContinue, false);
    } else {
        EnableChild(kPause, m_plainPlotRunning && !m_paused);
        EnableChild(kContinue, m_plainPlotRunning && m_paused);
    }
    const bool gainsOpen = idle || online;
    EnableChildren(m_loop.gainGroup, gainsOpen);
    UpdateFeedForwardControls();
    if (!gainsOpen)
        EnableChildren(m_loop.gainGroup, false);
    EnableChild(kSavePlots, testPage && !(online && !m_scope));
    ShowChild(kGraph, testPage && !online);
    ShowChild(kScopeGraph, testPage && online);
    const bool plainValues = testPage && !idle && online && !m_scope;
    for (int id : m_loop.valueTexts)
        ShowChild(id, plainValues);
    ShowChild(kLegendReference, plainValues);
    ShowChild(kLegendActual, plainValues);
    ShowChildren(kStartCurrentControls, m_page == 0 && ParameterInBase("StartMode") == 0.0);
    EnableChildren(kInertiaRatioControls, !IsOn(setup, "isMotorInertiaUnknown"));
    ShowChild(kFilters, testPage);
    ShowChildren(kReferenceTypeControls, m_page == 0 && HasSpeedTestReferenceType(setup));
    ShowChild(kDetails, testPage && m_nResult != -1 && !m_strError.empty());
}

// ---- Parameter handling -----------------------------------------------------------------------------------

void CProfileTuningDlg::OnChangedParameterValue(const char* name)
{
    ConvertGain(name);
    const bool final = IsName(name, m_loop.finalValue);
    if (final) {
        SnapFinalValue();
        RescaleReferenceChannels();
    }
    if (final || IsName(name, "TestLimitCurrent") || IsName(name, m_loop.times[2]) ||
        IsName(name, m_loop.times[3]))
        RescaleLowerLoopChannels();
    if (final || IsName(name, m_loop.multiCycle) || IsName(name, m_loop.referenceType))
        UpdateTrigger();
    for (const char* time : m_loop.times)
        if (IsName(name, time))
            UpdateTrigger();
    if (IsName(name, "Jt") || IsName(name, "Jload_over_J"))
        InertiaChanged(name);
    if (IsName(name, m_loop.multiCycle) && !m_scope && !MultiCycle()) {
        if (CMC_Parameter* online = FindQuietly(GetSetup(), m_loop.onlineSwitch))
            online->SetValueInBaseUnit(0.0);
        RefreshAllParameters(0);
    }
    CTuningTestDlg::OnChangedParameterValue(name);
}

void CProfileTuningDlg::OnChangedParameterUnit(const char* name)
{
    if (IsName(name, m_loop.finalValue))
        RescaleReferenceChannels();
    if (IsName(name, m_loop.finalValue) || IsName(name, "TestLimitCurrent"))
        RescaleLowerLoopChannels();
    CTuningTestDlg::OnChangedParameterUnit(name);
}

void CProfileTuningDlg::ConvertGain(const char* name)
{
    if (const LoopGain* gain = FindGain(m_loop.gains, name))
        ConvertLoopGain(GetSetup(), *gain);
    else
        ConvertFeedForwardGain(name);
}

void CProfileTuningDlg::WriteGainToDrive(const char* name)
{
    if (const LoopGain* gain = FindGain(m_loop.gains, name))
        WriteRegistersToDrive(GetSetup(), gain->registers);
    else
        WriteFeedForwardToDrive(name);
}

void CProfileTuningDlg::ConvertFeedForwardGain(const char* name)
{
    CMC_Setup* setup = GetSetup();
    if (IsName(name, "KFFS_scl")) {
        Compute_SFTSFFW(setup);
        Compute_KFFS(setup);
        Compute_KFFA(setup);
    } else if (IsName(name, "KFFA_scl") &&
               (!m_loop.accelerationNeedsMotorInertia || !IsOn(setup, "isMotorInertiaUnknown"))) {
        Compute_SFTAFFW(setup);
        Compute_SFTKFF(setup);
        Compute_KFFA(setup);
    }
}

void CProfileTuningDlg::WriteFeedForwardToDrive(const char* name)
{
    if (IsName(name, "KFFS_scl"))
        WriteRegistersToDrive(GetSetup(), {"SFTSFFW", "KFFS", "KFFA"});
    else if (IsName(name, "KFFA_scl"))
        WriteRegistersToDrive(GetSetup(), {"SFTAFFW", "SFTKFF", "KFFA"});
}

void CProfileTuningDlg::InertiaChanged(const char* name)
{
    CMC_Setup* setup = GetSetup();
    CMC_Parameter* jt = FindQuietly(setup, "Jt");
    CMC_Parameter* ratio = FindQuietly(setup, "Jload_over_J");
    const double jm = ParameterInBase("Jm");
    if (jt == nullptr || ratio == nullptr || jm == 0.0 || IsOn(setup, "isMotorInertiaUnknown"))
        return;
    if (IsName(name, "Jt")) {
        ratio->SetValueInBaseUnit((jt->GetValueInBaseUnit() - jm) / jm);
        RefreshParameterControls("Jload_over_J");
    } else {
        jt->SetValueInBaseUnit((ratio->GetValueInBaseUnit() + 1.0) * jm);
        RefreshParameterControls("Jt");
    }
}

void CProfileTuningDlg::OnRefreshParameterValue(const char* name)
{
    CMC_Setup* setup = GetSetup();
    if (m_bRunning)
        WriteGainToDrive(name);
    if (IsName(name, "Jt") && ParameterInBase("Jt") < ParameterInBase("Jm") &&
        !IsOn(setup, "isMotorInertiaUnknown")) {
        ShowMessageBox(QString::fromUtf8(kInertiaBelowMotor), MB_OK | MB_ICONWARNING);
        if (CMC_Parameter* unknown = FindQuietly(setup, "isMotorInertiaUnknown"))
            unknown->SetValueInBaseUnit(1.0);
        UpdateData(false);
    }
    if (IsName(name, "TestStartCurrent") && ParameterInBase("TestStartCurrent") > 100.0)
        WarnAboutStartCurrent();
    if (IsName(name, m_loop.referenceType)) {
        ShowPictures();
        UpdateTrigger();
    }
    CTuningTestDlg::OnRefreshParameterValue(name);
}

void CProfileTuningDlg::WarnAboutStartCurrent()
{
    char text[512];
    std::snprintf(text, sizeof text, kStartCurrentAboveNominal, 2.0 * ParameterInBase("time_AB"));
    ShowMessageBox(QString::fromUtf8(text), MB_OK | MB_ICONWARNING);
    activateWindow();
}

// ---- Commands ---------------------------------------------------------------------------------------------

bool CProfileTuningDlg::OnCommand(int id)
{
    if (id == m_loop.identify) {
        Identify();
        return true;
    }
    switch (id) {
    case 10000:
        if (m_bRunning && OnlineMode() && m_scope && m_scope->UploadInProgress()) {
            m_scope->EndUploadData();
            if (m_scope->UploadInProgress())
                return true;
            m_bStoppable = 0;
            m_bStopRequest = 1;
        }
        OnBtnStartStop();
        return true;
    case kDataLogger:
    case kOnlinePlot:
        UpdateData(true);
        RefreshAllParameters(0);
        return true;
    case kTune:
        Tune();
        return true;
    case kFilters:
        EditFilters();
        return true;
    case kPause:
    case kContinue:
        m_paused = id == kPause;
        EnableChild(kPause, !m_paused);
        EnableChild(kContinue, m_paused);
        return true;
    case kSavePlots:
    case kSavePlotsCommand:
        SavePlots();
        return true;
    case kSavePicture:
        SavePicture();
        return true;
    case kExportData:
        ExportData();
        return true;
    case kScopeSettings:
    case kScopeDefaults:
    case kScopeAutoscale:
    case kScopeLoad:
    case kScopeSave:
        ScopeCommand(id);
        return true;
    default:
        return CTuningTestDlg::OnCommand(id);
    }
}

void CProfileTuningDlg::Identify()
{
    CTotalInertiaTest test(GetSetup(), 1, this);
    if (test.DoModal() != IDOK)
        return;
    InertiaChanged("Jt");
    RefreshAllParameters(0);
}

void CProfileTuningDlg::EditFilters()
{
    CMC_Setup* setup = GetSetup();
    if (!HasBiquadFilters(setup))
        return;
    ComputeRegistersFromParameters(setup);
    ComputeParametersFromRegisters(setup);
    CFiltersDialog filters(setup, m_bRunning, this);
    if (filters.DoModal() == IDOK) {
        ComputeRegistersFromParameters(setup);
        ComputeParametersFromRegisters(setup);
        if (m_bRunning)
            WriteFiltersToDrive(setup);
    }
    UpdateData(false);
}

void CProfileTuningDlg::SavePlots()
{
    if (m_bRunning)
        return;
    CMC_Logger* logger = OnlineMode() && m_scope ? static_cast<CMC_Logger*>(m_scope.get()) : m_logger.get();
    if (!logger->SaveGraph(m_loop.plotFile))
        ShowMessageBox(QString::fromStdString(GetLastErrorText()), MB_OK | MB_ICONERROR);
}

void CProfileTuningDlg::SavePicture()
{
    if (m_bRunning)
        return;
    CGraphWindow& graph = OnlineMode() && m_scope ? m_scopeGraph : m_graph;
    if (!graph.CreateWMF(m_loop.plotFile))
        ShowMessageBox(QString::fromStdString(GetLastErrorText()), MB_OK | MB_ICONERROR);
}

void CProfileTuningDlg::ExportData()
{
    if (m_bRunning)
        return;
    CGraphWindow& graph = OnlineMode() && m_scope ? m_scopeGraph : m_graph;
    if (graph.Filter() == nullptr || !graph.Filter()->ExportToASCII(m_loop.plotFile))
        ShowMessageBox(QString::fromStdString(GetLastErrorText()), MB_OK | MB_ICONERROR);
}

void CProfileTuningDlg::ScopeCommand(int id)
{
    if (!m_scope || m_bRunning)
        return;
    switch (id) {
    case kScopeSettings:
    case kScopeAutoscale:
        if ((id == kScopeSettings ? m_scope->Edit(this) : m_scope->Autoscale()) != 0) {
            m_settingsChanged = true;
            m_scopeGraph.Invalidate();
            m_scopeGraph.RefreshGraph();
        }
        return;
    case kScopeDefaults:
        if (!m_settingsChanged)
            return;
        m_settingsChanged = false;
        m_scope->SetDefaultValues();
        BuildScopeDefaults();
        AttachScopeGraph();
        return;
    default: {
        const bool load = id == kScopeLoad;
        QString name = QString::fromUtf8(m_loop.plotFile);
        if (!DoPromptScopeLoggerFileName(load ? 1 : 0, name, this))
            return;
        const QByteArray file = name.toUtf8();
        if (!load) {
            if (!m_scope->Save(file.constData()))
                ShowMessageBox(QString::fromStdString(GetLastErrorText()), MB_OK | MB_ICONERROR);
            return;
        }
        m_settingsChanged = true;
        m_scope->Load(file.constData());
        AttachScopeGraph();
    }
    }
}

void CProfileTuningDlg::OnContextMenu(QWidget* control, const QPoint& globalPos)
{
    if (control != nullptr && control == GetDlgItem(kScopeGraph) && m_scope && !m_bRunning)
        TrackPopupMenu(kScopeMenu, 0, globalPos);
}

void CProfileTuningDlg::OnWindowMessage(int message, unsigned wParam, unsigned lParam)
{
    if (message != kScaleMessage || !m_scope)
        return;
    if (m_scope->ChangeChannelScale(static_cast<int>(lParam & 0xFFFFu), static_cast<int>(lParam >> 16)) == 0)
        return;
    m_settingsChanged = true;
    CGraphWindow& graph = static_cast<int>(wParam) == kGraph ? m_graph : m_scopeGraph;
    graph.Invalidate();
    graph.RefreshGraph();
}

void CProfileTuningDlg::OnOK()
{
    CMC_Setup* setup = GetSetup();
    CTuningTestDlg::OnOK();
    if (m_settingsChanged && m_scope)
        m_scope->SaveSettingsToSetupOption(m_loop.scopeOption);
    else
        setup->ClearOption(m_loop.scopeOption);
    static constexpr std::pair<const char*, const char*> kKept[] = {{"IlimPS", "TestLimitCurrent"},
                                                                    {"StartCurrent", "TestStartCurrent"}};
    for (const auto& [target, source] : kKept)
        if (CMC_Parameter* p = FindQuietly(setup, target); p && ExistsQuietly(setup, source))
            p->SetValueInBaseUnit(ParameterInBase(source));
}

void CProfileTuningDlg::OnDestroyDialog()
{
    CTuningTestDlg::OnDestroyDialog();
    if (m_scope)
        m_scope->EndUploadData();
}

// ---- A run ------------------------------------------------------------------------------------------------

void CProfileTuningDlg::BeginTest()
{
    CMC_Setup* setup = GetSetup();
    m_bStopRequest = 0;
    m_bRunning = 1;
    m_bStoppable = 0;
    m_preliminaryRan = false;
    m_nStageCount = OnlineMode() ? 4 : 5;
    if (ParameterInBase("StartMode") != 0.0) {
        m_nStage = 2;
        m_nResult = -1;
        ShowStageText();
        RearmPoll();
        return;
    }
    m_preliminaryRan = true;
    const double in = ParameterInBase("In");
    const double nominal = ExistsQuietly(setup, "InPS") ? std::min(in, ParameterInBase("InPS")) : in;
    const double current = ParameterInBase("TestStartCurrent") / 100.0 * nominal * CurrentScale(setup);
    if (HasStartMinimumMove(setup))
        setup->SetParameterValueInBaseUnit("ABSTART_MINMOVE", 0.0);
    BeginWithPreliminaryTest(static_cast<int>(TruncRegister(current)));
}

bool CProfileTuningDlg::WriteInput(const char* name, double value)
{
    if (!SetUserVariableValue(&m_main, name, value, m_strError)) {
        TestFailed(1);
        return false;
    }
    return true;
}

bool CProfileTuningDlg::WriteRestartPoint()
{
    double reference = m_reftst;
    double increment = m_rinctst;
    if (!m_preliminaryRan) {
        CMC_Setup* setup = GetSetup();
        const CMC_Parameter* reftst = FindQuietly(setup, "REFTST");
        const CMC_Parameter* rinctst = FindQuietly(setup, "RINCTST");
        reference = reftst ? reftst->GetValueInInternalUnit() : 0.0;
        increment = rinctst ? rinctst->GetValueInInternalUnit() : 0.0;
    }
    return WriteInput("RefTest", RoundedProgramInput(reference)) &&
           WriteInput("RIncTest", RoundedProgramInput(increment));
}

std::int64_t CProfileTuningDlg::FinalValueInternal() const
{
    const double scaled = FinalValue() * m_loop.scale(GetSetup());
    return static_cast<std::int64_t>(std::floor(std::clamp(scaled, -1e15, 1e15) + 0.5));
}

bool CProfileTuningDlg::WriteSegmentTable()
{
    ProfileTimes times;
    times.tp = ParameterInBase(m_loop.times[0]);
    times.tn = ParameterInBase(m_loop.times[1]);
    times.tap = ParameterInBase(m_loop.times[2]);
    times.tan = ParameterInBase(m_loop.times[3]);
    const ProfileTable table =
        ComputeProfileTable(FinalValueInternal(), times, SpeedLoopPeriod(GetSetup()),
                            static_cast<ReferenceType>(std::clamp(ReferenceTypeValue(), 0, 2)), m_loop.cut);
    for (int i = 0; i < 6; ++i) {
        if (i == table.failedSegment) {
            FailTest(*this, kSegmentErrors[static_cast<int>(table.error)]);
            return false;
        }
        const ProfileSegment& segment = table.segments[static_cast<std::size_t>(i)];
        const std::string index = std::to_string(i);
        if (!WriteInput(("a" + index).c_str(), static_cast<double>(segment.count)) ||
            !WriteInput(("b" + index).c_str(), segment.increment / 65536.0))
            return false;
    }
    return true;
}

void CProfileTuningDlg::StartPlainPlot(double finalInternal)
{
    m_plainPlot.Initialize(QString(), 2, 0);
    const double a = -0.2 * finalInternal;
    const double b = 1.2 * finalInternal;
    for (int channel = 0; channel < 2; ++channel) {
        OscilloscopeChannel& c = m_plainPlot.Channel(channel);
        c.lowerLimit = std::min(a, b);
        c.upperLimit = std::max(a, b);
        c.color = RGB16(channel == 0 ? 2 : 5);
    }
}

void CProfileTuningDlg::LaunchMainProgram()
{
    CMC_Setup* setup = GetSetup();
    const bool online = OnlineMode();
    const bool multi = MultiCycle();
    if (!WriteRestartPoint() || !WriteInputsBeforeTable() || !WriteSegmentTable() ||
        !WriteInput("MultiC", multi ? 1.0 : 0.0) || !WriteInputsAfterTable())
        return;
    m_bStoppable = multi ? 1 : 0;
    if (online && !m_scope)
        StartPlainPlot(static_cast<double>(FinalValueInternal()));
    if (HasStartMinimumMove(setup))
        Compute_ABSTART_MINMOVE(setup);
    CMC_Logger* logger = online ? static_cast<CMC_Logger*>(m_scope.get()) : m_logger.get();
    if (!ExecuteCode(m_mainProgram, &m_main, logger, nullptr, nullptr)) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    if (multi)
        SetInfoText(QString::fromUtf8(kTuningStageTexts[5]));
    else
        ShowStageText();
    if (!RearmPoll(online && m_scope ? kScopePollMs : kPollPeriodMs))
        return;
    if (online && m_scope) {
        m_scopeGraph.Invalidate();
        m_scopeGraph.RefreshGraph();
    }
}

void CProfileTuningDlg::PollOwnStage()
{
    if (m_nStage == 5) {
        UploadResults();
        return;
    }
    if (m_nStage != 4) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    if (OnlineMode())
        m_scope ? RunScope() : RunPlainPlot();
    else if (MultiCycle())
        WatchMultiCycle();
    else
        WaitForSingleRun();
}

bool CProfileTuningDlg::TestFlagPasses(int failOnError)
{
    double flag = 0.0;
    bool passes = GetUserVariableValue(&m_main, "test_flag", flag, m_strError) != 0;
    if (passes && (flag == kNoResult || flag <= 0.0)) {
        m_strError = flag == kNoResult ? msc_pszErrInternal : kProtectionTriggered;
        passes = false;
    }
    if (!passes && failOnError != 0)
        TestFailed(1);
    return passes;
}

// Multi-cycle with the data logger: the drive repeats the profile until the
// user stops it or something goes wrong; then the log is uploaded.
void CProfileTuningDlg::WatchMultiCycle()
{
    if (!m_bStopRequest) {
        if (!TestFlagPasses(0) || !CheckDriveErrors(0, kMaskRunning))
            m_bStopRequest = 1;
        if (!m_bStopRequest) {
            RearmPoll();
            return;
        }
    }
    UpdateData(false);
    ShowStageText();
    RearmPoll(1);
}

void CProfileTuningDlg::WaitForSingleRun()
{
    if (PollProgramEnd(*this, &m_main, kMaskAll, EndCheck::None) != ProgramState::Ended)
        return;
    ShowStageText();
    RearmPoll();
}

// The scope: frames come in through the handler until the single sweep is
// complete, or until Stop in multi-cycle mode.
void CProfileTuningDlg::RunScope()
{
    if (m_bStopRequest) {
        m_scope->EndUploadData();
        return;
    }
    for (;;) {
        m_frameReceived = false;
        if (m_scope->DoGracefulStop()) {
            OnBtnStartStop();
            m_bStopRequest = 0;
            m_bStoppable = 0;
            if (CheckDriveErrors(1, kMaskRunning) && TestFlagPasses(1))
                TestSucceeded(1);
            m_scope->EndUploadData();
            return;
        }
        CMC_Comm::CheckForUnrequestedMessages([slot = ScopeSlot(m_loop)](const UnsolicitedFrame& frame) {
            ProfileScopeHandler::Receive(slot, frame);
        });
        if (!m_scope->UploadInProgress() ||
            !(m_frameReceived ||
              (CheckDriveErrors(0, kMaskRunning) && TestFlagPasses(0) && !SweepLeftIncomplete())))
            break;
        PumpMessages();
        if (m_bStopRequest) {
            m_scope->EndUploadData();
            return;
        }
    }
    m_scope->EndUploadData();
    TestFailed(1);
}

// The drive program has ended with the scope's sweep incomplete: no more
// frames will come (its reference never crossed the trigger level).
bool CProfileTuningDlg::SweepLeftIncomplete()
{
    double started = 0.0;
    int on = 1;
    if (!GetUserVariableValue(&m_main, "STARTED", started, m_strError) || !GetAxisOn(on))
        return true;
    if (started == 0.0 || on != 0)
        return false;
    m_strError = kScopeNotTriggered;
    return true;
}

void CProfileTuningDlg::OnScopeFrame(const UnsolicitedFrame& frame)
{
    if (!m_scope || m_scope->OnFrameReceive(frame) <= 0)
        return;
    m_frameReceived = true;
    int first = 0;
    int count = 0;
    m_scope->GetPointsToBeDrawn(first, count);
    const int points = std::max(1, m_scope->GetPointsNo());
    for (int k = 0; k < count; ++k) {
        const int index = (first + k) % points;
        m_scopeGraph.UpdatePoint(index);
        if (index == 0)
            m_scopeGraph.Invalidate();
    }
}

// Without a scope: the two variables read again and again and drawn as
// they come, until Stop.
void CProfileTuningDlg::RunPlainPlot()
{
    CMC_Setup* setup = GetSetup();
    const std::array<const char*, 4> logged = LoggedVariables();
    CMC_Variable* reference = setup->FindVariable(logged[0], 0);
    CMC_Variable* actual = setup->FindVariable(logged[1], 0);
    if (reference == nullptr || actual == nullptr) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    actual->ChangeUnit(reference->GetUnitName());
    m_paused = false;
    m_plainPlotRunning = true;
    UpdateData(false);
    auto valueText = [](const CMC_Variable& v) {
        const QString unit = v.HasSelectedUnit() ? QString::fromUtf8(v.GetUnitName()) : QStringLiteral("IU");
        return QString::fromStdString(v.PrintValue()) + QLatin1Char(' ') + unit;
    };
    bool failed = false;
    while (!m_bStopRequest && !failed) {
        if (!m_paused) {
            if (!reference->ReadFromChip() || !actual->ReadFromChip()) {
                FailTest(*this, msc_pszErrInternal);
                failed = true;
                break;
            }
            m_plainPlot.Channel(0).value = reference->GetValueInInternalUnit();
            m_plainPlot.Channel(1).value = actual->GetValueInInternalUnit();
            m_plainPlot.UpdateLastPoint();
            SetChildText(m_loop.valueTexts[2], valueText(*reference));
            SetChildText(m_loop.valueTexts[3], valueText(*actual));
        }
        failed = !CheckDriveErrors(1, kMaskRunning) || !TestFlagPasses(1);
        if (!failed)
            PumpMessages();
    }
    m_plainPlotRunning = false;
    if (failed || !m_bRunning)
        return;
    m_bStopRequest = 0;
    m_bStoppable = 0;
    TestSucceeded(1);
}

// The log read onto the graph. A drive error or a bad result found before
// the upload does not stop it: the data are shown, then the run fails.
void CProfileTuningDlg::UploadResults()
{
    const bool good = CheckDriveErrors(0, kMaskRunning) && TestFlagPasses(0);
    m_bStoppable = good ? 0 : 1;
    if (!good)
        m_bStopRequest = 0;
    if (!m_logger || !m_logger->BeginUploadData()) {
        FailTest(*this, msc_pszErrInternal);
        return;
    }
    m_graph.Invalidate();
    if (!UploadOntoGraph(*this, *m_logger, m_graph))
        return;
    if (CheckDriveErrors(1, kMaskRunning) && TestFlagPasses(1)) {
        TestSucceeded(1);
        UpdateData(false);
    }
}
