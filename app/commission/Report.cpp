#include "Report.h"

#include "JsonReader.h"
#include "SetupFile.h"
#include "SvgPlot.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <numeric>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kMissing = "—";

constexpr const char* kResultFile = "result.json";
constexpr const char* kIdentifiedFile = "identified.csv";
constexpr const char* kGainsFile = "gains.csv";
constexpr const char* kStagesFile = "stages.csv";
constexpr const char* kChangesFile = "changes.csv";

template <typename Item, typename Convert> Json JsonArray(const std::vector<Item>& items, Convert convert)
{
    Json array = Json::array();
    for (const Item& item : items)
        array.push_back(convert(item));
    return array;
}

Json IdentifiedJson(const IdentifiedValue& value)
{
    return {{"test", value.test},
            {"name", value.name},
            {"unit", value.unit},
            {"runs", value.runs},
            {"datasheet", value.datasheet},
            {"truth", value.truth},
            {"allowedSpread", value.allowedSpread},
            {"flags", value.flags}};
}

Json GainJson(const GainValue& gain)
{
    return {{"loop", gain.loop},
            {"name", gain.name},
            {"unit", gain.unit},
            {"designed", gain.designed},
            {"quantised", gain.quantised}};
}

Json TraceJson(const Trace& trace)
{
    return {{"id", trace.id},         {"title", trace.title},     {"xLabel", trace.xLabel},
            {"yLabel", trace.yLabel}, {"columns", trace.columns}, {"rows", trace.rows}};
}

Json ResonanceJson(const ResonanceCheck& check)
{
    return {{"searched", check.searched},   {"found", check.found},      {"frequency", check.frequency},
            {"peak", check.peak},           {"floor", check.floor},      {"after", check.after},
            {"rmsBefore", check.rmsBefore}, {"rmsAfter", check.rmsAfter}};
}

Json StageJson(const StageTime& stage)
{
    return {{"test", stage.test},
            {"stage", stage.stage},
            {"wallSeconds", stage.wallSeconds},
            {"driveSeconds", stage.driveSeconds}};
}

// A side the parameter is missing from is null.
Json ChangeJson(const ParameterDifference& change)
{
    return {{"name", change.name},
            {"before", change.inA ? Json(change.a) : Json()},
            {"unitBefore", change.unitA},
            {"after", change.inB ? Json(change.b) : Json()},
            {"unitAfter", change.unitB}};
}

using NumberText = std::string (*)(double);

