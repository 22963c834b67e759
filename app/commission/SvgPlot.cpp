#include "SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr double kWidth = 640.0;
constexpr double kHeight = 320.0;
// The plot area, inside the title, legend and tick labels.
constexpr double kLeft = 72.0;
constexpr double kRight = 624.0;
constexpr double kTop = 52.0;
constexpr double kBottom = 268.0;
// A trace longer than twice this is cut into this many buckets, each drawn by
// its minimum and maximum.
constexpr std::size_t kBuckets = 1000;
constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                    "#9467bd", "#8c564b", "#e377c2", "#17becf"};

struct Range {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();

    void Include(double value)
    {
        lo = std::min(lo, value);
        hi = std::max(hi, value);
    }
    double Span() const { return hi - lo; }
    bool Drawable() const { return lo <= hi && std::isfinite(Span()); }
};

struct Point {
    double x;
    double y;
};
using Polyline = std::vector<Point>;

// Data space to pixels.
struct Frame {
    Range x;
    Range y;

    double PixelX(double value) const { return kLeft + (value - x.lo) / x.Span() * (kRight - kLeft); }
    double PixelY(double value) const { return kBottom - (value - y.lo) / y.Span() * (kBottom - kTop); }
};

double Cell(const std::vector<double>& row, std::size_t column)
{
    return column < row.size() ? row[column] : std::numeric_limits<double>::quiet_NaN();
}

// The unit a column's name ends with, "[rpm]"; empty when none.
std::string_view UnitOf(std::string_view name)
{
    const auto open = name.rfind('[');
    return open == std::string_view::npos ? std::string_view() : name.substr(open);
}

// The plot has one y axis: the curves are the leading y columns in the unit
// of the first (a log's reference and measured value, not what it logged
// beside them in other units).
std::size_t CurveCount(const Trace& trace)
{
    std::size_t count = 0;
    while (count + 1 < trace.columns.size() && UnitOf(trace.columns[count + 1]) == UnitOf(trace.columns[1]))
        ++count;
    return count;
}

// The x and y ranges of every point that can be drawn.
Frame DataFrame(const Trace& trace)
{
    Frame frame;
    for (const std::vector<double>& row : trace.rows) {
        const double x = Cell(row, 0);
        for (std::size_t column = 1; column <= CurveCount(trace); ++column) {
            const double y = Cell(row, column);
            if (std::isfinite(x) && std::isfinite(y)) {
                frame.x.Include(x);
                frame.y.Include(y);
            }
        }
    }
    return frame;
}

// A flat range widened around its value, so that it has a span to draw on.
Range WithSpan(Range range)
{
    if (range.Span() > 0.0)
        return range;
    const double half = range.lo == 0.0 ? 1.0 : std::abs(range.lo) * 0.1;
    return {range.lo - half, range.hi + half};
}

// The y range with a margin, so that no curve runs along the frame.
Range Padded(Range range)
{
    const double margin = range.Span() * 0.05;
    return {range.lo - margin, range.hi + margin};
}

// 1, 2 or 5 times a power of ten, giving about six ticks over the range.
double TickStep(const Range& range)
{
    const double raw = range.Span() / 6.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / magnitude;
    const double nice = mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0;
    return nice * magnitude;
}

// Whole multiples of the step, so that no tick reads -0 or 0.30000000000000004.
std::vector<double> Ticks(const Range& range, double step)
{
    std::vector<double> ticks;
    const auto first = static_cast<long long>(std::ceil(range.lo / step));
    const auto last = static_cast<long long>(std::floor(range.hi / step));
    for (long long k = first; k <= last; ++k)
        ticks.push_back(static_cast<double>(k) * step);
    return ticks;
}

// As many digits as the step needs; up to a million without an exponent.
std::string TickLabel(double value, double step)
{
    const int lastDigit = static_cast<int>(std::floor(std::log10(step) + 1e-9));
    const int firstDigit = static_cast<int>(std::floor(std::log10(std::max(std::abs(value), step))));
    int digits = firstDigit - lastDigit + 1;
    if (firstDigit < 6)
        digits = std::max(digits, firstDigit + 1);
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", std::clamp(digits, 1, 15), value);
    return text;
}

