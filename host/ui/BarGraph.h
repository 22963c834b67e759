// A horizontal bar graph drawn into a placeholder control of a dialog: a bar
// from the drawing reference to the value over the span low..high, with the
// value printed beside it. The tests show measured currents and voltages
// with it.
//
//   CBarGraph bar;                       // a member of the dialog
//   bar.Attach(this, 1021);              // in OnInitDialog
//   bar.SetRange(-3.0, 3.0);
//   bar.SetValue(1.2);
//   bar.Invalidate();
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>

class CMC_Dialog;
class QWidget;

class CBarGraph {
public:
    CBarGraph();
    ~CBarGraph();
    CBarGraph(const CBarGraph&) = delete;
    CBarGraph& operator=(const CBarGraph&) = delete;

    // Draws into the dialog's control with this id (a frame or a label);
    // false when the dialog has no such control.
    bool Attach(CMC_Dialog* dialog, int controlId);
    bool IsAttached() const { return !m_widget.isNull(); }

    // The span of the bar; a span with low > high is taken the other way round.
    void SetRange(double low, double high);
    // Where the bar starts (0 for a span around 0, else usually the low end).
    void SetReference(double reference);
    // SetRange and a reference of 0 when low <= 0 <= high, else low.
    void SetRangeWithReference(double low, double high);
    void SetValue(double value);
    void SetColor(const QColor& color);
    // printf format of the printed value, for example "%.2f".
    void SetFormat(const char* format);
    // Redraws with the current settings.
    void Invalidate();

    double Low() const { return m_low; }
    double High() const { return m_high; }
    double Reference() const { return m_reference; }
    double Value() const { return m_value; }
    QColor Color() const { return m_color; }
    // The value as printed.
    QString ValueText() const;
    // The bar's end points as fractions 0..1 of the span (clipped).
    double FromFraction() const;
    double ToFraction() const;

private:
    class Canvas;
    double Fraction(double x) const;

    double m_low = 0.0;
    double m_high = 1.0;
    double m_reference = 0.0;
    double m_value = 0.0;
    QColor m_color;
    QString m_format;
    QPointer<QWidget> m_widget;
};
