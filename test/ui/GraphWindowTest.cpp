// The graph window in a dialog's placeholder: what it draws, its zoom, cursor
// and pictures; the loggers' saved plots; and the dialog's right-click menu
// and scope scale steps, worked by the scripted user.
#include "GraphWindow.h"
#include "Automation.h"
#include "Comm.h"
#include "GraphDocument.h"
#include "Logger.h"
#include "QCustomPlotInclude.h"
#include "ScriptedDrive.h"
#include "TestSetup.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <array>
#include <cstdlib>

namespace {

// Records what reaches the dialog; a right click shows the test menu 9001.
class GraphDialog : public CMC_Dialog {
public:
    GraphDialog() : CMC_Dialog(9002, nullptr) {}

    std::vector<int> contextControls;
    std::vector<int> commands;
    std::vector<std::array<unsigned, 3>> messages;

protected:
    void OnContextMenu(QWidget* control, const QPoint& globalPos) override
    {
        contextControls.push_back(control->property("id").toInt());
        TrackPopupMenu(9001, 0, globalPos);
    }
    bool OnCommand(int id) override
    {
        commands.push_back(id);
        return CMC_Dialog::OnCommand(id);
    }
    void OnWindowMessage(int message, unsigned wParam, unsigned lParam) override
    {
        messages.push_back({static_cast<unsigned>(message), wParam, lParam});
    }
};

QString ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A logger's document: time [s], a current shown at half its internal
// value [A] on the left axis, a voltage [V] dashed on the right one.
class GraphWindowTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        ASSERT_TRUE(plots.isValid());
        ::setenv("VELMARO_PLOT_DIR", plots.path().toUtf8().constData(), 1);
        document.SetColumns(
            {{"time", "s", 1.0, 0.0}, {"Motor_Current", "A", 0.5, 0.0}, {"Voltage_Reference", "V"}});
        filter = document.GetAt(0);
        filter->Add(CXYCurve(1, 0, 1, 2, RGB16(5).rgb()));
        filter->Add(CXYCurve(2, 0, 2, 3, RGB16(8).rgb()));
    }
    void TearDown() override
    {
        ::unsetenv("VELMARO_PLOT_DIR");
        ModelTest::TearDown();
    }

    static QCustomPlot* Plot(const CGraphWindow& graph) { return qobject_cast<QCustomPlot*>(graph.Widget()); }
    QString PlotPath(const char* name) const { return plots.filePath(QString::fromUtf8(name)); }

    QTemporaryDir plots;
    CGraphDocument document;
    CGraphFilter* filter = nullptr;
    GraphDialog dialog;
};

TEST_F(GraphWindowTest, LoggerGraphDrawsNewPointsOnlyFollowsThemUntilZoomedAndZoomOutShowsAll)
{
    CGraphWindow graph(2, 0);
    EXPECT_FALSE(graph.SubclassDlgItem(4242, &dialog, filter));
    ASSERT_TRUE(graph.SubclassDlgItem(1361, &dialog, filter));
    graph.Initialize();
    QCustomPlot* plot = Plot(graph);
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->graph(0)->name(), "Motor_Current [A]");
    EXPECT_EQ(plot->graph(0)->pen().color(), RGB16(5));
    EXPECT_EQ(plot->graph(1)->valueAxis(), plot->yAxis2);
    EXPECT_EQ(plot->graph(1)->pen().style(), Qt::DashLine);
    EXPECT_EQ(plot->xAxis->label(), "time [s]");
    EXPECT_EQ(plot->yAxis2->label(), "[V]");

    document.AppendPoint({0.0, 2.0, 1.0});
    document.AppendPoint({0.1, 4.0, -3.0});
    graph.UpdateLastPoint();
    document.AppendPoint({0.2, 10.0, 2.0});
    graph.UpdateLastPoint();
    graph.UpdateLastPoint();
    EXPECT_EQ(graph.DrawnPoints(0), 3) << "each point once";
    EXPECT_EQ(graph.DrawnPoints(1), 3);
    EXPECT_DOUBLE_EQ((plot->graph(0)->data()->constEnd() - 1)->value, 5.0) << "in the unit shown";
    EXPECT_TRUE(plot->xAxis->range().contains(0.2)) << "the axes follow the points";

    graph.ShowCursor(0.09);
    EXPECT_TRUE(graph.CursorReadout().contains("Motor_Current: 2 A")) << graph.CursorReadout().toStdString();
    EXPECT_TRUE(graph.CursorReadout().contains("Voltage_Reference: -3 V"));

    // A turn of the wheel zooms in: new points no longer move the axes.
    plot->resize(600, 220);
    plot->replot();
    const QPointF middle = plot->axisRect()->center();
    QWheelEvent wheel(middle, plot->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    document.AppendPoint({5.0, 40.0, 7.0});
    graph.UpdateLastPoint();
    EXPECT_FALSE(plot->xAxis->range().contains(5.0));
    graph.DoZoomOut();
    for (double t : {0.0, 5.0})
        EXPECT_TRUE(plot->xAxis->range().contains(t)) << t;
    for (double current : {1.0, 20.0})
        EXPECT_TRUE(plot->yAxis->range().contains(current)) << current;
    for (double voltage : {-3.0, 7.0})
        EXPECT_TRUE(plot->yAxis2->range().contains(voltage)) << voltage;

    // A new upload empties the document: it is drawn from its start.
    document.ClearPoints();
    document.AppendPoint({0.0, 1.0, 1.0});
    graph.UpdateLastPoint();
    EXPECT_EQ(graph.DrawnPoints(0), 1);
}

