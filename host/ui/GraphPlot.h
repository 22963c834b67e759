// The drawing behind a graph window: one filter of a graph document on a
// QCustomPlot. A logger graph draws each curve's shown values against its x
// column, on the left (axis 1) or the right (axis 2) value axis, scaled to
// the data until the user zooms. A scope graph draws the rows across a fixed
// screen of ten by eight divisions, each channel on its own division scale.
// The filter is read only when building and drawing; the cursor reads what
// was drawn.
#pragma once

#include "QCustomPlotInclude.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <array>
#include <cstddef>
#include <limits>
#include <vector>

class CGraphFilter;
struct GraphColumn;

class GraphPlot : public QCustomPlot {
public:
    // Redraws come at most this often however often they are asked for, and
    // never take more than a fifth of the time: a slow redraw (many points,
    // a loaded machine) waits longer for the next.
    static constexpr int kReplotIntervalMs = 40;
    static constexpr double kReplotTimeShare = 4.0; // waiting per unit of drawing

    GraphPlot(const CGraphFilter& filter, bool scope, QWidget* parent = nullptr);

    bool IsScope() const { return m_scope; }
    // One graph per curve of the filter with the legend and the axis labels
    // from the columns' names and units; no points yet.
    void BuildCurves();
    // Draws the document's rows first to end - 1: appended to a logger
    // graph, put in their place on a scope screen.
    void DrawRows(std::size_t first, std::size_t end);
    void ClearPoints();
    // Shows every point drawn (a scope: the whole screen) and follows new
    // points again.
    void ZoomOut();
    // Draws at once (a zoom-out: the whole picture is new).
    void ReplotNow();
    void RequestReplot();

    // The cursor: a vertical line at x and each curve's value there.
    void ShowCursor(double x);
    void HideCursor();
    // What the cursor shows, empty while it is hidden.
    QString CursorReadout() const;

    // PNG or SVG by the extension, written atomically; false with the
    // reason in error.
    bool WritePicture(const QString& path, QString& error);
    int DrawnPoints(int curve) const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // [ms] between redraws asked for in a stream.
    int ReplotInterval() const;
    // The smallest span holding the values added.
    struct Extent {
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        void Add(double value);
        QCPRange Padded(double margin, const QCPRange& whenEmpty) const;
    };
    // What a curve draws and how its drawn values read back.
    struct Curve {
        int xColumn = 0;
        int yColumn = 0;
        QString name;
        QString unit;
        double division = 0.0; // a scope channel: drawn = (shown + offset) / division
        double offset = 0.0;
    };

    void StyleLoggerAxes();
    void StyleScopeScreen();
    void ApplyScopeColor();
    void AddScopeMarks();
    void LabelValueAxes();
    void DrawLoggerRow(std::size_t row);
    void DrawScopeRow(std::size_t row);
    double ScopeX(std::size_t row) const;
    static Curve CurveOf(const GraphColumn* y, int xColumn, int yColumn);
    static double Drawn(const Curve& curve, double shown);
    static double Shown(const Curve& curve, double drawn);
    QSize PictureSize() const;

    const CGraphFilter& m_filter;
    bool m_scope;
    bool m_followData = true;
    std::vector<Curve> m_curves;
    QString m_xName; // the x column's name and unit
    QString m_xUnit;
    Extent m_x;
    std::array<Extent, 2> m_y;
    std::size_t m_screenPoints = 1;
    double m_timeStep = std::numeric_limits<double>::quiet_NaN(); // a scope's time between rows
    std::vector<QCPAbstractItem*> m_marks;
    QCPItemStraightLine* m_cursorLine = nullptr;
    QCPItemText* m_readout = nullptr;
    QElapsedTimer m_sinceReplot;
    QTimer m_replotTimer;
};
