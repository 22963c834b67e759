#include "Oscilloscope.h"

#include "Dialog.h"
#include "PlaceholderHost.h"

#include "QCustomPlotInclude.h"

#include <algorithm>
#include <cmath>

CMC_Oscilloscope::CMC_Oscilloscope()
{
    Initialize(QString(), 1, 0);
}

CMC_Oscilloscope::~CMC_Oscilloscope()
{
    delete m_plot.data();
}

bool CMC_Oscilloscope::Attach(CMC_Dialog* dialog, int controlId)
{
    auto* plot = new QCustomPlot();
    if (AddToPlaceholder(dialog, controlId, plot) == nullptr) {
        delete plot;
        return false;
    }
    delete m_plot.data();
    m_plot = plot;
    plot->setMinimumSize(120, 60);
    plot->xAxis->setTickLabels(false);
    Redraw();
    return true;
}

void CMC_Oscilloscope::Initialize(const QString& title, int channels, int /*flags*/)
{
    m_title = title;
    const auto count = static_cast<std::size_t>(std::max(channels, 1));
    m_channels.assign(count, OscilloscopeChannel{});
    m_points.assign(count, std::deque<double>{});
    Redraw();
}

OscilloscopeChannel& CMC_Oscilloscope::Channel(int index)
{
    return m_channels.at(static_cast<std::size_t>(index));
}

const OscilloscopeChannel& CMC_Oscilloscope::Channel(int index) const
{
    return m_channels.at(static_cast<std::size_t>(index));
}

const std::deque<double>& CMC_Oscilloscope::Points(int channel) const
{
    return m_points.at(static_cast<std::size_t>(channel));
}

void CMC_Oscilloscope::UpdateLastPoint()
{
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        auto& points = m_points[i];
        points.push_back(m_channels[i].value);
        while (points.size() > static_cast<std::size_t>(kPoints))
            points.pop_front();
    }
    Redraw();
}

void CMC_Oscilloscope::Redraw()
{
    QCustomPlot* plot = m_plot.data();
    if (plot == nullptr)
        return;
    // Every channel is drawn in the span of the first: a channel with another
    // span is mapped onto it.
    const OscilloscopeChannel& first = m_channels.front();
    const double low = std::min(first.lowerLimit, first.upperLimit);
    const double high = std::max(first.lowerLimit, first.upperLimit);
    while (plot->graphCount() < static_cast<int>(m_channels.size()))
        plot->addGraph();
    while (plot->graphCount() > static_cast<int>(m_channels.size()))
        plot->removeGraph(plot->graphCount() - 1);
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        const OscilloscopeChannel& channel = m_channels[i];
        const double span = channel.upperLimit - channel.lowerLimit;
        QVector<double> x;
        QVector<double> y;
        x.reserve(static_cast<int>(m_points[i].size()));
        y.reserve(static_cast<int>(m_points[i].size()));
        int n = 0;
        for (double value : m_points[i]) {
            x.push_back(n++);
            const double mapped =
                span != 0.0 ? low + (value - channel.lowerLimit) / span * (high - low) : value;
            y.push_back(std::isfinite(mapped) ? mapped : qQNaN());
        }
        QCPGraph* graph = plot->graph(static_cast<int>(i));
        graph->setPen(QPen(channel.color));
        graph->setData(x, y, true);
    }
    plot->xAxis->setRange(0, kPoints);
    plot->yAxis->setRange(low, high > low ? high : low + 1.0);
    plot->replot(QCustomPlot::rpQueuedReplot);
}
