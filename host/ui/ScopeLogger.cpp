#include "ScopeLogger.h"

#include "CaseInsensitive.h"
#include "DialogResults.h"
#include "Errors.h"
#include "HostServices.h"
#include "ScopeSettingsDlg.h"
#include "Setup.h"
#include "SetupFile.h"
#include "Variable.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

// A drive's divider of the loop period counts in 16 bits.
constexpr int kMaxDivider = 32767;
// A frame this far behind the last one taken is not late: the drive began
// counting anew.
constexpr int kLateFrames = 256;
constexpr std::size_t kHeaderBytes = 6;
constexpr int kBytesPerValue = 4;

// The 1-2-5 steps: step k is {1, 2, 5}[k mod 3] x 10^(k div 3).
double StepValue(int step)
{
    static constexpr std::array<double, 3> mantissas{1.0, 2.0, 5.0};
    const int decade = step >= 0 ? step / 3 : -((-step + 2) / 3);
    const double mantissa = mantissas[static_cast<std::size_t>(step - 3 * decade)];
    return decade >= 0 ? mantissa * std::pow(10.0, decade) : mantissa / std::pow(10.0, -decade);
}

// The first step at or above a positive value.
int StepAtLeast(double value)
{
    int step = 3 * static_cast<int>(std::floor(std::log10(value)));
    while (StepValue(step) < value * (1.0 - 1e-9))
        ++step;
    while (StepValue(step - 1) >= value * (1.0 - 1e-9))
        --step;
    return step;
}

double FinerDivision(double division)
{
    return StepValue(StepAtLeast(division) - 1);
}

double CoarserDivision(double division)
{
    const int step = StepAtLeast(division);
    return StepValue(StepValue(step) > division * (1.0 + 1e-9) ? step : step + 1);
}

std::int32_t ValueAt(const std::uint8_t* bytes)
{
    const std::uint32_t low = bytes[0] | static_cast<std::uint32_t>(bytes[1]) << 8;
    const std::uint32_t high = bytes[2] | static_cast<std::uint32_t>(bytes[3]) << 8;
    return static_cast<std::int32_t>(low | high << 16);
}

std::uint16_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

double LoopPeriod(const CMC_Setup* setup, const char* name)
{
    if (setup == nullptr)
        return 0.0;
    QuietLookup quiet;
    const CMC_Parameter* period = setup->FindParameter(name);
    const double value = period != nullptr ? period->GetValueInBaseUnit() : 0.0;
    return std::isfinite(value) && value > 0.0 ? value : 0.0;
}

int Divider(double periods)
{
    return static_cast<int>(std::clamp(std::round(periods), 1.0, static_cast<double>(kMaxDivider)));
}

std::string PlotPath(const char* name)
{
    return PlotFilePath(name != nullptr ? name : "", ".osc");
}

} // namespace

CMC_ScopeLogger::CMC_ScopeLogger(CMC_Setup* setup, CMC_CoffFormat* /*image*/) : CMC_Logger(setup)
{
    m_points = kScreenPoints;
    SetDefaultValues();
}

CMC_ScopeLogger::~CMC_ScopeLogger() = default;

int CMC_ScopeLogger::ChannelIndex(const char* name) const
{
    if (name == nullptr)
        return -1;
    for (std::size_t i = 0; i < m_settings.channels.size(); ++i)
        if (EqualsIgnoringCase(m_settings.channels[i].variable, name))
            return static_cast<int>(i);
    return -1;
}

int CMC_ScopeLogger::AddVariable(const char* name, int showError)
{
    if (ChannelIndex(name) >= 0)
        return 1;
    if (!CMC_Logger::AddVariable(name, showError))
        return 0;
    const CMC_Variable* variable = m_setup->FindVariable(name, 0);
    m_settings.channels.push_back({name, variable->GetUnitName(), 0.0, 0.0});
    LocateItems();
    return 1;
}

void CMC_ScopeLogger::ChangeSettings(double timeSpan, int triggerMode, int triggerSlope,
                                     const char* triggerVariable, double triggerLevel, int preTrigger)
{
    Settings changed = GetSettings();
    changed.timeSpan = timeSpan;
    changed.triggerMode = triggerMode;
    changed.triggerSlope = triggerSlope;
    changed.triggerVariable = triggerVariable != nullptr ? triggerVariable : "";
    changed.triggerLevel = triggerLevel;
    changed.preTrigger = preTrigger;
    std::string error;
    if (!Apply(changed, error))
        ReportError("The scope settings were not changed: " + error + ".");
}

