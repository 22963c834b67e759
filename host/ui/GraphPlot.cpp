#include "GraphPlot.h"

#include "GraphDocument.h"
#include "ScopeLogger.h"
#include "SetupFile.h"

#include <QApplication>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

constexpr double kHalfWidth = CMC_ScopeLogger::kDivisionsX / 2.0;
constexpr double kHalfHeight = CMC_ScopeLogger::kDivisionsY / 2.0;
const QSize kDefaultPictureSize(800, 500);

QString Number(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 4) : QStringLiteral("-");
}

QPen CurvePen(const CXYCurve& curve)
{
    QPen pen(QColor::fromRgb(curve.Color()));
    pen.setWidthF(1.5);
    if (curve.LineAttribute() == 3)
        pen.setStyle(Qt::DashLine);
    return pen;
}

// The value drawn nearest to x.
double ValueNear(const QCPGraph* graph, double x)
{
    const auto data = graph->data();
    if (data->isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    auto it = data->findBegin(x, false);
    if (it == data->constEnd())
        --it;
    else if (it != data->constBegin() && x - (it - 1)->key < it->key - x)
        --it;
    return it->value;
}

} // namespace

void GraphPlot::Extent::Add(double value)
{
    if (!std::isfinite(value))
        return;
    low = std::min(low, value);
    high = std::max(high, value);
}

QCPRange GraphPlot::Extent::Padded(double margin, const QCPRange& whenEmpty) const
{
    if (low > high)
        return whenEmpty;
    const double pad = high > low ? (high - low) * margin : std::max(std::abs(low) * 0.05, 0.5);
    return QCPRange(low - pad, high + pad);
}

GraphPlot::GraphPlot(const CGraphFilter& filter, bool scope, QWidget* parent)
    : QCustomPlot(parent), m_filter(filter), m_scope(scope)
{
    setMouseTracking(true);
    setInteractions(QCP::iRangeZoom);
    setSelectionRectMode(QCP::srmZoom);
    axisRect()->setRangeZoomAxes({xAxis}, {yAxis, yAxis2});
    connect(selectionRect(), &QCPSelectionRect::accepted, this, [this] { m_followData = false; });
    legend->setVisible(true);
    legend->setFont(QFont(font().family(), 8));
    legend->setBrush(QColor(255, 255, 255, 210));
    if (m_scope)
        StyleScopeScreen();
    else
        StyleLoggerAxes();

    m_cursorLine = new QCPItemStraightLine(this);
    m_cursorLine->setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
    m_readout = new QCPItemText(this);
    m_readout->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_readout->position->setCoords(0.01, 0.02);
    m_readout->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_readout->setTextAlignment(Qt::AlignLeft);
    m_readout->setBrush(QColor(255, 255, 255, 220));
    m_readout->setPen(QPen(Qt::gray));
    m_readout->setPadding(QMargins(4, 2, 4, 2));
    m_readout->setFont(legend->font());
    HideCursor();

    m_replotTimer.setSingleShot(true);
    connect(&m_replotTimer, &QTimer::timeout, this, [this] {
        m_sinceReplot.start();
        replot(rpQueuedReplot);
    });
}

void GraphPlot::StyleLoggerAxes()
{
    yAxis2->setTickLabels(true);
    xAxis->setRange(0.0, 1.0);
}

void GraphPlot::StyleScopeScreen()
{
    auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
    ticker->setTickStep(1.0);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    for (QCPAxis* axis : {xAxis, yAxis, xAxis2, yAxis2}) {
        axis->setVisible(true);
        axis->setTicker(ticker);
        axis->setTickLabels(false);
    }
    xAxis->setRange(-kHalfWidth, kHalfWidth);
    yAxis->setRange(-kHalfHeight, kHalfHeight);
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), xAxis2,
            qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), yAxis2,
            qOverload<const QCPRange&>(&QCPAxis::setRange));
    axisRect()->setRangeZoomAxes({xAxis}, {yAxis});
}

void GraphPlot::ApplyScopeColor()
{
    const QColor color = QColor::fromRgb(m_filter.Color());
    for (QCPAxis* axis : {xAxis, yAxis, xAxis2, yAxis2}) {
        axis->setBasePen(QPen(color));
        axis->setTickPen(QPen(color));
        axis->setSubTickPen(QPen(color));
        axis->grid()->setPen(QPen(color, 0, Qt::DotLine));
        axis->grid()->setZeroLinePen(QPen(color, 0, Qt::DashLine));
    }
}

