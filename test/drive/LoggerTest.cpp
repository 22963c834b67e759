#include "Logger.h"
#include "DriveTestSetup.h"
#include "Variable.h"

#include <cstdlib>

namespace {

class LoggerTest : public DriveTest {
protected:
    // Runs a program that logs these rows to its end.
    void RunLogged(CMC_SingleAxisLogger& logger, std::vector<std::vector<double>> rows)
    {
        drive->Program("Ident_R_or_Rs").StartsAfter(0).EndsAfter(0).Log(std::move(rows));
        const LogRequest log = logger.Request();
        ASSERT_EQ(drive->StartProgram(clock->Now(), {"Ident_R_or_Rs", {}}, &log), LinkResult::Ok);
        double started = 0.0;
        bool on = true;
        drive->ReadUserVariable(clock->Now(), "Ident_R_or_Rs", "STARTED", started);
        drive->GetAxisOn(clock->Now(), on);
        ASSERT_FALSE(on);
    }
};

TEST_F(LoggerTest, NewSettingsStartANewListOfVariablesAndUnknownOnesAreRefused)
{
    CMC_SingleAxisLogger logger(setup.get(), nullptr);
    logger.ChangeSettings(400, CMC_Logger::LogCurrentLoop, 1);
    EXPECT_TRUE(logger.AddVariable("IQ", 0));
    logger.ChangeSettings(400, CMC_Logger::LogSpeedLoop, 1);
    EXPECT_TRUE(logger.AddVariable("IQ", 0));
    EXPECT_TRUE(logger.AddVariable("ID", 0));
    EXPECT_FALSE(logger.AddVariable("NoSuchVariable", 0));
    EXPECT_TRUE(errors.empty()) << "a quiet refusal";
    EXPECT_EQ(logger.Variables(), (std::vector<std::string>{"IQ", "ID"}));
    const LogRequest request = logger.Request();
    EXPECT_EQ(request.variables, logger.Variables());
    EXPECT_EQ(request.points, 400);
    EXPECT_FALSE(request.fastLoop);
}

TEST_F(LoggerTest, PointsAreFittedToTheLogMemory)
{
    CMC_SingleAxisLogger logger(setup.get(), nullptr);
    logger.ChangeSettings(5000, CMC_Logger::LogSpeedLoop, 1);
    for (const char* name : {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"})
        logger.AddVariable(name, 1);
    logger.CorrectPointsNo();
    EXPECT_EQ(logger.GetPointsNo(), CMC_Logger::kLogMemory / 4);
    logger.ChangeSettings(100, CMC_Logger::LogSpeedLoop, 1);
    logger.AddVariable("IQ", 1);
    logger.CorrectPointsNo();
    EXPECT_EQ(logger.GetPointsNo(), 100);
}

TEST_F(LoggerTest, UploadAddsTheTimeOfEachSampleAndReadPointStepsThroughThem)
{
    CMC_SingleAxisLogger logger(setup.get(), nullptr);
    logger.ChangeSettings(3, CMC_Logger::LogCurrentLoop, 2);
    logger.AddVariable("IQ", 1);
    logger.AddVariable("ID", 1);
    RunLogged(logger, {{1.0, -1.0}, {2.0, -2.0}, {3.0, -3.0}, {4.0, -4.0}});
    ASSERT_TRUE(logger.BeginUploadData());

    const double period = 2.0 * setup->GetParameterValueInBaseUnit("Ts_C");
    ASSERT_GT(period, 0.0);
    std::vector<std::vector<double>> points;
    std::vector<double> point;
    while (logger.ReadPoint(&point))
        points.push_back(point);
    ASSERT_EQ(points.size(), 3u) << "no more than the points asked for";
    EXPECT_EQ(points[2], (std::vector<double>{2.0 * period, 3.0, -3.0}));
    EXPECT_EQ(logger.Point(), points[2]);
    EXPECT_FALSE(logger.ReadPoint(nullptr));

    // The graph document holds the points read, in columns named after the
    // variables, and starts empty with the next upload.
    const CGraphDocument& document = logger.GetGraphDocument();
    ASSERT_EQ(document.PointCount(), 3u);
    EXPECT_EQ(document.Point(2), points[2]);
    ASSERT_EQ(document.Columns().size(), 3u);
    EXPECT_EQ(document.Columns()[2].name, "ID");
    ASSERT_TRUE(logger.BeginUploadData());
    EXPECT_EQ(document.PointCount(), 0u);
}

TEST_F(LoggerTest, UploadFailsOnAFailedRequestOrSamplesThatDoNotMatchTheVariables)
{
    CMC_SingleAxisLogger logger(setup.get(), nullptr);
    logger.ChangeSettings(10, CMC_Logger::LogSpeedLoop, 1);
    logger.AddVariable("IQ", 1);
    RunLogged(logger, {{1.0, 2.0}});
    EXPECT_FALSE(logger.BeginUploadData());
    EXPECT_TRUE(logger.Points().empty());

    drive->Fail(ScriptedDrive::Kind::UploadLog);
    RunLogged(logger, {{1.0}});
    EXPECT_FALSE(logger.BeginUploadData());
    EXPECT_NE(std::string(CMC_Comm::GetLastErrorText()).find("UploadLog"), std::string::npos);
    EXPECT_TRUE(logger.BeginUploadData());
    EXPECT_EQ(logger.Points().size(), 1u);
}

// Records the pictures a graph renderer was asked for.
struct RendererCalls {
    std::vector<std::string> basePaths;
    std::size_t points = 0;
    bool fail = false;

    GraphRenderer Renderer()
    {
        return [this](const CGraphFilter& filter, const std::string& basePath, std::string& error) {
            basePaths.push_back(basePath);
            points = filter.Document()->PointCount();
            if (fail)
                error = "The picture cannot be drawn.";
            return !fail;
        };
    }
};

TEST_F(LoggerTest, SaveGraphWritesThePointsReadAsCsvAndHasThePicturesDrawn)
{
    CMC_SingleAxisLogger logger(setup.get(), nullptr);
    logger.ChangeSettings(10, CMC_Logger::LogSpeedLoop, 1);
    logger.AddVariable("IQ", 1);
    RunLogged(logger, {{0.5}, {0.25}, {0.125}});
    ASSERT_TRUE(logger.BeginUploadData());
    EXPECT_FALSE(logger.SaveGraph("CurrentTuning")) << "nothing read yet";
    EXPECT_NE(std::string(GetLastErrorText()).find("nothing to save"), std::string::npos);
    ASSERT_TRUE(logger.ReadPoint(nullptr));
    ASSERT_TRUE(logger.ReadPoint(nullptr));

    RendererCalls calls;
    SetGraphRenderer(calls.Renderer());
    ::setenv("VELMARO_PLOT_DIR", Scratch().c_str(), 1);
    WriteFile(Scratch() / "CurrentTuning.csv", "old");
    const int saved = logger.SaveGraph("CurrentTuning.txt");
    ::unsetenv("VELMARO_PLOT_DIR");
    SetGraphRenderer(nullptr);
    ASSERT_TRUE(saved) << GetLastErrorText();

    // Values in the unit shown, written so that they read back exactly.
    const CMC_Variable* iq = setup->FindVariable("IQ", 1);
    const auto shown = [iq](double internal) { return iq->BaseToDisplay(iq->InternalToBase(internal)); };
    const std::string text = ReadFile(Scratch() / "CurrentTuning.csv");
    const std::string head = "time [s],IQ [" + std::string(iq->GetUnitName()) + "]\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    std::istringstream rows(text.substr(head.size()));
    std::vector<std::pair<double, double>> values;
    for (std::string line; std::getline(rows, line);)
        values.emplace_back(std::stod(line.substr(0, line.find(','))),
                            std::stod(line.substr(line.find(',') + 1)));
    ASSERT_EQ(values.size(), 2u) << "only the points read so far";
    EXPECT_EQ(values[1].first, setup->GetParameterValueInBaseUnit("Ts_S"));
    EXPECT_EQ(values[1].second, shown(0.25));

    EXPECT_EQ(calls.basePaths, (std::vector<std::string>{(Scratch() / "CurrentTuning").string()}));
    EXPECT_EQ(calls.points, 2u);
    for (const auto& entry : std::filesystem::directory_iterator(Scratch()))
        EXPECT_EQ(entry.path().filename(), "CurrentTuning.csv") << "no temporary file left";

    EXPECT_FALSE(logger.SaveGraph((Scratch() / "no-such-folder" / "plot").c_str()));
    calls.fail = true;
    SetGraphRenderer(calls.Renderer());
    EXPECT_FALSE(logger.SaveGraph((Scratch() / "plot").c_str()));
    SetGraphRenderer(nullptr);
    EXPECT_STREQ(GetLastErrorText(), "The picture cannot be drawn.");
}

} // namespace