TEST_F(GraphWindowTest, ScopeGraphDrawsChannelsInDivisionsAndReplacesPointsInPlace)
{
    CGraphDocument scope;
    scope.SetCapacity(5);
    // One division is 0.5 A; -1 A sits on the centre line, so the zero is
    // two divisions up.
    scope.SetColumns({{"time", "s"}, {"Motor_Current", "A", 1.0, 0.0, 0.5, -1.0}});
    CGraphFilter* channels = scope.GetAt(0);
    channels->Add(CXYCurve(1, 0, 1, 2, RGB16(2).rgb()));
    channels->SetColor(RGB16(4).rgb());
    channels->Values() = {-4.2, -3.5};
    for (int row = 0; row < 5; ++row)
        scope.SetPoint(static_cast<std::size_t>(row), {row * 0.01, row * 0.25});

    CGraphWindow graph(4, 0);
    ASSERT_TRUE(graph.SubclassDlgItem(1362, &dialog, channels));
    graph.Initialize();
    for (int row = 0; row < 5; ++row)
        graph.UpdatePoint(row);
    QCustomPlot* plot = Plot(graph);
    ASSERT_NE(plot, nullptr);
    ASSERT_EQ(graph.DrawnPoints(0), 5);
    EXPECT_EQ(plot->graph(0)->name(), "Motor_Current: 0.5 A/div");
    EXPECT_EQ(plot->xAxis->grid()->pen().color(), RGB16(4));
    EXPECT_EQ(plot->xAxis->range(), QCPRange(-5.0, 5.0));
    EXPECT_EQ(plot->yAxis->range(), QCPRange(-4.0, 4.0));
    EXPECT_DOUBLE_EQ(plot->graph(0)->data()->constBegin()->value, 2.0);
    EXPECT_DOUBLE_EQ((plot->graph(0)->data()->constEnd() - 1)->value, 4.0);

    scope.SetPoint(4, {0.04, -1.0});
    graph.UpdatePoint(4);
    EXPECT_EQ(graph.DrawnPoints(0), 5) << "replaced, not added";
    EXPECT_DOUBLE_EQ((plot->graph(0)->data()->constEnd() - 1)->value, 0.0);
    graph.ShowCursor(5.0);
    EXPECT_TRUE(graph.CursorReadout().contains("time = 0.04 s")) << graph.CursorReadout().toStdString();
    EXPECT_TRUE(graph.CursorReadout().contains("Motor_Current: -1 A")) << "read back in amperes";

    // The channel's scale buttons send the dialog its message.
    DialogDriver driver(&dialog);
    EXPECT_TRUE(driver.StepScopeChannel(1362, 1, TraceDown));
    EXPECT_TRUE(driver.StepScopeChannel(1362, 1, ScaleFiner));
    EXPECT_FALSE(driver.StepScopeChannel(1362, 2, ScaleFiner)) << "there is no channel 2";
    EXPECT_EQ(dialog.messages,
              (std::vector<std::array<unsigned, 3>>{{0x467u, 1362u, 1u | (3u << 16)}, {0x467u, 1362u, 1u}}));
}

