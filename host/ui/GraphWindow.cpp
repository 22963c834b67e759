#include "GraphWindow.h"

#include "Dialog.h"
#include "Errors.h"
#include "GraphDocument.h"
#include "GraphPlot.h"
#include "Logger.h"
#include "PlaceholderHost.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kScopeKind = 4;

struct ScaleButton {
    ScaleStep code;
    const char* text;
    const char* tip;
};
constexpr ScaleButton kScaleButtons[] = {
    {ScaleFiner, "+", "Finer scale: fewer units per division"},
    {ScaleCoarser, "\u2212", "Coarser scale: more units per division"},
    {TraceUp, "\u25B2", "Trace up one division"},
    {TraceDown, "\u25BC", "Trace down one division"},
};

// A logger's pictures, drawn off screen as its graph window would show them.
bool RenderFilter(const CGraphFilter& filter, const std::string& basePath, std::string& error)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        error = "The plot pictures need the graphical interface; only the data were saved.";
        return false;
    }
    GraphPlot plot(filter, filter.Document()->Capacity() > 0);
    plot.resize(800, 500);
    plot.BuildCurves();
    plot.DrawRows(0, filter.Document()->PointCount());
    plot.ZoomOut();
    for (const char* extension : {".png", ".svg"}) {
        QString failure;
        if (!plot.WritePicture(QString::fromStdString(basePath + extension), failure)) {
            error = failure.toStdString();
            return false;
        }
    }
    return true;
}

// The loggers save pictures from the moment host/ui is loaded.
const struct RendererRegistration {
    RendererRegistration() { RegisterGraphRenderer(); }
} g_rendererRegistration;

} // namespace

QString ScaleStepButtonName(int channel, int code)
{
    return QStringLiteral("scaleStep%1_%2").arg(channel).arg(code);
}

void RegisterGraphRenderer()
{
    SetGraphRenderer(RenderFilter);
}

CGraphWindow::CGraphWindow(int kind, int /*flags*/) : m_kind(kind) {}

CGraphWindow::~CGraphWindow()
{
    delete m_frame.data();
}

bool CGraphWindow::SubclassDlgItem(int controlId, CMC_Dialog* dialog, CGraphFilter* filter)
{
    if (filter == nullptr)
        return false;
    auto* plot = new GraphPlot(*filter, m_kind == kScopeKind);
    plot->setMinimumSize(160, 100);
    QWidget* frame = plot;
    if (plot->IsScope()) {
        frame = new QWidget();
        auto* layout = new QVBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(2);
        layout->addWidget(plot, 1);
    }
    if (AddToPlaceholder(dialog, controlId, frame) == nullptr) {
        delete frame;
        return false;
    }
    delete m_frame.data();
    m_frame = frame;
    m_plot = plot;
    m_filter = filter;
    m_dialog = dialog;
    m_controlId = controlId;
    m_drawnRows = 0;
    return true;
}

bool CGraphWindow::IsAttached() const
{
    return !m_plot.isNull();
}

QWidget* CGraphWindow::Widget() const
{
    return m_plot.data();
}

void CGraphWindow::Initialize()
{
    if (m_plot.isNull())
        return;
    m_plot->BuildCurves();
    if (m_plot->IsScope())
        BuildScaleButtons();
    m_drawnRows = 0;
    m_plot->ZoomOut();
    m_plot->ReplotNow();
}

void CGraphWindow::RefreshGraph()
{
    if (m_plot.isNull())
        return;
    m_plot->BuildCurves();
    DrawFrom(0);
}

void CGraphWindow::UpdateLastPoint()
{
    if (m_plot.isNull())
        return;
    // Points only appended since the last draw are drawn alone; anything
    // else (an emptied document, a point changed) draws all again.
    const CGraphDocument& document = *m_filter->Document();
    const std::size_t rows = document.PointCount();
    const bool appended = rows >= m_drawnRows && document.Revision() - m_drawnRevision == rows - m_drawnRows;
    if (!appended) {
        m_plot->ClearPoints();
        m_drawnRows = 0;
    }
    DrawFrom(m_drawnRows);
}