// Four significant digits for people; whole numbers from ten thousand up
// without an exponent.
std::string Shown(double value)
{
    if (!std::isfinite(value))
        return kMissing;
    char text[32];
    const double size = std::abs(value);
    if (size >= 1e4 && size < 1e9)
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// Every digit, for the files read back by programs; empty for no number.
std::string Exact(double value)
{
    return std::isfinite(value) ? JsonNumber(value) : std::string();
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator)
{
    std::string joined;
    for (const std::string& part : parts)
        joined += (joined.empty() ? "" : std::string(separator)) + part;
    return joined;
}

// Text cells under a header, shown in the page and saved as CSV.
struct Table {
    explicit Table(std::vector<std::string> names) : header(std::move(names)) {}

    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> classes; // of each row in the page; empty for none

    void Add(std::vector<std::string> row, std::string rowClass = {})
    {
        rows.push_back(std::move(row));
        classes.push_back(std::move(rowClass));
    }
};

// (max - min) / |mean| of the runs; NaN for fewer than two.
double RunSpread(const std::vector<double>& runs)
{
    if (runs.size() < 2)
        return kNaN;
    const auto [low, high] = std::minmax_element(runs.begin(), runs.end());
    if (*low == *high)
        return 0.0;
    const double mean = std::accumulate(runs.begin(), runs.end(), 0.0) / static_cast<double>(runs.size());
    return (*high - *low) / std::abs(mean);
}

double RelativeDifference(double value, double reference)
{
    return (value - reference) / std::abs(reference);
}

// How far the runs agree against the spread the test's noise allows.
std::string Confidence(double spread, double allowed)
{
    if (std::isnan(spread))
        return kMissing;
    if (spread <= allowed / 2.0)
        return "high";
    if (spread <= allowed)
        return "fair";
    return "low";
}

std::size_t MostRuns(const std::vector<IdentifiedValue>& values)
{
    std::size_t most = 0;
    for (const IdentifiedValue& value : values)
        most = std::max(most, value.runs.size());
    return most;
}

bool AnyTruth(const std::vector<IdentifiedValue>& values)
{
    return std::any_of(values.begin(), values.end(),
                       [](const IdentifiedValue& value) { return std::isfinite(value.truth); });
}

Table IdentifiedTable(const std::vector<IdentifiedValue>& values, NumberText number)
{
    const std::size_t runs = MostRuns(values);
    const bool truth = AnyTruth(values);
    Table table{{"Test", "Parameter", "Unit"}};
    for (std::size_t run = 1; run <= runs; ++run)
        table.header.push_back("Run " + std::to_string(run));
    table.header.insert(table.header.end(),
                        {"Spread [%]", "Confidence", "Datasheet", "Difference from datasheet [%]"});
    if (truth)
        table.header.insert(table.header.end(), {"True value", "Error [%]"});
    table.header.push_back("Flags");

    for (const IdentifiedValue& value : values) {
        std::vector<std::string> row = {value.test, value.name, value.unit};
        for (std::size_t run = 0; run < runs; ++run)
            row.push_back(number(run < value.runs.size() ? value.runs[run] : kNaN));
        const double spread = RunSpread(value.runs);
        row.insert(row.end(),
                   {number(100.0 * spread), Confidence(spread, value.allowedSpread), number(value.datasheet),
                    number(100.0 * RelativeDifference(value.Kept(), value.datasheet))});
        if (truth)
            row.insert(row.end(),
                       {number(value.truth), number(100.0 * RelativeDifference(value.Kept(), value.truth))});
        row.push_back(Joined(value.flags, "; "));
        table.Add(std::move(row), value.flags.empty() ? "" : "flagged");
    }
    return table;
}

Table GainTable(const std::vector<GainValue>& gains, NumberText number)
{
    Table table{{"Loop", "Parameter", "Unit", "Designed", "Quantised", "Quantisation error [%]"}};
    for (const GainValue& gain : gains)
        table.Add({gain.loop, gain.name, gain.unit, number(gain.designed), number(gain.quantised),
                   number(100.0 * RelativeDifference(gain.quantised, gain.designed))});
    return table;
}

Table StageTable(const std::vector<StageTime>& stages, NumberText number)
{
    Table table{{"Test", "Stage", "Wall time [s]", "Drive time [s]"}};
    double wall = 0.0, drive = 0.0;
    for (const StageTime& stage : stages) {
        table.Add({stage.test, stage.stage, number(stage.wallSeconds), number(stage.driveSeconds)});
        wall += stage.wallSeconds;
        drive += stage.driveSeconds;
    }
    if (!stages.empty())
        table.Add({"Total", "", number(wall), number(drive)}, "total");
    return table;
}

Table ChangeTable(const std::vector<ParameterDifference>& changes, NumberText number)
{
    Table table{{"Parameter", "Before", "Unit before", "After", "Unit after"}};
    for (const ParameterDifference& change : changes)
        table.Add({change.name, number(change.inA ? change.a : kNaN), change.inA ? change.unitA : "",
                   number(change.inB ? change.b : kNaN), change.inB ? change.unitB : ""});
    return table;
}

// Short rows are padded with empty cells to the header's width.
Table TraceTable(const Trace& trace)
{
    Table table{trace.columns};
    for (const std::vector<double>& samples : trace.rows) {
        std::vector<std::string> row(std::max(trace.columns.size(), samples.size()));
        std::transform(samples.begin(), samples.end(), row.begin(), Exact);
        table.Add(std::move(row));
    }
    return table;
}

std::string CsvLine(const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i)
        line += (i == 0 ? "" : ",") + CsvField(cells[i]);
    return line + "\n";
}

std::string Csv(const Table& table)
{
    std::string csv = CsvLine(table.header);
    for (const std::vector<std::string>& row : table.rows)
        csv += CsvLine(row);
    return csv;
}

std::string HtmlRow(const std::vector<std::string>& cells, std::string_view tag, const std::string& rowClass)
{
    std::string html = rowClass.empty() ? "<tr>" : "<tr class=\"" + EscapeMarkup(rowClass) + "\">";
    for (const std::string& cell : cells)
        html += "<" + std::string(tag) + ">" + EscapeMarkup(cell) + "</" + std::string(tag) + ">";
    return html + "</tr>\n";
}

std::string HtmlTable(const Table& table)
{
    std::string html = "<table>\n<thead>" + HtmlRow(table.header, "th", "") + "</thead>\n<tbody>\n";
    for (std::size_t i = 0; i < table.rows.size(); ++i)
        html += HtmlRow(table.rows[i], "td", table.classes[i]);
    return html + "</tbody>\n</table>\n";
}

std::string Link(const std::string& file)
{
    return "<a href=\"" + EscapeMarkup(file) + "\">" + EscapeMarkup(file) + "</a>";
}

std::string Paragraph(std::string_view text)
{
    return "<p>" + EscapeMarkup(text) + "</p>\n";
}

