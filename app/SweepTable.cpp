#include "SweepTable.h"

#include "AccuracyTargets.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace {

using Json = nlohmann::json;

double NumberOr(const Json& value, double fallback)
{
    return value.is_number() ? value.get<double>() : fallback;
}

std::string TextOf(const Json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The largest error of one identified value over its runs, and whether every run is within target.
ColumnError ValueError(const Json& value, double target)
{
    ColumnError worst;
    const double truth = NumberOr(value.value("truth", Json()), std::nan(""));
    for (const Json& run : value.value("runs", Json::array())) {
        const double error = ErrorPercent(NumberOr(run, std::nan("")), truth);
        worst.withinTarget = worst.withinTarget && WithinTarget(error, target);
        if (std::isnan(worst.percent) || std::abs(error) > std::abs(worst.percent))
            worst.percent = error;
    }
    return worst;
}

ColumnError Worse(const ColumnError& a, const ColumnError& b)
{
    ColumnError worse = std::isnan(a.percent) || std::abs(b.percent) > std::abs(a.percent) ? b : a;
    worse.withinTarget = a.withinTarget && b.withinTarget;
    return worse;
}

std::vector<ColumnError> ColumnErrors(const Json& identified)
{
    std::vector<ColumnError> errors;
    for (const SweepColumn& column : SweepColumns()) {
        ColumnError error;
        for (const Json& value : identified) {
            const std::string name = TextOf(value, "name");
            if (std::ranges::find(column.names, name) != column.names.end())
                error = Worse(error, ValueError(value, IdentificationAccuracy().at(name)));
        }
        errors.push_back(error);
    }
    return errors;
}

// What a commissioning that left no result said last: its "velmaro: ..." line.
std::string LastMessage(const std::string& log)
{
    std::istringstream lines(log);
    std::string line, last, message;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        last = line;
        if (line.starts_with("velmaro: "))
            message = line.substr(9);
    }
    return message.empty() ? last : message;
}

void FailWithoutResult(SweepRow& row, const ChildExit& exit, const std::string& log)
{
    const std::string said = LastMessage(log);
    if (exit.Succeeded())
        row.failure = "no result on its output";
    else if (exit.signal != 0 || said.empty())
        row.failure = exit.Describe() + (said.empty() ? "" : "; last said: " + said);
    else
        row.failure = said;
}

// A message of several lines on one line of the table.
std::string OneLine(std::string text)
{
    std::ranges::replace(text, '\n', ' ');
    return text;
}

// The column's target in percent: the loosest of its values' targets.
double ColumnTarget(const SweepColumn& column)
{
    double target = 0.0;
    for (const std::string& name : column.names)
        target = std::max(target, IdentificationAccuracy().at(name));
    return 100.0 * target;
}

std::string Percent(const ColumnError& error)
{
    if (std::isnan(error.percent))
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f%s", error.percent, error.withinTarget ? "" : "*");
    return text;
}

std::string Fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string TargetText(const SweepColumn& column)
{
    const double target = ColumnTarget(column);
    if (target == 0.0)
        return "exact";
    std::ostringstream text;
    text << target;
    return text.str();
}

// The worst of each column over every row.
std::vector<ColumnError> WorstErrors(const std::vector<SweepRow>& rows)
{
    std::vector<ColumnError> worst(SweepColumns().size());
    for (const SweepRow& row : rows)
        for (std::size_t c = 0; c < worst.size() && c < row.errors.size(); ++c)
            worst[c] = Worse(worst[c], row.errors[c]);
    return worst;
}

std::size_t PassedCount(const std::vector<SweepRow>& rows)
{
    return static_cast<std::size_t>(std::ranges::count_if(rows, &SweepRow::Passed));
}

struct TextTable {
    std::vector<std::vector<std::string>> cells;

    std::string Text() const
    {
        std::vector<std::size_t> widths;
        for (const auto& row : cells) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], row[c].size());
        }
        std::string text;
        for (const auto& row : cells) {
            std::string line;
            for (std::size_t c = 0; c < row.size(); ++c) {
                const std::string padding(widths[c] - row[c].size(), ' ');
                // the motor on the left, the verdict last and as long as it is, numbers right-aligned
                if (c == 0)
                    line += row[c] + padding;
                else if (c + 1 == row.size())
                    line += "  " + row[c];
                else
                    line += "  " + padding + row[c];
            }
            line.erase(line.find_last_not_of(' ') + 1);
            text += line + '\n';
        }
        return text;
    }
};

Json ErrorsJson(const std::vector<ColumnError>& errors)
{
    Json json = Json::object();
    for (std::size_t c = 0; c < errors.size() && c < SweepColumns().size(); ++c)
        json[SweepColumns()[c].key] = {
            {"percent", std::isnan(errors[c].percent) ? Json() : Json(errors[c].percent)},
            {"withinTarget", errors[c].withinTarget}};
    return json;
}