GraphPlot::Curve GraphPlot::CurveOf(const GraphColumn* y, int xColumn, int yColumn)
{
    Curve curve;
    curve.xColumn = xColumn;
    curve.yColumn = yColumn;
    curve.name = y != nullptr ? QString::fromStdString(y->name) : QStringLiteral("column %1").arg(yColumn);
    curve.unit = y != nullptr ? QString::fromStdString(y->unit) : QString();
    if (y != nullptr && y->division > 0.0) {
        curve.division = y->division;
        curve.offset = y->divisionOffset;
    }
    return curve;
}

void GraphPlot::BuildCurves()
{
    const CGraphDocument& document = *m_filter.Document();
    clearGraphs();
    m_curves.clear();
    m_x = Extent{};
    m_y = {};
    m_timeStep = std::numeric_limits<double>::quiet_NaN();
    m_screenPoints =
        std::max<std::size_t>(document.Capacity() > 0 ? document.Capacity() : document.PointCount(), 1);
    for (const CXYCurve& xy : m_filter.Curves()) {
        const Curve curve = CurveOf(document.Column(xy.YColumn()), xy.XColumn(), xy.YColumn());
        QCPGraph* graph = addGraph(xAxis, xy.Axis() == 2 && !m_scope ? yAxis2 : yAxis);
        graph->setPen(CurvePen(xy));
        if (xy.LineAttribute() == 1) {
            graph->setLineStyle(QCPGraph::lsNone);
            graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 3));
        }
        const QString unit = curve.unit.isEmpty() ? QStringLiteral("IU") : curve.unit;
        graph->setName(m_scope && curve.division > 0.0
                           ? QStringLiteral("%1: %2 %3/div").arg(curve.name, Number(curve.division), unit)
                           : QStringLiteral("%1 [%2]").arg(curve.name, unit));
        m_curves.push_back(curve);
    }
    const GraphColumn* x = m_curves.empty() ? nullptr : document.Column(m_curves.front().xColumn);
    m_xName = x != nullptr ? QString::fromStdString(x->name) : QString();
    m_xUnit = x != nullptr ? QString::fromStdString(x->unit) : QString();
    if (m_scope) {
        ApplyScopeColor();
        AddScopeMarks();
        xAxis->setLabel(QString());
    } else {
        xAxis->setLabel(x != nullptr ? QStringLiteral("%1 [%2]").arg(m_xName, m_xUnit) : QString());
        LabelValueAxes();
    }
}

void GraphPlot::LabelValueAxes()
{
    std::array<QStringList, 2> units;
    for (std::size_t i = 0; i < m_curves.size(); ++i) {
        const QString unit = m_curves[i].unit.isEmpty() ? QStringLiteral("IU") : m_curves[i].unit;
        QStringList& list = units[graph(static_cast<int>(i))->valueAxis() == yAxis2 ? 1 : 0];
        if (!list.contains(unit))
            list.push_back(unit);
    }
    yAxis->setLabel(units[0].isEmpty() ? QString()
                                       : QStringLiteral("[%1]").arg(units[0].join(QStringLiteral(", "))));
    yAxis2->setLabel(units[1].isEmpty() ? QString()
                                        : QStringLiteral("[%1]").arg(units[1].join(QStringLiteral(", "))));
    yAxis2->setVisible(!units[1].isEmpty());
}

// Each channel's zero at the left of the screen, and the trigger level.
void GraphPlot::AddScopeMarks()
{
    for (QCPAbstractItem* mark : m_marks)
        removeItem(mark);
    m_marks.clear();
    const auto addMark = [this](const QString& text, const QColor& color, double x, double y) {
        auto* mark = new QCPItemText(this);
        mark->position->setCoords(x, y);
        mark->setText(text);
        mark->setColor(color);
        mark->setPositionAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_marks.push_back(mark);
    };
    const auto& values = m_filter.Values();
    for (std::size_t i = 0; i < m_curves.size(); ++i)
        addMark(QStringLiteral("%1\u25B6").arg(m_curves[i].yColumn),
                graph(static_cast<int>(i))->pen().color(), values[1], Drawn(m_curves[i], 0.0));
    if (std::isfinite(m_filter.TriggerMark()))
        addMark(QStringLiteral("T\u25B6"), QColor::fromRgb(m_filter.Color()), values[0],
                m_filter.TriggerMark());
}