// The table and a link to its CSV, or the note when the table has no row.
std::string Tabulated(const Table& table, const std::string& csv, std::string_view none)
{
    if (table.rows.empty())
        return Paragraph(none);
    return HtmlTable(table) + "<p>" + Link(csv) + "</p>\n";
}

std::string Section(std::string_view heading, const std::string& body)
{
    return "<section>\n<h2>" + EscapeMarkup(heading) + "</h2>\n" + body + "</section>\n";
}

std::string Fact(std::string_view name, std::string_view value)
{
    return "<tr><th>" + EscapeMarkup(name) + "</th><td>" + EscapeMarkup(value) + "</td></tr>\n";
}

std::string OrElse(const std::string& text, const char* otherwise)
{
    return text.empty() ? otherwise : text;
}

std::string Verdict(const CommissionResult& result)
{
    if (result.passed)
        return "<p class=\"verdict passed\">Passed</p>\n";
    return "<div class=\"verdict failed\"><p>Failed: <strong>" + EscapeMarkup(result.failedTest) +
           "</strong></p>\n<p class=\"message\">" + EscapeMarkup(result.failure) + "</p></div>\n";
}

std::string FlagList(const std::vector<std::string>& flags)
{
    if (flags.empty())
        return "<p class=\"noflags\">No flags</p>\n";
    std::string html = "<ul class=\"flags\">\n";
    for (const std::string& flag : flags)
        html += "<li>⚠ " + EscapeMarkup(flag) + "</li>\n";
    return html + "</ul>\n";
}

std::string HeaderPart(const CommissionResult& result)
{
    std::string html = "<h1>Commissioning of " + EscapeMarkup(OrElse(result.motorName, "an unnamed motor")) +
                       "</h1>\n" + Verdict(result) + "<table class=\"facts\">\n";
    html += Fact("Motor", OrElse(result.motorName, kMissing));
    html += Fact("Motor file", OrElse(result.motorFile, kMissing));
    html += Fact("Setup file", OrElse(result.setupFile, kMissing));
    html += Fact("Output setup", OrElse(result.output, "not saved"));
    html += Fact("Faults injected", OrElse(Joined(result.faults, ", "), "none"));
    html += Fact("Supply voltage", Shown(result.supplyVoltage) + " V");
    html += Fact("Total wall time", Shown(result.wallSeconds) + " s");
    html += "</table>\n<h2>Flags</h2>\n" + FlagList(result.Flags());
    return html + "<p>All values as " + Link(kResultFile) + ".</p>\n";
}

std::string IdentifiedSection(const std::vector<IdentifiedValue>& values)
{
    std::string body =
        Paragraph("Each run's value in the unit shown. The spread is (max - min) / |mean| of the "
                  "runs; the confidence is high when it is within half the spread the test's "
                  "noise allows, fair within it and low beyond it. The differences are those of "
                  "the last run's value, which the setup keeps.");
    if (AnyTruth(values))
        body += Paragraph("The true values are those of the virtual drive's simulated motor.");
    return Section("Identified values", body + Tabulated(IdentifiedTable(values, Shown), kIdentifiedFile,
                                                         "Nothing was identified."));
}

std::string GainSection(const std::vector<GainValue>& gains)
{
    return Section("Controller gains",
                   Tabulated(GainTable(gains, Shown), kGainsFile, "No controller gain was designed."));
}

std::string Figure(const Trace& trace)
{
    return "<figure>\n<figcaption>" + EscapeMarkup(trace.title) + "</figcaption>\n" + SvgPlot(trace) + "<p>" +
           Link(trace.id + ".csv") + " " + Link(trace.id + ".svg") + "</p>\n</figure>\n";
}

std::string PlotSection(const std::vector<Trace>& traces)
{
    std::string body;
    for (const Trace& trace : traces)
        body += Figure(trace);
    return Section("Plots", body.empty() ? Paragraph("No plots.") : body);
}

std::string ResonanceSection(const ResonanceCheck& check)
{
    if (!check.searched)
        return Section("Resonance", Paragraph("The speed loop was not searched for a resonance."));
    Table spectrum{{"Speed error spectrum", "Value"}};
    spectrum.Add({"Largest peak at [Hz]", Shown(check.frequency)});
    spectrum.Add({"Peak [rpm]", Shown(check.peak)});
    spectrum.Add({"Floor (median) [rpm]", Shown(check.floor)});
    spectrum.Add({"Peak / floor", Shown(check.peak / check.floor)});
    if (!check.found)
        return Section("Resonance", Paragraph("No resonance stood out of the speed error's spectrum.") +
                                        HtmlTable(spectrum));
    Table notch{{"Speed error", "Without notch", "With notch"}};
    notch.Add(
        {"Amplitude at " + Shown(check.frequency) + " Hz [rpm]", Shown(check.peak), Shown(check.after)});
    notch.Add({"RMS over the profile [rpm]", Shown(check.rmsBefore), Shown(check.rmsAfter)});
    return Section("Resonance", "<p class=\"found\">A resonance stood out at " + Shown(check.frequency) +
                                    " Hz and a notch was put on it.</p>\n" + HtmlTable(spectrum) +
                                    HtmlTable(notch));
}