Json RowJson(const SweepRow& row)
{
    return {{"motor", row.motor},
            {"file", row.file},
            {"passed", row.Passed()},
            {"commissioned", row.commissioned},
            {"withinTargets", row.WithinTargets()},
            {"failedTest", row.failedTest},
            {"failure", row.failure},
            {"wallSeconds", row.wallSeconds},
            {"errors", ErrorsJson(row.errors)}};
}

} // namespace

const std::vector<SweepColumn>& SweepColumns()
{
    static const std::vector<SweepColumn> columns = {
        {"Vdc", "Vdc", {"Vdc"}},
        {"pp", "pp", {"pp"}},
        {"R", "R", {"R"}},
        {"L", "L", {"L"}},
        {"Jt", "Jt", {"Jt"}},
        {"HallGain", "Hall gain", {"HALLAGAIN", "HALLBGAIN", "HALLCGAIN"}},
        {"HallOffset", "Hall offset", {"HALLAOFF", "HALLBOFF", "HALLCOFF"}},
    };
    return columns;
}

bool SweepRow::WithinTargets() const
{
    return std::ranges::all_of(errors, &ColumnError::withinTarget);
}

std::string SweepRow::Verdict() const
{
    if (!commissioned)
        return "FAILED" + (failedTest.empty() ? std::string() : " in " + failedTest) + ": " +
               OneLine(failure);
    std::string offTarget;
    for (std::size_t c = 0; c < errors.size() && c < SweepColumns().size(); ++c)
        if (!errors[c].withinTarget)
            offTarget += (offTarget.empty() ? "" : ", ") + SweepColumns()[c].title;
    return offTarget.empty() ? "passed" : "off target: " + offTarget;
}

SweepRow SweepRowOf(const std::string& file, const std::string& resultJson, const ChildExit& exit,
                    const std::string& log)
{
    SweepRow row;
    row.file = file;
    row.motor = std::filesystem::path(file).stem().string();
    row.errors.resize(SweepColumns().size());
    const Json result = Json::parse(resultJson, nullptr, false);
    if (!result.is_object()) {
        FailWithoutResult(row, exit, log);
        return row;
    }
    row.errors = ColumnErrors(result.value("identified", Json::array()));
    row.commissioned = result.value("passed", false) && exit.Succeeded();
    row.failedTest = TextOf(result, "failedTest");
    row.failure = TextOf(result, "failure");
    if (!row.commissioned && row.failure.empty())
        FailWithoutResult(row, exit, log);
    return row;
}

std::string SweepTableText(const std::vector<SweepRow>& rows, const SweepSummary& summary)
{
    TextTable table;
    std::vector<std::string> header = {"motor"}, targets = {"target"};
    for (const SweepColumn& column : SweepColumns()) {
        header.push_back(column.title + " %");
        targets.push_back(TargetText(column));
    }
    header.insert(header.end(), {"time s", "result"});
    targets.insert(targets.end(), {"", ""});
    table.cells.push_back(header);
    for (const SweepRow& row : rows) {
        std::vector<std::string> cells = {row.motor};
        for (const ColumnError& error : row.errors)
            cells.push_back(Percent(error));
        cells.insert(cells.end(), {Fixed(row.wallSeconds, 1), row.Verdict()});
        table.cells.push_back(cells);
    }
    table.cells.push_back(targets);

    std::ostringstream text;
    text << table.Text() << "(* beyond its target; errors are the worst of every run against the "
         << "virtual drive's motor)\n"
         << "Passed " << PassedCount(rows) << " of " << rows.size() << " motors. Worst error:";
    const std::vector<ColumnError> worst = WorstErrors(rows);
    for (std::size_t c = 0; c < worst.size(); ++c)
        text << (c ? ", " : " ") << SweepColumns()[c].title << ' ' << Percent(worst[c]) << " %";
    text << ". Wall time " << Fixed(summary.wallSeconds, 1) << " s with " << summary.jobs
         << (summary.jobs == 1 ? " job" : " jobs") << ".\n";
    if (!summary.logFolder.empty())
        text << "The output of each motor's commissioning is kept in " << summary.logFolder << '\n';
    return text.str();
}

std::string SweepTableJson(const std::vector<SweepRow>& rows, const SweepSummary& summary)
{
    Json targets = Json::object();
    for (const SweepColumn& column : SweepColumns())
        targets[column.key] = ColumnTarget(column);
    Json table = {{"format", "velmaro-sweep"},
                  {"version", 1},
                  {"motorsFolder", summary.motorsFolder},
                  {"jobs", summary.jobs},
                  {"wallSeconds", summary.wallSeconds},
                  {"motors", rows.size()},
                  {"passed", PassedCount(rows)},
                  {"targetsPercent", targets},
                  {"worst", ErrorsJson(WorstErrors(rows))},
                  {"logFolder", summary.logFolder},
                  {"rows", Json::array()}};
    for (const SweepRow& row : rows)
        table["rows"].push_back(RowJson(row));
    return table.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
