// The commissioning report: its JSON, its files, the page and the plots.
#include "Report.h"
#include "SvgPlot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Every "x,y" of every polyline.
std::vector<std::pair<double, double>> PolylinePoints(const std::string& svg)
{
    std::vector<std::pair<double, double>> points;
    const std::string key = "points=\"";
    for (std::size_t at = svg.find(key); at != std::string::npos; at = svg.find(key, at + 1)) {
        const std::size_t begin = at + key.size();
        std::istringstream list(svg.substr(begin, svg.find('"', begin) - begin));
        double x, y;
        char comma;
        while (list >> x >> comma >> y)
            points.emplace_back(x, y);
    }
    return points;
}

bool HasNonFiniteText(std::string svg)
{
    std::transform(svg.begin(), svg.end(), svg.begin(), [](unsigned char c) { return std::tolower(c); });
    return svg.find("nan") != std::string::npos || svg.find("inf") != std::string::npos;
}

Trace SpeedTrace()
{
    return {"speed-response",
            "Speed step",
            "Time [s]",
            "Speed [rpm]",
            {"t", "reference", "measured"},
            {{0.0, 0.0, 0.0}, {0.001, 100.0, 12.5}, {0.002, 100.0, 87.25}, {0.003, 100.0, 101.0625}}};
}

IdentifiedValue Identified(const std::string& name, std::vector<double> runs, double allowedSpread)
{
    IdentifiedValue value;
    value.test = "Resistance and inductance identification";
    value.name = name;
    value.unit = "Ohm";
    value.runs = std::move(runs);
    value.allowedSpread = allowedSpread;
    return value;
}

CommissionResult SampleResult()
{
    CommissionResult result;
    result.motorName = "Motor <&> \"A\"";
    result.motorFile = "motors/a.json";
    result.setupFile = "setup.json";
    result.passed = false;
    result.failedTest = "Speed loop tuning";
    result.failure = "the speed overshoots by 31 %";
    result.supplyVoltage = 48.0;
    result.wallSeconds = 12.345678;
    IdentifiedValue resistance = Identified("R", {0.1, 1.0 / 3.0}, 0.05);
    resistance.truth = 0.3;
    resistance.flags = {"runs disagree"};
    result.identified = {resistance};
    result.gains = {{"speed", "Kp_S_scl", "", 1e-300, 123456789.123456789}};
    result.traces = {SpeedTrace(),
                     {"hall-error",
                      "Hall angle error",
                      "Angle [deg]",
                      "Error [deg]",
                      {"a", "e"},
                      {{0.0, 1.5}, {90.0, -2.0}, {180.0, 0.75}}}};
    result.resonance = {true, true, 412.5, 30.0, 0.5, 1.25, 9.0, 2.0};
    result.stages = {{"Speed loop tuning", "step", 1.5, 0.25}, {"Speed loop tuning", "hold", 2.5, 1.0}};
    result.changes = {{"Kp_S", true, true, 1.0, 2.5, "", ""}, {"Notch1", false, true, 0.0, 412.5, "", "Hz"}};
    return result;
}

