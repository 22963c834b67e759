#include "GraphDocument.h"

#include "Errors.h"
#include "JsonReader.h"
#include "Logger.h"
#include "SetupFile.h"

#include <cmath>
#include <limits>

namespace {

std::string CsvNumber(double value)
{
    return std::isfinite(value) ? JsonNumber(value) : std::string();
}

std::string ColumnCaption(const GraphColumn* column, int index)
{
    if (column == nullptr)
        return "column " + std::to_string(index);
    return column->unit.empty() ? column->name : column->name + " [" + column->unit + "]";
}

} // namespace

std::string PlotFilePath(const std::string& name, const char* extension)
{
    std::string path = name.find('/') == std::string::npos ? PlotDirectory() + "/" + name : name;
    const auto slash = path.find_last_of('/');
    const auto dot = path.find('.', slash == std::string::npos ? 0 : slash + 1);
    if (dot == std::string::npos)
        path += extension;
    return path;
}

int CGraphFilter::ExportToASCII(const char* name) const
{
    if (name == nullptr || *name == '\0') {
        SetLastErrorText("No file name for the data.");
        return 0;
    }
    if (m_curves.empty() || m_document->PointCount() == 0) {
        SetLastErrorText("There are no points to export.");
        return 0;
    }
    std::vector<int> columns{m_curves.front().XColumn()};
    for (const CXYCurve& curve : m_curves)
        columns.push_back(curve.YColumn());
    const std::string text = m_document->FormatCsv(columns);
    std::string error;
    if (!WriteFileAtomically(PlotFilePath(name, ".csv"), text, error)) {
        SetLastErrorText(error);
        return 0;
    }
    return 1;
}

CGraphFilter* CGraphDocument::GetAt(int index)
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return &m_filters[static_cast<std::size_t>(index)];
}

const CGraphFilter* CGraphDocument::GetAt(int index) const
{
    return const_cast<CGraphDocument*>(this)->GetAt(index);
}

CGraphFilter* CGraphDocument::AddFilter()
{
    return &m_filters.emplace_back(this);
}

GraphColumn* CGraphDocument::Column(int index)
{
    if (index < 0 || index >= static_cast<int>(m_columns.size()))
        return nullptr;
    return &m_columns[static_cast<std::size_t>(index)];
}

const GraphColumn* CGraphDocument::Column(int index) const
{
    return const_cast<CGraphDocument*>(this)->Column(index);
}

void CGraphDocument::ClearPoints()
{
    m_rows.clear();
    ++m_revision;
}

void CGraphDocument::SetPoint(std::size_t index, std::vector<double> row)
{
    if (index >= m_rows.size())
        m_rows.resize(index + 1);
    m_rows[index] = std::move(row);
    ++m_revision;
}

void CGraphDocument::SetCapacity(std::size_t rows)
{
    m_capacity = rows;
    if (m_rows.size() > rows && rows > 0)
        m_rows.resize(rows);
    ++m_revision;
}

double CGraphDocument::ShownValue(std::size_t row, int column) const
{
    if (row >= m_rows.size() || column < 0 || static_cast<std::size_t>(column) >= m_rows[row].size())
        return std::numeric_limits<double>::quiet_NaN();
    const double value = m_rows[row][static_cast<std::size_t>(column)];
    const GraphColumn* described = Column(column);
    return described != nullptr ? described->Shown(value) : value;
}

std::string CGraphDocument::FormatCsv(const std::vector<int>& columns) const
{
    std::string text;
    for (std::size_t i = 0; i < columns.size(); ++i)
        text += (i == 0 ? "" : ",") + CsvField(ColumnCaption(Column(columns[i]), columns[i]));
    text += "\n";
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        for (std::size_t i = 0; i < columns.size(); ++i)
            text += (i == 0 ? "" : ",") + CsvNumber(ShownValue(row, columns[i]));
        text += "\n";
    }
    return text;
}

bool CGraphDocument::ColumnsValid() const
{
    const int count = static_cast<int>(m_columns.size());
    for (const CGraphFilter& filter : m_filters)
        for (const CXYCurve& curve : filter.Curves())
            if (curve.XColumn() < 0 || curve.XColumn() >= count || curve.YColumn() < 0 ||
                curve.YColumn() >= count)
                return false;
    return true;
}
