// A graph drawn into a placeholder control of a dialog: one filter of a graph
// document (GraphDocument.h), its curves on a left (axis 1) and a right
// (axis 2) value axis against time, with a legend, zoom (drag a rectangle,
// the wheel, double click or DoZoomOut to see everything), a cursor that
// shows the curves' values under the mouse, and a right-click that goes to
// the dialog (CMC_Dialog::OnContextMenu).
//
//   CGraphWindow graph(2, 0);                        // a member of the dialog
//   graph.SubclassDlgItem(1361, this, filter);       // in OnInitDialog
//   graph.Initialize();
//   graph.RefreshGraph();
//   ...each point read: graph.UpdateLastPoint();
//
// Kinds: 2 a logger's graph (axes scale to the data); 4 a scope (ten
// divisions across, eight up, each channel on its own division scale, see
// GraphColumn::division; the trigger and zero marks of the filter's values).
// Under a scope each channel has small buttons that step its scale; a step
// goes to the dialog as window message kScaleStepMessage (OnWindowMessage)
// with wParam the control's id and lParam channel | (code << 16), channel
// from 1 (the curve's y column), code a ScaleStep.
#pragma once

#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>

class CGraphFilter;
class CMC_Dialog;
class GraphPlot;
class QWidget;

inline constexpr int kScaleStepMessage = 0x467;
enum ScaleStep { ScaleFiner = 0, ScaleCoarser = 1, TraceUp = 2, TraceDown = 3 };
// The object name of a channel's scale step button (for the scripted user).
QString ScaleStepButtonName(int channel, int code);

class CGraphWindow {
public:
    // flags: none yet (0).
    CGraphWindow(int kind, int flags);
    ~CGraphWindow();
    CGraphWindow(const CGraphWindow&) = delete;
    CGraphWindow& operator=(const CGraphWindow&) = delete;

    // Draws the filter into the dialog's control with this id (replacing what
    // was attached before); false when the dialog has no such control.
    bool SubclassDlgItem(int controlId, CMC_Dialog* dialog, CGraphFilter* filter);
    bool IsAttached() const;
    int Kind() const { return m_kind; }
    CGraphFilter* Filter() const { return m_filter; }
    // The plot widget, null while not attached.
    QWidget* Widget() const;

    // After attaching: builds the axes, the legend (from the columns' names
    // and units) and the cursor for the filter's curves.
    void Initialize();
    // Draws every point of the document again.
    void RefreshGraph();
    // Draws the points added since the last draw.
    void UpdateLastPoint();
    // Draws one point of a circular document (a scope) again.
    void UpdatePoint(int index);
    // Forgets what was drawn; the next refresh starts from the document.
    void Invalidate();
    // Shows all points (a scope: its full screen).
    void DoZoomOut();

    // The graph as a picture: CreateWMF writes SVG (".svg" added to a name
    // without extension); SavePicture writes PNG or SVG by the extension. A
    // name without folder goes to PlotDirectory(). Non-zero on success; on
    // failure GetLastErrorText() says why.
    int CreateWMF(const char* name);
    int SavePicture(const QString& path);

    // The cursor at x, as the mouse puts it, and what it reads there: the
    // time, then each curve's name, value and unit on a line.
    void ShowCursor(double x);
    QString CursorReadout() const;

    // The number of points drawn per curve (for tests).
    int DrawnPoints(int curve) const;

private:
    void DrawFrom(std::size_t row);
    void BuildScaleButtons();
    void StepChannelScale(int channel, int code);

    int m_kind;
    CGraphFilter* m_filter = nullptr;
    QPointer<CMC_Dialog> m_dialog;
    int m_controlId = 0;
    QPointer<QWidget> m_frame; // what the placeholder holds: the plot, or the plot and the scale buttons
    QPointer<GraphPlot> m_plot;
    QPointer<QWidget> m_scaleButtons;
    std::uint64_t m_drawnRevision = 0;
    std::size_t m_drawnRows = 0;
};

// Renders a filter into PNG and SVG files beside a CSV (the loggers'
// SaveGraph goes through it once host/ui is loaded).
void RegisterGraphRenderer();
