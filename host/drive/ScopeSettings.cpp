#include "ScopeSettings.h"

#include "CaseInsensitive.h"
#include "JsonReader.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <type_traits>

namespace {

constexpr std::string_view kFormatKey = "velmaro-scope";
constexpr int kFormatVersion = 1;

bool NeedsEscape(char c)
{
    return c == '%' || c == ',' || c == ';' || c == '=' || static_cast<unsigned char>(c) < 0x20;
}

std::string Escaped(std::string_view name)
{
    std::string text;
    for (char c : name) {
        if (!NeedsEscape(c)) {
            text += c;
            continue;
        }
        char code[4];
        std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
        text += code;
    }
    return text;
}

std::optional<std::string> Unescaped(std::string_view text)
{
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            name += text[i];
            continue;
        }
        unsigned code = 0;
        if (text.size() - i < 3)
            return std::nullopt;
        const auto result = std::from_chars(text.data() + i + 1, text.data() + i + 3, code, 16);
        if (result.ec != std::errc() || result.ptr != text.data() + i + 3)
            return std::nullopt;
        name += static_cast<char>(code);
        i += 2;
    }
    return name;
}

std::string Colour(std::uint32_t colour)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", static_cast<unsigned>(colour));
    return buffer;
}

template <typename T> std::optional<T> Parsed(std::string_view text, int base = 10)
{
    T value{};
    const char* end = text.data() + text.size();
    std::from_chars_result result;
    if constexpr (std::is_floating_point_v<T>)
        result = std::from_chars(text.data(), end, value);
    else
        result = std::from_chars(text.data(), end, value, base);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(value))
            return std::nullopt;
    return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// Reads the fields of one "key=value" into the settings; the problem otherwise.
class SettingsReader {
public:
    explicit SettingsReader(ScopeSettings& settings) : m_settings(settings) {}

    std::string Field(std::string_view key, const std::vector<std::string_view>& values)
    {
        if (key == "span")
            return Once(m_span, key, [&] { return Span(values); });
        if (key == "trigger")
            return Once(m_trigger, key, [&] { return Trigger(values); });
        if (key == "grid")
            return Once(m_grid, key, [&] { return Grid(values); });
        if (key == "channel")
            return Channel(values);
        if (key == "curve")
            return Curve(values);
        return "unknown field \"" + std::string(key) + "\"";
    }

    std::string Missing() const
    {
        if (!m_span)
            return "no time span";
        if (!m_trigger)
            return "no trigger";
        if (!m_grid)
            return "no grid";
        return {};
    }

private:
    // A field that may appear once.
    template <typename Read> static std::string Once(bool& seen, std::string_view key, Read read)
    {
        if (seen)
            return "the field \"" + std::string(key) + "\" appears twice";
        seen = true;
        return read();
    }

    static std::string Count(const std::vector<std::string_view>& values, std::size_t expected,
                             const char* what)
    {
        if (values.size() == expected)
            return {};
        return std::string(what) + " has " + std::to_string(values.size()) + " values instead of " +
               std::to_string(expected);
    }

    std::string Span(const std::vector<std::string_view>& values)
    {
        if (auto problem = Count(values, 1, "the time span"); !problem.empty())
            return problem;
        const auto span = Parsed<double>(values[0]);
        if (!span)
            return "the time span is not a number";
        m_settings.timeSpan = *span;
        return {};
    }

    std::string Trigger(const std::vector<std::string_view>& values)
    {
        if (auto problem = Count(values, 5, "the trigger"); !problem.empty())
            return problem;
        const auto mode = Parsed<int>(values[0]);
        const auto slope = Parsed<int>(values[1]);
        const auto variable = Unescaped(values[2]);
        const auto level = Parsed<double>(values[3]);
        const auto preTrigger = Parsed<int>(values[4]);
        if (!mode || !slope || !variable || !level || !preTrigger)
            return "the trigger is damaged";
        m_settings.triggerMode = *mode;
        m_settings.triggerSlope = *slope;
        m_settings.triggerVariable = *variable;
        m_settings.triggerLevel = *level;
        m_settings.preTrigger = *preTrigger;
        return {};
    }