std::string ChangeSection(const std::vector<ParameterDifference>& changes)
{
    return Section("What commissioning changed", Tabulated(ChangeTable(changes, Shown), kChangesFile,
                                                           "Commissioning changed nothing in the setup."));
}

std::string StageSection(const std::vector<StageTime>& stages)
{
    return Section("Time per stage",
                   Tabulated(StageTable(stages, Shown), kStagesFile, "No stage was timed."));
}

constexpr const char* kStyle =
    R"(body { font-family: sans-serif; color: #222; max-width: 72em; margin: 1em auto; padding: 0 1em; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }
thead th, .facts th { background: #f0f0f0; }
tr.flagged td { background: #fff3cd; }
tr.total td { font-weight: bold; }
.verdict { font-size: 1.3em; padding: 0.4em 0.8em; border-radius: 4px; }
.passed { background: #d4edda; color: #155724; }
.failed { background: #f8d7da; color: #721c24; }
.failed p { margin: 0.2em 0; }
.message { white-space: pre-wrap; font-size: 0.85em; }
.flags li { color: #7a4d00; background: #fff3cd; margin: 0.2em 0; padding: 0.1em 0.4em; }
.found { font-weight: bold; }
figure { margin: 1em 0; }
figcaption { font-weight: bold; margin-bottom: 0.3em; }
)";

std::string IndexHtml(const CommissionResult& result)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Commissioning of " +
           EscapeMarkup(OrElse(result.motorName, "an unnamed motor")) + "</title>\n<style>\n" + kStyle +
           "</style>\n</head>\n<body>\n" + HeaderPart(result) + IdentifiedSection(result.identified) +
           GainSection(result.gains) + PlotSection(result.traces) + ResonanceSection(result.resonance) +
           ChangeSection(result.changes) + StageSection(result.stages) + "</body>\n</html>\n";
}

struct ReportFile {
    std::string name;
    std::string text;
};

// The page comes last, so that a page means the files it links are there.
std::vector<ReportFile> ReportFiles(const CommissionResult& result)
{
    std::vector<ReportFile> files = {
        {kResultFile, ResultJson(result)},
        {kIdentifiedFile, Csv(IdentifiedTable(result.identified, Exact))},
        {kGainsFile, Csv(GainTable(result.gains, Exact))},
        {kStagesFile, Csv(StageTable(result.stages, Exact))},
        {kChangesFile, Csv(ChangeTable(result.changes, Exact))},
    };
    for (const Trace& trace : result.traces) {
        files.push_back({trace.id + ".csv", Csv(TraceTable(trace))});
        files.push_back({trace.id + ".svg", SvgPlot(trace)});
    }
    files.push_back({"index.html", IndexHtml(result)});
    return files;
}

} // namespace

std::string ResultJson(const CommissionResult& result)
{
    const Json document = {
        {"format", kCommissioningFormatName},
        {"version", kCommissioningFormatVersion},
        {"motorName", result.motorName},
        {"motorFile", result.motorFile},
        {"setupFile", result.setupFile},
        {"output", result.output},
        {"faults", result.faults},
        {"passed", result.passed},
        {"failedTest", result.failedTest},
        {"failure", result.failure},
        {"flags", result.Flags()},
        {"supplyVoltage", result.supplyVoltage},
        {"wallSeconds", result.wallSeconds},
        {"identified", JsonArray(result.identified, IdentifiedJson)},
        {"gains", JsonArray(result.gains, GainJson)},
        {"traces", JsonArray(result.traces, TraceJson)},
        {"resonance", ResonanceJson(result.resonance)},
        {"stages", JsonArray(result.stages, StageJson)},
        {"changes", JsonArray(result.changes, ChangeJson)},
    };
    // Text that is not UTF-8 (a file name, say) is written with replacement
    // characters rather than refused.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteReport(const CommissionResult& result, const std::string& folder, std::string& error)
{
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        error = folder + ": cannot be made: " + code.message();
        return false;
    }
    for (const ReportFile& file : ReportFiles(result))
        if (!WriteFileAtomically((std::filesystem::path(folder) / file.name).string(), file.text, error))
            return false;
    return true;
}