void CGraphWindow::UpdatePoint(int index)
{
    if (m_plot.isNull())
        return;
    if (!m_plot->IsScope()) {
        UpdateLastPoint();
        return;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= m_filter->Document()->PointCount())
        return;
    m_plot->DrawRows(static_cast<std::size_t>(index), static_cast<std::size_t>(index) + 1);
    m_plot->RequestReplot();
}

void CGraphWindow::DrawFrom(std::size_t row)
{
    const CGraphDocument& document = *m_filter->Document();
    m_plot->DrawRows(row, document.PointCount());
    m_drawnRows = document.PointCount();
    m_drawnRevision = document.Revision();
    m_plot->RequestReplot();
}

void CGraphWindow::Invalidate()
{
    if (m_plot.isNull())
        return;
    m_plot->ClearPoints();
    m_drawnRows = 0;
    m_plot->RequestReplot();
}

void CGraphWindow::DoZoomOut()
{
    if (m_plot.isNull())
        return;
    m_plot->ZoomOut();
    m_plot->ReplotNow();
}

int CGraphWindow::CreateWMF(const char* name)
{
    if (name == nullptr || *name == '\0') {
        SetLastErrorText("No file name for the picture.");
        return 0;
    }
    return SavePicture(QString::fromStdString(PlotFilePath(name, ".svg")));
}

int CGraphWindow::SavePicture(const QString& path)
{
    if (m_plot.isNull()) {
        SetLastErrorText("The graph is not shown in a dialog.");
        return 0;
    }
    QString error;
    if (!m_plot->WritePicture(QString::fromStdString(PlotFilePath(path.toStdString(), "")), error)) {
        SetLastErrorText(error.toStdString());
        return 0;
    }
    return 1;
}

void CGraphWindow::ShowCursor(double x)
{
    if (m_plot.isNull())
        return;
    m_plot->ShowCursor(x);
    m_plot->RequestReplot();
}

QString CGraphWindow::CursorReadout() const
{
    return m_plot.isNull() ? QString() : m_plot->CursorReadout();
}

int CGraphWindow::DrawnPoints(int curve) const
{
    return m_plot.isNull() ? 0 : m_plot->DrawnPoints(curve);
}

// A row under the scope: each channel's number in its colour and its four steps.
void CGraphWindow::BuildScaleButtons()
{
    delete m_scaleButtons.data();
    auto* strip = new QWidget(m_frame);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(1);
    const CGraphDocument& document = *m_filter->Document();
    for (const CXYCurve& curve : m_filter->Curves()) {
        const int channel = curve.YColumn();
        auto* label = new QLabel(QString::number(channel), strip);
        label->setStyleSheet(
            QStringLiteral("color: %1; font-weight: bold;").arg(QColor::fromRgb(curve.Color()).name()));
        if (const GraphColumn* column = document.Column(channel))
            label->setToolTip(QString::fromStdString(column->name));
        row->addWidget(label);
        for (const ScaleButton& step : kScaleButtons) {
            auto* button = new QToolButton(strip);
            button->setObjectName(ScaleStepButtonName(channel, step.code));
            button->setText(QString::fromUtf8(step.text));
            button->setToolTip(QString::fromUtf8(step.tip));
            button->setAutoRaise(true);
            QObject::connect(button, &QToolButton::clicked, strip,
                             [this, channel, code = step.code] { StepChannelScale(channel, code); });
            row->addWidget(button);
        }
        row->addSpacing(10);
    }
    row->addStretch(1);
    m_frame->layout()->addWidget(strip);
    m_scaleButtons = strip;
}

void CGraphWindow::StepChannelScale(int channel, int code)
{
    if (!m_dialog.isNull())
        m_dialog->SendWindowMessage(kScaleStepMessage, static_cast<unsigned>(m_controlId),
                                    static_cast<unsigned>(channel) | (static_cast<unsigned>(code) << 16));
}