    std::string Grid(const std::vector<std::string_view>& values)
    {
        if (auto problem = Count(values, 3, "the grid"); !problem.empty())
            return problem;
        const auto colour = Parsed<std::uint32_t>(values[0], 16);
        const auto first = Parsed<double>(values[1]);
        const auto second = Parsed<double>(values[2]);
        if (!colour || !first || !second)
            return "the grid is damaged";
        m_settings.gridColor = *colour;
        m_settings.marks = {*first, *second};
        return {};
    }

    std::string Channel(const std::vector<std::string_view>& values)
    {
        const std::string which = "channel " + std::to_string(m_settings.channels.size() + 1);
        if (auto problem = Count(values, 4, which.c_str()); !problem.empty())
            return problem;
        const auto variable = Unescaped(values[0]);
        const auto unit = Unescaped(values[1]);
        const auto division = Parsed<double>(values[2]);
        const auto offset = Parsed<double>(values[3]);
        if (!variable || !unit || !division || !offset)
            return which + " is damaged";
        m_settings.channels.push_back({*variable, *unit, *division, *offset});
        return {};
    }

    std::string Curve(const std::vector<std::string_view>& values)
    {
        const std::string which = "curve " + std::to_string(m_settings.curves.size() + 1);
        if (auto problem = Count(values, 5, which.c_str()); !problem.empty())
            return problem;
        const auto axis = Parsed<int>(values[0]);
        const auto x = Parsed<int>(values[1]);
        const auto y = Parsed<int>(values[2]);
        const auto line = Parsed<int>(values[3]);
        const auto colour = Parsed<std::uint32_t>(values[4], 16);
        if (!axis || !x || !y || !line || !colour)
            return which + " is damaged";
        m_settings.curves.emplace_back(*axis, *x, *y, *line, *colour);
        return {};
    }

    ScopeSettings& m_settings;
    bool m_span = false;
    bool m_trigger = false;
    bool m_grid = false;
};

std::string ChannelsProblem(const ScopeSettings& settings)
{
    for (std::size_t i = 0; i < settings.channels.size(); ++i) {
        const ScopeChannel& channel = settings.channels[i];
        const std::string which = "channel " + std::to_string(i + 1);
        if (channel.variable.empty())
            return which + " has no variable";
        for (std::size_t j = 0; j < i; ++j)
            if (EqualsIgnoringCase(settings.channels[j].variable, channel.variable))
                return which + " shows \"" + channel.variable + "\" a second time";
        if (!std::isfinite(channel.division) || channel.division < 0.0)
            return which + " has a division that is not a positive number";
        if (!std::isfinite(channel.offset))
            return which + " has an offset that is not a number";
    }
    return {};
}

std::string TriggerProblem(const ScopeSettings& settings)
{
    const int mode = settings.triggerMode;
    if (mode != ScopeSettings::TriggerAuto && mode != ScopeSettings::TriggerNormal &&
        mode != ScopeSettings::TriggerSingle)
        return "the trigger mode " + std::to_string(mode) + " is none of auto (1), normal (2) and single (4)";
    if (settings.triggerSlope != ScopeSettings::SlopeFalling &&
        settings.triggerSlope != ScopeSettings::SlopeRising)
        return "the trigger slope " + std::to_string(settings.triggerSlope) +
               " is neither falling (0) nor rising (1)";
    if (!std::isfinite(settings.triggerLevel))
        return "the trigger level is not a number";
    if (settings.preTrigger < 0 || settings.preTrigger > 100)
        return "the pre-trigger " + std::to_string(settings.preTrigger) + " % is not within 0 to 100 %";
    if (settings.triggerVariable.empty())
        return {};
    for (const ScopeChannel& channel : settings.channels)
        if (EqualsIgnoringCase(channel.variable, settings.triggerVariable))
            return {};
    return "the trigger variable \"" + settings.triggerVariable + "\" is not logged";
}

