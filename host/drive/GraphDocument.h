// The data behind a graph: a table of points (one row per sample, column 0
// time, then one column per logged variable) and filters, each a set of
// curves that pick an x and a y column. A logger owns one document and
// fills it as it reads points; a graph window (host/ui) draws one filter of
// it. Values are kept as the drive sends them (internal units); each column
// carries the factor and offset that turn them into the unit it is shown in
// (shown = (internal + offset) x factor).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

class CGraphDocument;

// One curve: y column against x column, on axis 1 (left) or 2 (right).
// lineAttribute: 1 points only, 2 a solid line, 3 a dashed line.
// color: 0xAARRGGBB (a QRgb, for example RGB16(2).rgb()).
class CXYCurve {
public:
    CXYCurve(int axis, int xColumn, int yColumn, int lineAttribute, std::uint32_t color)
        : m_axis(axis), m_xColumn(xColumn), m_yColumn(yColumn), m_lineAttribute(lineAttribute), m_color(color)
    {
    }

    int Axis() const { return m_axis; }
    int XColumn() const { return m_xColumn; }
    int YColumn() const { return m_yColumn; }
    int LineAttribute() const { return m_lineAttribute; }
    std::uint32_t Color() const { return m_color; }

    bool operator==(const CXYCurve&) const = default;

private:
    int m_axis;
    int m_xColumn;
    int m_yColumn;
    int m_lineAttribute;
    std::uint32_t m_color;
};

// A view of the document: the curves one graph draws.
class CGraphFilter {
public:
    explicit CGraphFilter(CGraphDocument* document) : m_document(document) {}

    void Add(const CXYCurve& curve) { m_curves.push_back(curve); }
    void RemoveAll() { m_curves.clear(); }
    const std::vector<CXYCurve>& Curves() const { return m_curves; }
    CGraphDocument* Document() const { return m_document; }

    // The scope graph's grid colour (0xAARRGGBB) and its two marks: the
    // horizontal positions, in divisions, of the trigger level and the
    // channel zero marks (-4.2 and -3.5 by default).
    void SetColor(std::uint32_t color) { m_color = color; }
    std::uint32_t Color() const { return m_color; }
    std::array<double, 2>& Values() { return m_values; }
    const std::array<double, 2>& Values() const { return m_values; }
    // The height of the trigger level, in divisions of the scope screen; NaN
    // (the default) draws no trigger mark.
    void SetTriggerMark(double divisions) { m_triggerMark = divisions; }
    double TriggerMark() const { return m_triggerMark; }

    // Writes the points of the filter's columns (x column of the first curve,
    // then each curve's y column), in the units they are shown in, as CSV with
    // a header line of names and units, atomically. A name without folder
    // goes to PlotDirectory(), a name without extension gets ".csv".
    // Non-zero on success; on failure GetLastErrorText() says why. Nothing
    // to export (no curve or no point) is a failure.
    int ExportToASCII(const char* name) const;

private:
    CGraphDocument* m_document;
    std::vector<CXYCurve> m_curves;
    std::uint32_t m_color = 0xFF000000u;
    std::array<double, 2> m_values{0.0, 0.0};
    double m_triggerMark = std::numeric_limits<double>::quiet_NaN();
};

// A column of the table: its caption and the unit it is shown in.
struct GraphColumn {
    std::string name;    // "time", "Motor_Current"
    std::string unit;    // "s", "A"; empty for internal units
    double factor = 1.0; // shown = (internal + offset) x factor
    double offset = 0.0;
    // A scope channel's vertical scale, in the shown unit: the size of one
    // division, and the value on the screen's centre line (a value v is drawn
    // (v - divisionOffset) / division divisions above it); division 0 when
    // not set.
    double division = 0.0;
    double divisionOffset = 0.0;

    double Shown(double internal) const { return (internal + offset) * factor; }
};

class CGraphDocument {
public:
    CGraphDocument() { m_filters.emplace_back(this); }
    CGraphDocument(const CGraphDocument&) = delete;
    CGraphDocument& operator=(const CGraphDocument&) = delete;

    // The filters; a document always has at least one.
    CGraphFilter* GetAt(int index);
    const CGraphFilter* GetAt(int index) const;
    int GetCount() const { return static_cast<int>(m_filters.size()); }
    // A new filter; earlier filters keep their addresses.
    CGraphFilter* AddFilter();

    // Columns (column 0 is time).
    void SetColumns(std::vector<GraphColumn> columns) { m_columns = std::move(columns); }
    const std::vector<GraphColumn>& Columns() const { return m_columns; }
    GraphColumn* Column(int index);
    const GraphColumn* Column(int index) const;

    // Points. A linear document appends; a circular one (a scope) of
    // `capacity` rows overwrites its rows in turn.
    void ClearPoints();
    void AppendPoint(std::vector<double> row)
    {
        m_rows.push_back(std::move(row));
        ++m_revision;
    }
    void SetPoint(std::size_t index, std::vector<double> row);
    void SetCapacity(std::size_t rows);
    std::size_t Capacity() const { return m_capacity; }
    std::size_t PointCount() const { return m_rows.size(); }
    const std::vector<double>& Point(std::size_t index) const { return m_rows.at(index); }
    // A shown value of a point; NaN when the row has no such column.
    double ShownValue(std::size_t row, int column) const;
    // The points of these columns in the units they are shown in, as CSV: a
    // header line of names and units, then one line per point.
    std::string FormatCsv(const std::vector<int>& columns) const;

    // Grows with every change, so a window knows when to redraw.
    std::uint64_t Revision() const { return m_revision; }

    // Whether every curve of every filter names columns the table has.
    bool ColumnsValid() const;

private:
    std::deque<CGraphFilter> m_filters; // stable addresses
    std::vector<GraphColumn> m_columns;
    std::vector<std::vector<double>> m_rows;
    std::size_t m_capacity = 0;
    std::uint64_t m_revision = 0;
};