// A folder of the test's own under the temporary directory, removed at the end.
class CommissionReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("velmaro-report-" + std::string(test->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Page(const CommissionResult& result)
    {
        std::string error;
        EXPECT_TRUE(WriteReport(result, (dir / "page").string(), error)) << error;
        return Slurp(dir / "page" / "index.html");
    }

    fs::path dir;
};

TEST(CommissionReportJson, KeepsEveryNumberExactlyAndWritesNaNAsNull)
{
    CommissionResult result = SampleResult();
    result.identified[0].runs.push_back(kNaN);
    const nlohmann::json json = nlohmann::json::parse(ResultJson(result));

    EXPECT_EQ(json["format"], "velmaro-commissioning");
    EXPECT_EQ(json["version"], 1);
    const nlohmann::json& resistance = json["identified"][0];
    EXPECT_EQ(resistance["runs"][0].get<double>(), 0.1);
    EXPECT_EQ(resistance["runs"][1].get<double>(), 1.0 / 3.0);
    EXPECT_TRUE(resistance["runs"][2].is_null());
    EXPECT_TRUE(resistance["datasheet"].is_null());
    EXPECT_EQ(resistance["truth"].get<double>(), 0.3);
    EXPECT_EQ(json["gains"][0]["designed"].get<double>(), 1e-300);
    EXPECT_EQ(json["gains"][0]["quantised"].get<double>(), 123456789.123456789);
    EXPECT_EQ(json["traces"][0]["rows"][3][2].get<double>(), 101.0625);
    EXPECT_EQ(json["traces"][0]["columns"][2], "measured");
    EXPECT_EQ(json["resonance"]["frequency"].get<double>(), 412.5);
    EXPECT_EQ(json["flags"], nlohmann::json::array({"R: runs disagree"}));
    EXPECT_TRUE(json["changes"][1]["before"].is_null());
    EXPECT_EQ(json["changes"][1]["after"].get<double>(), 412.5);
    EXPECT_EQ(json["motorName"], "Motor <&> \"A\"");
}

TEST_F(CommissionReport, WritesEveryFileIntoANewNestedFolder)
{
    const CommissionResult result = SampleResult();
    const fs::path folder = dir / "a" / "b" / "report";
    std::string error;
    ASSERT_TRUE(WriteReport(result, folder.string(), error)) << error;

    for (const char* name :
         {"index.html", "result.json", "identified.csv", "gains.csv", "stages.csv", "changes.csv",
          "speed-response.csv", "speed-response.svg", "hall-error.csv", "hall-error.svg"})
        EXPECT_TRUE(fs::is_regular_file(folder / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 10); // no temporaries

    EXPECT_EQ(Slurp(folder / "speed-response.csv"),
              "t,reference,measured\n0,0,0\n0.001,100,12.5\n0.002,100,87.25\n0.003,100,101.0625\n");
    const std::string page = Slurp(folder / "index.html");
    for (const Trace& trace : result.traces) {
        EXPECT_NE(page.find(SvgPlot(trace)), std::string::npos) << trace.id;
        EXPECT_NE(page.find("href=\"" + trace.id + ".csv\""), std::string::npos) << trace.id;
    }
    EXPECT_EQ(page.find("<&>"), std::string::npos);
    EXPECT_NE(page.find("Motor &lt;&amp;&gt; &quot;A&quot;"), std::string::npos);
    EXPECT_EQ(Count(page, "<svg"), 2u);
    EXPECT_EQ(Count(page, "</svg>"), 2u);
    EXPECT_EQ(Count(page, "<table"), Count(page, "</table>"));
    EXPECT_EQ(Count(page, "<tr"), Count(page, "</tr>"));
    EXPECT_NE(page.find("Failed: <strong>Speed loop tuning</strong>"), std::string::npos);
    EXPECT_NE(page.find("the speed overshoots by 31 %"), std::string::npos);

    std::size_t at = 0;
    for (const char* heading : {"Identified values", "Controller gains", "Plots", "Resonance",
                                "What commissioning changed", "Time per stage"}) {
        const std::size_t found = page.find("<h2>" + std::string(heading) + "</h2>", at);
        ASSERT_NE(found, std::string::npos) << heading << " missing or out of order";
        at = found;
    }
}

// The row of the identified table whose parameter is `name`, from its <tr.
std::string IdentifiedRow(const std::string& page, const std::string& name)
{
    const std::size_t cell = page.find("<td>" + name + "</td>");
    if (cell == std::string::npos)
        return {};
    const std::size_t begin = page.rfind("<tr", cell);
    return page.substr(begin, page.find("</tr>", cell) - begin);
}

TEST_F(CommissionReport, PageJudgesEachValueAgainstTheSpreadItsTestAllows)
{
    CommissionResult result;
    result.passed = true;
    IdentifiedValue tight = Identified("R", {0.99, 1.01}, 0.05);
    tight.truth = 1.0;
    tight.flags = {"off the datasheet"};
    IdentifiedValue fair = Identified("L", {0.98, 1.02}, 0.05);
    fair.datasheet = 1.25;
    result.identified = {tight, fair, Identified("J", {0.9, 1.1, 1.0}, 0.05),
                         Identified("pole pairs", {4.0, 4.0}, 0.0),
                         Identified("direction", {1.0, -1.0}, 0.0)};
    const std::string page = Page(result);

    EXPECT_NE(page.find("class=\"verdict passed\""), std::string::npos);
    EXPECT_NE(page.find("<th>Run 3</th>"), std::string::npos);
    EXPECT_NE(page.find("simulated motor"), std::string::npos);

    const std::string r = IdentifiedRow(page, "R");
    EXPECT_NE(r.find("<td>2</td><td>high</td>"), std::string::npos) << r; // 2 % of the 5 % allowed
    EXPECT_NE(r.find("<td>1</td><td>1</td>"), std::string::npos) << r;    // truth and error in %
    EXPECT_NE(r.find("class=\"flagged\""), std::string::npos) << r;
    EXPECT_NE(r.find("off the datasheet"), std::string::npos) << r;

    const std::string l = IdentifiedRow(page, "L");
    EXPECT_NE(l.find("<td>4</td><td>fair</td><td>1.25</td><td>-18.4</td>"), std::string::npos) << l;
    EXPECT_EQ(l.find("flagged"), std::string::npos) << l;
    EXPECT_NE(l.find("<td>—</td><td>—</td>"), std::string::npos) << l; // no truth, no error

    EXPECT_NE(IdentifiedRow(page, "J").find("<td>low</td>"), std::string::npos);
    EXPECT_NE(IdentifiedRow(page, "pole pairs").find("<td>0</td><td>high</td>"), std::string::npos);
    EXPECT_NE(IdentifiedRow(page, "direction").find("<td>low</td>"), std::string::npos);
}

TEST_F(CommissionReport, RefusesAPlaceItCannotWriteNamingThePath)
{
    std::ofstream(dir / "file") << "a regular file";
    const std::string underFile = (dir / "file" / "report").string();
    std::string error;
    EXPECT_FALSE(WriteReport(SampleResult(), underFile, error));
    EXPECT_NE(error.find(underFile), std::string::npos) << error;

    // A folder in the way of one file: the page, written last, is not there.
    fs::create_directories(dir / "report" / "gains.csv" / "inside");
    error.clear();
    EXPECT_FALSE(WriteReport(SampleResult(), (dir / "report").string(), error));
    EXPECT_NE(error.find("gains.csv"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "report" / "index.html"));
}

TEST(CommissionReportPlot, DrawsAwkwardDataWithoutNonFiniteNumbers)
{
    Trace trace{"t", "Current & voltage", "Time [s]", "Current [A]", {"t", "i<q>"}, {}};
    const std::string empty = SvgPlot(trace);
    EXPECT_NE(empty.find("no data"), std::string::npos);
    EXPECT_NE(empty.find("Current &amp; voltage"), std::string::npos);
    EXPECT_FALSE(HasNonFiniteText(empty)) << empty;

    trace.rows = {{0.0, kNaN}, {1.0}, {kNaN, 2.0}};
    EXPECT_NE(SvgPlot(trace).find("no data"), std::string::npos);

    trace.rows = {{0.0, 5.0}, {1.0, 5.0}, {2.0, 5.0}};
    const std::string constant = SvgPlot(trace);
    EXPECT_FALSE(HasNonFiniteText(constant)) << constant;
    EXPECT_EQ(PolylinePoints(constant).size(), 3u);
    EXPECT_NE(constant.find(">5</text>"), std::string::npos) << constant; // a y tick at the value
    EXPECT_NE(constant.find("i&lt;q&gt;"), std::string::npos);            // in the legend

    const double inf = std::numeric_limits<double>::infinity();
    trace.rows = {{0.0, 1.0}, {1.0, 2.0}, {2.0, kNaN}, {3.0, 3.0}, {4.0, 1.0},
                  {5.0},      {6.0, 2.0}, {7.0, 3.0},  {inf, 1.0}, {9.0, 2.0}};
    const std::string broken = SvgPlot(trace);
    EXPECT_FALSE(HasNonFiniteText(broken)) << broken;
    EXPECT_EQ(Count(broken, "<polyline"), 3u) << broken;
    EXPECT_EQ(PolylinePoints(broken).size(), 6u);
    EXPECT_EQ(Count(broken, "<circle"), 1u); // the point alone after the infinite x
}

TEST(CommissionReportPlot, DecimatesALongTraceKeepingASpike)
{
    Trace trace{"long", "Speed error", "Time [s]", "Error [rpm]", {"t", "error"}, {}};
    for (int i = 0; i < 100000; ++i)
        trace.rows.push_back({i * 1e-4, i == 54321 ? 1.0 : 0.0});
    const auto points = PolylinePoints(SvgPlot(trace));
    EXPECT_LT(points.size(), 5000u);
    EXPECT_GT(points.size(), 500u);

    const auto top = std::min_element(points.begin(), points.end(),
                                      [](const auto& a, const auto& b) { return a.second < b.second; });
    const auto bottom = std::max_element(points.begin(), points.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; });
    ASSERT_LT(top->second, bottom->second - 100.0); // the spike stands out of the flat line
    const double left = points.front().first, right = points.back().first;
    EXPECT_NEAR(top->first, left + (right - left) * 5.4321 / 9.9999, 1.0);
}

} // namespace