int CMC_ScopeLogger::RescaleVariable(const char* name, const char* unitName, double division, double offset)
{
    const int index = ChannelIndex(name);
    if (index < 0) {
        SetLastErrorText("The scope does not show \"" + std::string(name != nullptr ? name : "") + "\".");
        return 0;
    }
    Settings changed = GetSettings();
    Channel& channel = changed.channels[static_cast<std::size_t>(index)];
    channel.unit = unitName != nullptr ? unitName : "";
    channel.division = division;
    channel.offset = offset;
    std::string error;
    if (!Apply(changed, error)) {
        SetLastErrorText(error);
        return 0;
    }
    return 1;
}

std::optional<CMC_ScopeLogger::Channel> CMC_ScopeLogger::FittedChannel(int channel) const
{
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    for (std::size_t row = 0; row < m_document.PointCount(); ++row) {
        const double value = m_document.ShownValue(row, channel + 1);
        if (std::isfinite(value)) {
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
    if (low > high)
        return std::nullopt;
    Channel fitted = m_settings.channels[static_cast<std::size_t>(channel)];
    if (high > low) {
        fitted.division = StepValue(StepAtLeast((high - low) / kDivisionsY));
        fitted.offset = 0.5 * (low + high);
    } else {
        // A flat trace: on the centre line, with its size half the screen.
        fitted.division = low != 0.0 ? StepValue(StepAtLeast(std::abs(low) / (kDivisionsY / 2))) : 1.0;
        fitted.offset = low;
    }
    return fitted;
}

int CMC_ScopeLogger::ChangeChannelScale(int channel, int code)
{
    if (channel < 1 || channel > static_cast<int>(m_settings.channels.size()) || code < 0 || code > 3)
        return 0;
    Settings changed = GetSettings();
    Channel& scaled = changed.channels[static_cast<std::size_t>(channel - 1)];
    if (scaled.division <= 0.0)
        scaled =
            FittedChannel(channel - 1).value_or(Channel{scaled.variable, scaled.unit, 1.0, scaled.offset});
    switch (code) {
    case 0:
        scaled.division = FinerDivision(scaled.division);
        break;
    case 1:
        scaled.division = CoarserDivision(scaled.division);
        break;
    case 2:
        scaled.offset -= scaled.division;
        break;
    default:
        scaled.offset += scaled.division;
    }
    std::string error;
    return Apply(changed, error) ? 1 : 0;
}

int CMC_ScopeLogger::Autoscale()
{
    Settings changed = GetSettings();
    for (std::size_t i = 0; i < changed.channels.size(); ++i)
        if (const auto fitted = FittedChannel(static_cast<int>(i)))
            changed.channels[i] = *fitted;
    if (changed == GetSettings())
        return 0;
    std::string error;
    return Apply(changed, error) ? 1 : 0;
}

void CMC_ScopeLogger::SetDefaultValues()
{
    m_settings = Settings{};
    m_variables.clear();
    CGraphFilter* filter = m_document.GetAt(0);
    filter->RemoveAll();
    filter->SetColor(m_settings.gridColor);
    filter->Values() = m_settings.marks;
    LocateItems();
}

int CMC_ScopeLogger::Edit(QWidget* parent)
{
    const Settings old = GetSettings();
    CMC_ScopeSettingsDlg dialog(m_setup, old, parent);
    if (dialog.DoModal() != IDOK || dialog.Chosen() == old)
        return 0;
    std::string error;
    if (!Apply(dialog.Chosen(), error)) {
        ReportError("The scope settings were not changed: " + error + ".");
        return 0;
    }
    return 1;
}

CMC_ScopeLogger::Settings CMC_ScopeLogger::GetSettings() const
{
    Settings settings = m_settings;
    const CGraphFilter* filter = m_document.GetAt(0);
    settings.gridColor = filter->Color();
    settings.marks = filter->Values();
    settings.curves = filter->Curves();
    return settings;
}

bool CMC_ScopeLogger::SettingsProblemInSetup(const Settings& settings, std::string& error) const
{
    if (m_setup == nullptr) {
        error = "the scope has no setup";
        return true;
    }
    for (const Channel& channel : settings.channels) {
        const CMC_Variable* variable = m_setup->FindVariable(channel.variable, 0);
        if (variable == nullptr) {
            error = "the setup has no drive variable \"" + channel.variable + "\"";
            return true;
        }
        if (variable->UnitType().FindUnit(channel.unit) < 0) {
            error = "\"" + channel.unit + "\" is not a unit of \"" + channel.variable + "\"";
            return true;
        }
    }
    return false;
}

bool CMC_ScopeLogger::Apply(const Settings& settings, std::string& error)
{
    error = ScopeSettingsProblem(settings);
    if (!error.empty() || SettingsProblemInSetup(settings, error))
        return false;
    m_settings = settings;
    m_variables.clear();
    for (const Channel& channel : settings.channels)
        m_variables.push_back(channel.variable);
    CGraphFilter* filter = m_document.GetAt(0);
    filter->SetColor(settings.gridColor);
    filter->Values() = settings.marks;
    filter->RemoveAll();
    for (const CXYCurve& curve : settings.curves)
        filter->Add(curve);
    LocateItems();
    return true;
}

bool CMC_ScopeLogger::LoadText(const std::string& text, const std::string& where)
{
    Settings read;
    std::string error;
    if (!ParseScopeSettings(text, read, error) || !Apply(read, error)) {
        ReportError("The scope settings in " + where + " were not loaded: " + error + ".");
        return false;
    }
    return true;
}

int CMC_ScopeLogger::LoadSettingsFromSetupOption(const char* name)
{
    if (m_setup == nullptr || name == nullptr)
        return 0;
    const std::string text = m_setup->GetOptionNoError(name);
    if (text.empty())
        return 0;
    return LoadText(text, "the option \"" + std::string(name) + "\"") ? 1 : 0;
}

void CMC_ScopeLogger::SaveSettingsToSetupOption(const char* name) const
{
    if (m_setup != nullptr && name != nullptr)
        m_setup->SetOption(name, FormatScopeSettings(GetSettings()));
}

int CMC_ScopeLogger::Load(const char* file)
{
    const std::string path = PlotPath(file);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        ReportError("The scope settings file \"" + path + "\" cannot be read.");
        return 0;
    }
    return LoadText(text.str(), "the file \"" + path + "\"") ? 1 : 0;
}

int CMC_ScopeLogger::Save(const char* file) const
{
    const std::string path = PlotPath(file);
    std::string error;
    if (!WriteFileAtomically(path, FormatScopeSettings(GetSettings()) + "\n", error)) {
        ReportError("The scope settings file \"" + path + "\" was not saved: " + error);
        return 0;
    }
    return 1;
}

int CMC_ScopeLogger::LocateItems()
{
    std::vector<GraphColumn> columns{GraphColumn{"time", "s", 1.0, 0.0}};
    for (const Channel& channel : m_settings.channels) {
        GraphColumn column = VariableColumn(m_setup, channel.variable, channel.unit.c_str());
        column.division = channel.division;
        column.divisionOffset = channel.offset;
        columns.push_back(std::move(column));
    }
    m_document.SetColumns(std::move(columns));
    m_document.SetCapacity(static_cast<std::size_t>(GetPointsNo()));
    return m_document.ColumnsValid() ? 1 : 0;
}

CMC_ScopeLogger::Sampling CMC_ScopeLogger::ComputeSampling() const
{
    const double wanted = m_settings.timeSpan / kScreenPoints;
    const double slow = LoopPeriod(m_setup, "Ts_S");
    const double fast = LoopPeriod(m_setup, "Ts_C");
    if (slow > 0.0 && (wanted >= slow || fast <= 0.0))
        return {LogSpeedLoop, Divider(wanted / slow)};
    if (fast > 0.0)
        return {LogCurrentLoop, Divider(wanted / fast)};
    return {LogSpeedLoop, 1};
}

LogRequest CMC_ScopeLogger::Request() const
{
    LogRequest request = CMC_Logger::Request();
    const Sampling sampling = ComputeSampling();
    request.divider = sampling.divider;
    request.fastLoop = sampling.logType == LogCurrentLoop;
    return request;
}

ScopeSweep::Trigger CMC_ScopeLogger::SweepTrigger() const
{
    ScopeSweep::Trigger trigger;
    trigger.mode = m_settings.triggerMode;
    trigger.rising = m_settings.triggerSlope == SlopeRising;
    trigger.column = ChannelIndex(m_settings.triggerVariable.c_str());
    trigger.preTrigger = static_cast<int>(std::lround(m_settings.preTrigger * 0.01 * GetPointsNo()));
    const CMC_Variable* variable =
        trigger.column >= 0 ? m_setup->FindVariable(m_settings.triggerVariable, 0) : nullptr;
    trigger.level = variable != nullptr ? variable->BaseToInternal(m_settings.triggerLevel) : 0.0;
    return trigger;
}

void CMC_ScopeLogger::OnProgramStarted()
{
    const Sampling sampling = ComputeSampling();
    m_logType = sampling.logType;
    m_divider = sampling.divider;
    LocateItems();
    m_document.ClearPoints();
    m_sweep.Arm(GetPointsNo(), SweepTrigger());
    m_lastSequence.reset();
    m_endRequested = false;
    m_uploading = true;
}

void CMC_ScopeLogger::WritePoint(int index, const std::vector<double>& sample)
{
    std::vector<double> row;
    row.reserve(sample.size() + 1);
    row.push_back(index * SamplePeriod());
    row.insert(row.end(), sample.begin(), sample.end());
    m_document.SetPoint(static_cast<std::size_t>(index), std::move(row));
}

int CMC_ScopeLogger::TakePayload(int length, const std::uint8_t* data)
{
    const int channels = static_cast<int>(m_variables.size());
    const int width = channels * kBytesPerValue;
    if (length < 0 || (length > 0 && (data == nullptr || width == 0 || length % width != 0)))
        return -1;
    if (!m_uploading || m_sweep.IsStopped())
        return 0;
    const ScopeSweep::Writer write = [this](int index, const std::vector<double>& sample) {
        WritePoint(index, sample);
    };
    std::vector<double> sample(static_cast<std::size_t>(channels));
    int taken = 0;
    for (const std::uint8_t* at = data; at < data + length; at += width) {
        for (int i = 0; i < channels; ++i)
            sample[static_cast<std::size_t>(i)] = ValueAt(at + i * kBytesPerValue);
        if (!m_sweep.Take(sample, write))
            break;
        ++taken;
    }
    return taken;
}

int CMC_ScopeLogger::OnFrameReceive(int length, const std::uint8_t* data)
{
    return TakePayload(length, data);
}

int CMC_ScopeLogger::OnFrameReceive(const UnsolicitedFrame& frame)
{
    const std::vector<std::uint8_t>& bytes = frame.data;
    if (frame.code != kFrameCode || bytes.size() < kHeaderBytes || WordAt(bytes, 4) != kFrameCode)
        return -1;
    const std::size_t length = 2u * WordAt(bytes, 0);
    if (bytes.size() != kHeaderBytes + length)
        return -1;
    const int width = static_cast<int>(m_variables.size()) * kBytesPerValue;
    if (width == 0 || length % static_cast<std::size_t>(width) != 0)
        return -1;
    if (!m_uploading || m_sweep.IsStopped())
        return 0;
    const std::uint16_t sequence = WordAt(bytes, 2);
    if (m_lastSequence) {
        const auto ahead = static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - *m_lastSequence));
        if (ahead <= 0 && ahead >= -kLateFrames)
            return 0; // late or repeated: its place on the screen has passed
        if (ahead != 1)
            m_sweep.Restart(); // frames went missing in between
    }
    m_lastSequence = sequence;
    return TakePayload(static_cast<int>(length), bytes.data() + kHeaderBytes);
}

void CMC_ScopeLogger::GetPointsToBeDrawn(int& first, int& count)
{
    m_sweep.TakeChanged(first, count);
}

int CMC_ScopeLogger::DoGracefulStop() const
{
    return !m_uploading || m_sweep.IsStopped() ? 1 : 0;
}

void CMC_ScopeLogger::EndUploadData()
{
    if (!m_uploading)
        return;
    if (!m_endRequested && !m_sweep.IsStopped()) {
        m_endRequested = true;
        m_sweep.RequestStop();
        if (!m_sweep.IsStopped())
            return;
    }
    m_uploading = false;
}

int DoPromptScopeLoggerFileName(int load, QString& name, QWidget* parent)
{
    FilePromptRequest request;
    request.load = load != 0;
    request.caption = load ? QStringLiteral("Load Scope Settings") : QStringLiteral("Save Scope Settings");
    request.proposed = QString::fromStdString(PlotPath(name.toStdString().c_str()));
    request.filter = QStringLiteral("Scope settings (*.osc);;All files (*)");
    const QString chosen = PromptFileName(request, parent);
    if (chosen.isEmpty())
        return 0;
    name = load ? chosen : QString::fromStdString(PlotPath(chosen.toStdString().c_str()));
    return 1;
}
