#include "Logger.h"

#include "Comm.h"
#include "Errors.h"
#include "Setup.h"
#include "SetupFile.h"
#include "Variable.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace {

GraphRenderer& RegisteredRenderer()
{
    static GraphRenderer renderer;
    return renderer;
}

// A plot's path without extension: in PlotDirectory() when no folder is
// given, and with the extension given dropped.
std::string PlotBasePath(const std::string& name)
{
    std::string path = PlotFilePath(name, "");
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.erase(dot);
    return path;
}

} // namespace

void SetGraphRenderer(GraphRenderer renderer)
{
    RegisteredRenderer() = std::move(renderer);
}

bool HasGraphRenderer()
{
    return static_cast<bool>(RegisteredRenderer());
}

std::string PlotDirectory()
{
    if (const char* dir = std::getenv("VELMARO_PLOT_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    return ".";
}

int CMC_Logger::AddVariable(const char* name, int showError)
{
    if (name == nullptr || *name == '\0' || m_setup == nullptr)
        return 0;
    if (m_setup->FindVariable(name, showError) == nullptr)
        return 0;
    m_variables.emplace_back(name);
    return 1;
}

GraphColumn CMC_Logger::VariableColumn(const CMC_Setup* setup, const std::string& name, const char* unitName)
{
    GraphColumn column{name, {}, 1.0, 0.0};
    const CMC_Variable* variable = setup != nullptr ? setup->FindVariable(name.c_str(), 0) : nullptr;
    if (variable == nullptr || (unitName == nullptr && variable->HasSelectedUnit() == 0))
        return column;
    const auto& units = variable->UnitType().GetUnits();
    const int unit = variable->UnitType().FindUnit(unitName != nullptr ? unitName : variable->GetUnitName());
    if (unit < 0)
        return column;
    const double toBase = units[static_cast<std::size_t>(unit)].toBase;
    const double atZero = variable->InternalToBase(0.0) / toBase;
    const double factor = variable->InternalToBase(1.0) / toBase - atZero;
    if (!std::isfinite(factor) || factor == 0.0 || !std::isfinite(atZero))
        return column;
    column.unit = units[static_cast<std::size_t>(unit)].name;
    column.factor = factor;
    column.offset = atZero / factor;
    return column;
}

int CMC_Logger::LocateItems()
{
    std::vector<GraphColumn> columns{GraphColumn{"time", "s", 1.0, 0.0}};
    for (const std::string& name : m_variables)
        columns.push_back(VariableColumn(m_setup, name));
    m_document.SetColumns(std::move(columns));
    return m_document.ColumnsValid() ? 1 : 0;
}

LogRequest CMC_Logger::Request() const
{
    LogRequest request;
    request.variables = m_variables;
    request.points = m_points;
    request.divider = m_divider;
    request.fastLoop = m_logType == LogCurrentLoop;
    return request;
}

double CMC_Logger::SamplePeriod() const
{
    if (m_setup == nullptr)
        return 0.0;
    QuietLookup quiet;
    const char* name = m_logType == LogCurrentLoop ? "Ts_C" : "Ts_S";
    const CMC_Parameter* period = m_setup->FindParameter(name);
    return period ? period->GetValueInBaseUnit() * m_divider : 0.0;
}

void CMC_SingleAxisLogger::ChangeSettings(int points, int logType, int thirdSetting)
{
    m_points = std::max(points, 0);
    m_logType = logType == LogCurrentLoop ? LogCurrentLoop : LogSpeedLoop;
    m_divider = std::max(thirdSetting, 1);
    m_variables.clear();
}

void CMC_SingleAxisLogger::CorrectPointsNo()
{
    const int columns = std::max(static_cast<int>(m_variables.size()), 1);
    m_points = std::clamp(m_points, 1, kLogMemory / columns);
}

int CMC_SingleAxisLogger::BeginUploadData()
{
    m_rows.clear();
    m_next = 0;
    m_point.clear();
    m_document.ClearPoints();
    if (m_document.Columns().size() != m_variables.size() + 1)
        LocateItems();
    DriveLink* link = CMC_Comm::ActiveLink();
    if (link == nullptr) {
        CMC_Comm::Record(LinkResult::NotConnected);
        return 0;
    }
    std::vector<std::vector<double>> samples;
    if (!CMC_Comm::Record(link->UploadLog(CMC_Comm::Now(), samples)))
        return 0;
    if (m_points > 0 && samples.size() > static_cast<std::size_t>(m_points))
        samples.resize(static_cast<std::size_t>(m_points));
    const double period = SamplePeriod();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].size() != m_variables.size()) {
            SetLastErrorText("The drive's log does not hold the logged variables.");
            m_rows.clear();
            return 0;
        }
        std::vector<double> row;
        row.reserve(samples[i].size() + 1);
        row.push_back(static_cast<double>(i) * period);
        row.insert(row.end(), samples[i].begin(), samples[i].end());
        m_rows.push_back(std::move(row));
    }
    return 1;
}

int CMC_SingleAxisLogger::ReadPoint(std::vector<double>* point)
{
    if (m_next >= m_rows.size())
        return 0;
    m_point = m_rows[m_next++];
    m_document.AppendPoint(m_point);
    if (point != nullptr)
        *point = m_point;
    return 1;
}

int CMC_Logger::SaveGraph(const char* fileName) const
{
    if (fileName == nullptr || *fileName == '\0') {
        SetLastErrorText("No file name for the plot.");
        return 0;
    }
    if (m_document.PointCount() == 0) {
        SetLastErrorText("No points have been read from the drive's log: there is nothing to save.");
        return 0;
    }
    std::vector<int> columns(m_variables.size() + 1);
    std::iota(columns.begin(), columns.end(), 0);
    const std::string base = PlotBasePath(fileName);
    std::string error;
    if (!WriteFileAtomically(base + ".csv", m_document.FormatCsv(columns), error) ||
        (HasGraphRenderer() && !RegisteredRenderer()(*m_document.GetAt(0), base, error))) {
        SetLastErrorText(error);
        return 0;
    }
    return 1;
}
