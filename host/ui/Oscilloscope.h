// Live traces drawn into a placeholder control of a dialog: one or more
// channels, each with its span and colour; every UpdateLastPoint adds the
// channels' current values as the newest points, and the traces scroll.
//
//   CMC_Oscilloscope scope;               // a member of the dialog
//   scope.Attach(this, 3352);             // in OnInitDialog
//   scope.Initialize("", 1, 0);           // title, channels, flags
//   scope.Channel(0).lowerLimit = -1.0;
//   scope.Channel(0).upperLimit = 6.0;
//   scope.Channel(0).color = RGB16(4);
//   ...each sample: scope.Channel(0).value = volts; scope.UpdateLastPoint();
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>

#include <deque>
#include <vector>

class CMC_Dialog;
class QCustomPlot;

struct OscilloscopeChannel {
    double value = 0.0;      // the value UpdateLastPoint adds next
    double upperLimit = 1.0; // the span shown
    double lowerLimit = 0.0;
    QColor color = Qt::blue;
};

class CMC_Oscilloscope {
public:
    // Points kept per channel; older ones scroll out.
    static constexpr int kPoints = 500;

    CMC_Oscilloscope();
    ~CMC_Oscilloscope();
    CMC_Oscilloscope(const CMC_Oscilloscope&) = delete;
    CMC_Oscilloscope& operator=(const CMC_Oscilloscope&) = delete;

    // Draws into the dialog's control with this id; false when it has none.
    bool Attach(CMC_Dialog* dialog, int controlId);
    bool IsAttached() const { return !m_plot.isNull(); }

    // Starts afresh with this many channels (at least 1); flags: none yet (0).
    void Initialize(const QString& title, int channels, int flags);
    int ChannelCount() const { return static_cast<int>(m_channels.size()); }
    OscilloscopeChannel& Channel(int index);
    const OscilloscopeChannel& Channel(int index) const;

    // Adds every channel's value as its newest point and redraws.
    void UpdateLastPoint();
    // The points of a channel, oldest first.
    const std::deque<double>& Points(int channel) const;
    const QString& Title() const { return m_title; }

private:
    void Redraw();

    QString m_title;
    std::vector<OscilloscopeChannel> m_channels;
    std::vector<std::deque<double>> m_points;
    QPointer<QCustomPlot> m_plot;
};
