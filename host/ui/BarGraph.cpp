#include "BarGraph.h"

#include "Dialog.h"
#include "PlaceholderHost.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

// Draws the bar of its graph.
class CBarGraph::Canvas final : public QWidget {
public:
    explicit Canvas(const CBarGraph* graph) : m_graph(graph) { setMinimumSize(60, 16); }
    void Detach() { m_graph = nullptr; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_graph == nullptr)
            return;
        QPainter painter(this);
        const QRect frame = rect().adjusted(0, 0, -1, -1);
        painter.fillRect(frame, palette().base());
        painter.setPen(palette().mid().color());
        painter.drawRect(frame);
        const double from = m_graph->FromFraction();
        const double to = m_graph->ToFraction();
        const int x0 = frame.left() + static_cast<int>(std::min(from, to) * frame.width());
        const int x1 = frame.left() + static_cast<int>(std::max(from, to) * frame.width());
        const QRect bar(x0, frame.top() + 3, std::max(x1 - x0, 1), std::max(frame.height() - 6, 1));
        painter.fillRect(bar, m_graph->Color());
        const int zero = frame.left() + static_cast<int>(from * frame.width());
        painter.setPen(palette().text().color());
        painter.drawLine(zero, frame.top(), zero, frame.bottom());
        painter.drawText(frame.adjusted(4, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter,
                         m_graph->ValueText());
    }

private:
    const CBarGraph* m_graph;
};

CBarGraph::CBarGraph() : m_color(0, 0, 255), m_format(QStringLiteral("%.3G")) {}

CBarGraph::~CBarGraph()
{
    if (auto* canvas = static_cast<Canvas*>(m_widget.data())) {
        canvas->Detach();
        delete canvas;
    }
}

bool CBarGraph::Attach(CMC_Dialog* dialog, int controlId)
{
    auto* canvas = new Canvas(this);
    if (AddToPlaceholder(dialog, controlId, canvas) == nullptr) {
        delete canvas;
        return false;
    }
    if (auto* old = static_cast<Canvas*>(m_widget.data())) {
        old->Detach();
        delete old;
    }
    m_widget = canvas;
    return true;
}

void CBarGraph::SetRange(double low, double high)
{
    if (low > high)
        std::swap(low, high);
    m_low = low;
    m_high = high;
}

void CBarGraph::SetReference(double reference)
{
    m_reference = reference;
}

void CBarGraph::SetRangeWithReference(double low, double high)
{
    SetRange(low, high);
    SetReference(m_low <= 0.0 && 0.0 <= m_high ? 0.0 : m_low);
}

void CBarGraph::SetValue(double value)
{
    m_value = value;
}

void CBarGraph::SetColor(const QColor& color)
{
    m_color = color;
}

void CBarGraph::SetFormat(const char* format)
{
    m_format = QString::fromUtf8(format ? format : "%.3G");
}

void CBarGraph::Invalidate()
{
    if (m_widget)
        m_widget->update();
}

QString CBarGraph::ValueText() const
{
    return QString::asprintf(m_format.toUtf8().constData(), m_value);
}

double CBarGraph::Fraction(double x) const
{
    const double span = m_high - m_low;
    if (!(span > 0.0) || !std::isfinite(x))
        return 0.0;
    return std::clamp((x - m_low) / span, 0.0, 1.0);
}

double CBarGraph::FromFraction() const
{
    return Fraction(m_reference);
}

double CBarGraph::ToFraction() const
{
    return Fraction(m_value);
}