// A scope channel's value `offset` sits on the centre line, and one division
// up is `division` more.
double GraphPlot::Drawn(const Curve& curve, double shown)
{
    return curve.division > 0.0 ? (shown - curve.offset) / curve.division : shown;
}

double GraphPlot::Shown(const Curve& curve, double drawn)
{
    return curve.division > 0.0 ? drawn * curve.division + curve.offset : drawn;
}

double GraphPlot::ScopeX(std::size_t row) const
{
    const double last = static_cast<double>(std::max<std::size_t>(m_screenPoints - 1, 1));
    return -kHalfWidth + 2.0 * kHalfWidth * static_cast<double>(row) / last;
}

void GraphPlot::DrawRows(std::size_t first, std::size_t end)
{
    for (std::size_t row = first; row < end; ++row) {
        if (m_scope)
            DrawScopeRow(row);
        else
            DrawLoggerRow(row);
    }
    if (m_followData && !m_scope)
        ZoomOut();
}

void GraphPlot::DrawLoggerRow(std::size_t row)
{
    const CGraphDocument& document = *m_filter.Document();
    for (std::size_t i = 0; i < m_curves.size(); ++i) {
        const double x = document.ShownValue(row, m_curves[i].xColumn);
        if (!std::isfinite(x))
            continue;
        const double y = document.ShownValue(row, m_curves[i].yColumn);
        QCPGraph* curve = graph(static_cast<int>(i));
        curve->addData(x, y);
        m_x.Add(x);
        m_y[curve->valueAxis() == yAxis2 ? 1 : 0].Add(y);
    }
}

void GraphPlot::DrawScopeRow(std::size_t row)
{
    const CGraphDocument& document = *m_filter.Document();
    const double x = ScopeX(row);
    for (std::size_t i = 0; i < m_curves.size(); ++i) {
        const QCPGraphData point(x, Drawn(m_curves[i], document.ShownValue(row, m_curves[i].yColumn)));
        const auto data = graph(static_cast<int>(i))->data();
        const auto at = data->findBegin(x, false);
        if (at != data->constEnd() && at->key == x)
            (data->begin() + (at - data->constBegin()))->value = point.value;
        else
            data->add(point);
    }
    // The time across the screen, once two rows tell the step.
    if (row == 1 && !m_curves.empty()) {
        const int time = m_curves.front().xColumn;
        m_timeStep = document.ShownValue(1, time) - document.ShownValue(0, time);
        const double perDivision = m_timeStep * static_cast<double>(m_screenPoints - 1) / (2.0 * kHalfWidth);
        xAxis->setLabel(std::isfinite(perDivision)
                            ? QStringLiteral("%1: %2 %3/div").arg(m_xName, Number(perDivision), m_xUnit)
                            : QString());
    }
}

void GraphPlot::ClearPoints()
{
    for (int i = 0; i < graphCount(); ++i)
        graph(i)->data()->clear();
    m_x = Extent{};
    m_y = {};
}

void GraphPlot::ZoomOut()
{
    m_followData = true;
    if (m_scope) {
        xAxis->setRange(-kHalfWidth, kHalfWidth);
        yAxis->setRange(-kHalfHeight, kHalfHeight);
        return;
    }
    xAxis->setRange(m_x.Padded(0.0, QCPRange(0.0, 1.0)));
    yAxis->setRange(m_y[0].Padded(0.05, QCPRange(-1.0, 1.0)));
    yAxis2->setRange(m_y[1].Padded(0.05, QCPRange(-1.0, 1.0)));
}

void GraphPlot::ReplotNow()
{
    m_replotTimer.stop();
    m_sinceReplot.start();
    replot(rpImmediateRefresh);
}

int GraphPlot::ReplotInterval() const
{
    const auto drawing = static_cast<int>(std::ceil(kReplotTimeShare * replotTime(true)));
    return std::max(kReplotIntervalMs, drawing);
}

void GraphPlot::RequestReplot()
{
    const int interval = ReplotInterval();
    if (!m_sinceReplot.isValid() || m_sinceReplot.elapsed() >= interval) {
        m_sinceReplot.start();
        replot(rpQueuedReplot);
    } else if (!m_replotTimer.isActive()) {
        m_replotTimer.start(interval - static_cast<int>(m_sinceReplot.elapsed()));
    }
}