std::string CurvesProblem(const ScopeSettings& settings)
{
    const int columns = static_cast<int>(settings.channels.size()) + 1;
    for (std::size_t i = 0; i < settings.curves.size(); ++i) {
        const CXYCurve& curve = settings.curves[i];
        const std::string which = "curve " + std::to_string(i + 1);
        if (curve.Axis() != 1 && curve.Axis() != 2)
            return which + " has no axis 1 or 2";
        if (curve.XColumn() < 0 || curve.XColumn() >= columns || curve.YColumn() < 0 ||
            curve.YColumn() >= columns)
            return which + " names a column the scope does not have";
        if (curve.LineAttribute() < 1 || curve.LineAttribute() > 3)
            return which + " has an unknown line";
    }
    return {};
}

} // namespace

std::string ScopeSettingsProblem(const ScopeSettings& settings)
{
    if (!std::isfinite(settings.timeSpan) || settings.timeSpan <= 0.0)
        return "the time span is not a positive number";
    if (!std::isfinite(settings.marks[0]) || !std::isfinite(settings.marks[1]))
        return "a mark of the grid is not a number";
    for (const auto& problem : {ChannelsProblem(settings), TriggerProblem(settings), CurvesProblem(settings)})
        if (!problem.empty())
            return problem;
    return {};
}

std::string FormatScopeSettings(const ScopeSettings& settings)
{
    std::string text = std::string(kFormatKey) + "=" + std::to_string(kFormatVersion);
    text += ";span=" + JsonNumber(settings.timeSpan);
    text += ";trigger=" + std::to_string(settings.triggerMode) + "," + std::to_string(settings.triggerSlope) +
            "," + Escaped(settings.triggerVariable) + "," + JsonNumber(settings.triggerLevel) + "," +
            std::to_string(settings.preTrigger);
    text += ";grid=" + Colour(settings.gridColor) + "," + JsonNumber(settings.marks[0]) + "," +
            JsonNumber(settings.marks[1]);
    for (const ScopeChannel& channel : settings.channels)
        text += ";channel=" + Escaped(channel.variable) + "," + Escaped(channel.unit) + "," +
                JsonNumber(channel.division) + "," + JsonNumber(channel.offset);
    for (const CXYCurve& curve : settings.curves)
        text += ";curve=" + std::to_string(curve.Axis()) + "," + std::to_string(curve.XColumn()) + "," +
                std::to_string(curve.YColumn()) + "," + std::to_string(curve.LineAttribute()) + "," +
                Colour(curve.Color());
    return text;
}

bool ParseScopeSettings(std::string_view text, ScopeSettings& settings, std::string& error)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    const std::vector<std::string_view> fields = Split(text, ';');
    const auto header = Split(fields.front(), '=');
    if (header.size() != 2 || header[0] != kFormatKey) {
        error = "these are not scope settings";
        return false;
    }
    if (const auto version = Parsed<int>(header[1]); !version || *version != kFormatVersion) {
        error = "the scope settings are of version " + std::string(header[1]) +
                "; this program reads version " + std::to_string(kFormatVersion);
        return false;
    }
    ScopeSettings read;
    SettingsReader reader(read);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::size_t equals = fields[i].find('=');
        if (equals == std::string_view::npos) {
            error = "field " + std::to_string(i + 1) + " has no value";
            return false;
        }
        error = reader.Field(fields[i].substr(0, equals), Split(fields[i].substr(equals + 1), ','));
        if (!error.empty())
            return false;
    }
    error = reader.Missing();
    if (error.empty())
        error = read.channels.empty() ? "no channel" : ScopeSettingsProblem(read);
    if (!error.empty())
        return false;
    settings = std::move(read);
    return true;
}