std::string Pixel(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Text(double x, double y, std::string_view text, std::string_view attributes = {})
{
    std::string element = "<text x=\"" + Pixel(x) + "\" y=\"" + Pixel(y) + "\"";
    if (!attributes.empty())
        element += " " + std::string(attributes);
    return element + ">" + EscapeMarkup(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, std::string_view stroke)
{
    return "<line x1=\"" + Pixel(x1) + "\" y1=\"" + Pixel(y1) + "\" x2=\"" + Pixel(x2) + "\" y2=\"" +
           Pixel(y2) + "\" stroke=\"" + std::string(stroke) + "\"/>\n";
}

std::string GridAndTicks(const Frame& frame)
{
    std::string svg;
    const double xStep = TickStep(frame.x);
    for (double tick : Ticks(frame.x, xStep)) {
        const double x = frame.PixelX(tick);
        svg += Line(x, kTop, x, kBottom, "#e4e4e4");
        svg += Line(x, kBottom, x, kBottom + 4.0, "#444");
        svg += Text(x, kBottom + 16.0, TickLabel(tick, xStep), "text-anchor=\"middle\"");
    }
    const double yStep = TickStep(frame.y);
    for (double tick : Ticks(frame.y, yStep)) {
        const double y = frame.PixelY(tick);
        svg += Line(kLeft, y, kRight, y, "#e4e4e4");
        svg += Line(kLeft - 4.0, y, kLeft, y, "#444");
        svg += Text(kLeft - 7.0, y + 4.0, TickLabel(tick, yStep), "text-anchor=\"end\"");
    }
    return svg;
}

std::string AxisLabels(const Trace& trace)
{
    const double middleX = (kLeft + kRight) / 2.0;
    const double middleY = (kTop + kBottom) / 2.0;
    return Text(middleX, kHeight - 12.0, trace.xLabel, "text-anchor=\"middle\"") +
           Text(18.0, middleY, trace.yLabel,
                "text-anchor=\"middle\" transform=\"rotate(-90 18 " + Pixel(middleY) + ")\"");
}

// The points of one bucket of rows: its lowest and highest in the order they
// came, and whether a point is missing from it.
struct Bucket {
    Polyline points;
    bool gap = false;
};

Bucket BucketExtremes(const std::vector<std::vector<double>>& rows, std::size_t column, std::size_t begin,
                      std::size_t end)
{
    Bucket bucket;
    std::optional<Point> low, high;
    std::size_t lowAt = 0, highAt = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const Point point{Cell(rows[i], 0), Cell(rows[i], column)};
        if (!std::isfinite(point.x) || !std::isfinite(point.y)) {
            bucket.gap = true;
            continue;
        }
        if (!low || point.y < low->y) {
            low = point;
            lowAt = i;
        }
        if (!high || point.y > high->y) {
            high = point;
            highAt = i;
        }
    }
    if (!low)
        return bucket;
    bucket.points.push_back(lowAt <= highAt ? *low : *high);
    if (lowAt != highAt)
        bucket.points.push_back(lowAt < highAt ? *high : *low);
    return bucket;
}

// The curve of one column as lines that break where a point is missing.
std::vector<Polyline> CurveLines(const std::vector<std::vector<double>>& rows, std::size_t column)
{
    const std::size_t size = rows.size() > 2 * kBuckets ? (rows.size() + kBuckets - 1) / kBuckets : 1;
    std::vector<Polyline> lines(1);
    for (std::size_t begin = 0; begin < rows.size(); begin += size) {
        Bucket bucket = BucketExtremes(rows, column, begin, std::min(rows.size(), begin + size));
        if (bucket.gap && !lines.back().empty())
            lines.emplace_back();
        lines.back().insert(lines.back().end(), bucket.points.begin(), bucket.points.end());
    }
    std::erase_if(lines, [](const Polyline& line) { return line.empty(); });
    return lines;
}

// A point alone between gaps is drawn as a dot.
std::string Curve(const std::vector<Polyline>& lines, const Frame& frame, std::string_view colour)
{
    std::string svg;
    for (const Polyline& line : lines) {
        if (line.size() == 1) {
            svg += "<circle cx=\"" + Pixel(frame.PixelX(line[0].x)) + "\" cy=\"" +
                   Pixel(frame.PixelY(line[0].y)) + "\" r=\"1.5\" fill=\"" + std::string(colour) + "\"/>\n";
            continue;
        }
        svg +=
            "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.2\" points=\"";
        for (const Point& point : line)
            svg += Pixel(frame.PixelX(point.x)) + "," + Pixel(frame.PixelY(point.y)) + " ";
        svg.back() = '"';
        svg += "/>\n";
    }
    return svg;
}

const char* Colour(std::size_t curve)
{
    return kColours[curve % std::size(kColours)];
}

std::string Legend(const Trace& trace)
{
    std::string svg;
    double x = kLeft;
    for (std::size_t curve = 0; curve < CurveCount(trace); ++curve) {
        const std::string& name = trace.columns[curve + 1];
        svg += "<line x1=\"" + Pixel(x) + "\" y1=\"38\" x2=\"" + Pixel(x + 16.0) + "\" y2=\"38\" stroke=\"" +
               Colour(curve) + "\" stroke-width=\"2\"/>\n";
        svg += Text(x + 20.0, 42.0, name);
        x += 32.0 + 6.5 * static_cast<double>(name.size());
    }
    return svg;
}

std::string Curves(const Trace& trace, const Frame& frame)
{
    std::string svg;
    for (std::size_t curve = 0; curve < CurveCount(trace); ++curve)
        svg += Curve(CurveLines(trace.rows, curve + 1), frame, Colour(curve));
    return svg;
}

} // namespace

std::string EscapeMarkup(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string SvgPlot(const Trace& trace)
{
    const std::string width = Pixel(kWidth), height = Pixel(kHeight);
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + width + "\" height=\"" + height +
                      "\" viewBox=\"0 0 " + width + " " + height +
                      "\" font-family=\"sans-serif\" font-size=\"11\">\n<rect width=\"" + width +
                      "\" height=\"" + height + "\" fill=\"#fff\"/>\n";
    svg +=
        Text(kWidth / 2.0, 20.0, trace.title, "text-anchor=\"middle\" font-size=\"14\" font-weight=\"bold\"");
    const Frame data = DataFrame(trace);
    if (!data.x.Drawable() || !data.y.Drawable())
        return svg + Text(kWidth / 2.0, kHeight / 2.0, "no data", "text-anchor=\"middle\" fill=\"#888\"") +
               "</svg>\n";
    const Frame frame{WithSpan(data.x), Padded(WithSpan(data.y))};
    svg += GridAndTicks(frame);
    svg += "<rect x=\"" + Pixel(kLeft) + "\" y=\"" + Pixel(kTop) + "\" width=\"" + Pixel(kRight - kLeft) +
           "\" height=\"" + Pixel(kBottom - kTop) + "\" fill=\"none\" stroke=\"#444\"/>\n";
    svg += AxisLabels(trace) + Legend(trace) + Curves(trace, frame);
    return svg + "</svg>\n";
}