TEST_F(GraphWindowTest, PicturesAndDataAreWrittenAndReadBack)
{
    CGraphWindow graph(2, 0);
    EXPECT_FALSE(graph.CreateWMF("response")) << "not attached";
    ASSERT_TRUE(graph.SubclassDlgItem(1361, &dialog, filter));
    graph.Initialize();
    document.AppendPoint({0.0, 2.0, 1.0});
    document.AppendPoint({0.5, 3.0, 1.5});
    graph.RefreshGraph();

    ASSERT_TRUE(graph.CreateWMF("response")) << GetLastErrorText();
    QSvgRenderer svg(PlotPath("response.svg"));
    EXPECT_TRUE(svg.isValid());
    ASSERT_TRUE(graph.SavePicture(QStringLiteral("response.png"))) << GetLastErrorText();
    const QImage png(PlotPath("response.png"));
    EXPECT_FALSE(png.isNull());
    EXPECT_GT(png.width() * png.height(), 0);
    EXPECT_FALSE(graph.SavePicture(QStringLiteral("response.bmp")));
    EXPECT_NE(std::string(GetLastErrorText()).find(".png or .svg"), std::string::npos);

    ASSERT_TRUE(filter->ExportToASCII("response")) << GetLastErrorText();
    EXPECT_EQ(ReadText(PlotPath("response.csv")),
              "time [s],Motor_Current [A],Voltage_Reference [V]\n0,1,1\n0.5,1.5,1.5\n");
}

TEST_F(GraphWindowTest, LoggerSaveGraphWritesDataAndPicturesOnceTheUserInterfaceIsLoaded)
{
    ASSERT_TRUE(HasGraphRenderer());
    auto drive = std::make_shared<ScriptedDrive>();
    CMC_Comm::SetActiveLink(drive, std::make_shared<SteppedClock>(0.01));
    CMC_SingleAxisLogger logger(setup.get(), nullptr);
    logger.ChangeSettings(10, CMC_Logger::LogSpeedLoop, 1);
    ASSERT_TRUE(logger.AddVariable("ASPD", 1));
    logger.GetGraphDocument().GetAt(0)->Add(CXYCurve(1, 0, 1, 2, RGB16(2).rgb()));
    logger.LocateItems();
    drive->Program("Logged").StartsAfter(0).EndsAfter(0).Log({{4.0}, {8.0}, {6.0}});
    const LogRequest log = logger.Request();
    ASSERT_EQ(drive->StartProgram(0.0, {"Logged", {}}, &log), LinkResult::Ok);
    double started = 0.0;
    bool on = true;
    drive->ReadUserVariable(0.01, "Logged", "STARTED", started);
    drive->GetAxisOn(0.02, on);
    ASSERT_FALSE(on);
    ASSERT_TRUE(logger.BeginUploadData());
    while (logger.ReadPoint(nullptr)) {
    }
    const int saved = logger.SaveGraph("speed");
    CMC_Comm::SetActiveLink(nullptr, nullptr);
    ASSERT_TRUE(saved) << GetLastErrorText();

    EXPECT_TRUE(ReadText(PlotPath("speed.csv")).startsWith("time [s],ASPD"));
    EXPECT_EQ(ReadText(PlotPath("speed.csv")).count('\n'), 4);
    EXPECT_FALSE(QImage(PlotPath("speed.png")).isNull());
    EXPECT_TRUE(QSvgRenderer(PlotPath("speed.svg")).isValid());
}

class GraphMenuTest : public GraphWindowTest {
protected:
    ScriptedUser user;
};

TEST_F(GraphMenuTest, ARightClickOverTheGraphReachesTheDialogAndTheChosenCommandItsOnCommand)
{
    CGraphWindow graph(2, 0);
    ASSERT_TRUE(graph.SubclassDlgItem(1361, &dialog, filter));
    graph.Initialize();
    bool chosen = false;
    bool refused = true;
    user.OnDialog(9002, [&](DialogDriver& d) {
        chosen = d.ChooseMenuCommand(1361, 9102);
        refused = d.ChooseMenuCommand(1361, 4242);
        d.Ok();
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(chosen);
    EXPECT_FALSE(refused) << "the menu does not offer it";
    EXPECT_EQ(dialog.contextControls, (std::vector<int>{1361, 1361}));
    EXPECT_EQ(dialog.commands, (std::vector<int>{9102, IDOK})) << "a dismissed menu sends nothing";
    ASSERT_EQ(user.Menus().size(), 2u);
    EXPECT_EQ(user.Menus()[0].popup.caption, "Graph");
    EXPECT_EQ(user.Menus()[1].chosen, 0);
}

TEST_F(GraphMenuTest, AMissingMenuIsReportedAndChoosesNothing)
{
    user.OnDialog(9002, [&](DialogDriver& d) {
        EXPECT_EQ(d.Dialog()->TrackPopupMenu(9999, 0, QPoint()), 0);
        EXPECT_EQ(d.Dialog()->TrackPopupMenu(9001, 1, QPoint()), 0);
        d.Ok();
    });
    dialog.DoModal();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("menu 9999 is missing"), std::string::npos);
    EXPECT_NE(errors[1].find("no popup 1"), std::string::npos);
    EXPECT_EQ(dialog.commands, (std::vector<int>{IDOK}));
}

} // namespace