void GraphPlot::ShowCursor(double x)
{
    m_cursorLine->point1->setCoords(x, 0.0);
    m_cursorLine->point2->setCoords(x, 1.0);
    QStringList lines;
    // On a scope, the time from the left edge of the screen.
    const double time =
        m_scope ? (x + kHalfWidth) / (2.0 * kHalfWidth) * static_cast<double>(m_screenPoints - 1) * m_timeStep
                : x;
    lines << QStringLiteral("%1 = %2 %3").arg(m_xName, Number(time), m_xUnit).trimmed();
    for (std::size_t i = 0; i < m_curves.size(); ++i) {
        const double value = Shown(m_curves[i], ValueNear(graph(static_cast<int>(i)), x));
        lines << QStringLiteral("%1: %2 %3").arg(m_curves[i].name, Number(value), m_curves[i].unit).trimmed();
    }
    m_readout->setText(lines.join(QLatin1Char('\n')));
    m_cursorLine->setVisible(true);
    m_readout->setVisible(true);
}

void GraphPlot::HideCursor()
{
    m_cursorLine->setVisible(false);
    m_readout->setVisible(false);
}

QString GraphPlot::CursorReadout() const
{
    return m_readout->visible() ? m_readout->text() : QString();
}

int GraphPlot::DrawnPoints(int curve) const
{
    return curve >= 0 && curve < graphCount() ? graph(curve)->dataCount() : 0;
}

QSize GraphPlot::PictureSize() const
{
    return width() >= 400 && height() >= 250 ? size() : kDefaultPictureSize;
}

bool GraphPlot::WritePicture(const QString& path, QString& error)
{
    const QString type = QFileInfo(path).suffix().toLower();
    if (type != QLatin1String("png") && type != QLatin1String("svg")) {
        error = QStringLiteral("A picture is saved as .png or .svg, not as \"%1\".").arg(path);
        return false;
    }
    // The cursor belongs to the screen, not to the picture.
    const bool cursor = m_readout->visible();
    HideCursor();
    const QSize size = PictureSize();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    bool drawn = true;
    if (type == QLatin1String("png")) {
        drawn = toPixmap(size.width(), size.height()).save(&buffer, "PNG");
    } else {
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(QFileInfo(path).completeBaseName());
        QCPPainter painter;
        drawn = painter.begin(&generator);
        if (drawn) {
            toPainter(&painter, size.width(), size.height());
            painter.end();
        }
    }
    if (cursor) {
        m_cursorLine->setVisible(true);
        m_readout->setVisible(true);
    }
    std::string written;
    if (!drawn) {
        error = QStringLiteral("The graph could not be drawn into \"%1\".").arg(path);
        return false;
    }
    if (!WriteFileAtomically(path.toStdString(),
                             std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                             written)) {
        error = QString::fromStdString(written);
        return false;
    }
    return true;
}

void GraphPlot::mousePressEvent(QMouseEvent* event)
{
    // Only the left button draws a zoom rectangle; the right one opens the
    // dialog's menu.
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void GraphPlot::contextMenuEvent(QContextMenuEvent* event)
{
    // The plot keeps mouse events to itself; a right click goes on to the
    // control that holds it, and so to the dialog's menu.
    QWidget* holder = parentWidget();
    if (holder == nullptr) {
        event->ignore();
        return;
    }
    QContextMenuEvent forwarded(event->reason(), mapTo(holder, event->pos()), event->globalPos(),
                                event->modifiers());
    QApplication::sendEvent(holder, &forwarded);
    event->setAccepted(forwarded.isAccepted());
}

void GraphPlot::mouseMoveEvent(QMouseEvent* event)
{
    QCustomPlot::mouseMoveEvent(event);
    const QPoint at = event->position().toPoint();
    if (event->buttons() == Qt::NoButton && axisRect()->rect().contains(at))
        ShowCursor(xAxis->pixelToCoord(at.x()));
    else
        HideCursor();
    replot(rpQueuedReplot);
}

void GraphPlot::mouseDoubleClickEvent(QMouseEvent* event)
{
    QCustomPlot::mouseDoubleClickEvent(event);
    ZoomOut();
    replot(rpQueuedReplot);
}

void GraphPlot::wheelEvent(QWheelEvent* event)
{
    m_followData = false;
    QCustomPlot::wheelEvent(event);
}

void GraphPlot::leaveEvent(QEvent* event)
{
    QCustomPlot::leaveEvent(event);
    HideCursor();
    replot(rpQueuedReplot);
}
