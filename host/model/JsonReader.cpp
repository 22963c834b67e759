#include "JsonReader.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <iterator>
#include <unordered_set>

JsonValue::~JsonValue()
{
    if (items.empty() && members.empty())
        return;
    std::vector<JsonValue> pending;
    auto takeChildren = [&pending](JsonValue& value) {
        for (JsonValue& item : value.items)
            pending.push_back(std::move(item));
        for (auto& member : value.members)
            pending.push_back(std::move(member.second));
        value.items.clear();
        value.members.clear();
    };
    takeChildren(*this);
    while (!pending.empty()) {
        JsonValue value = std::move(pending.back());
        pending.pop_back();
        takeChildren(value);
    }
}

JsonValue::JsonValue() = default;
JsonValue::JsonValue(const JsonValue&) = default;
JsonValue::JsonValue(JsonValue&&) noexcept = default;
JsonValue& JsonValue::operator=(const JsonValue&) = default;
JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;

const JsonValue* JsonValue::Find(std::string_view key) const
{
    for (const auto& [name, value] : members)
        if (name == key)
            return &value;
    return nullptr;
}

const char* KindName(JsonValue::Kind kind)
{
    switch (kind) {
    case JsonValue::Kind::Null:
        return "null";
    case JsonValue::Kind::Bool:
        return "a true/false value";
    case JsonValue::Kind::Number:
        return "a number";
    case JsonValue::Kind::String:
        return "a text";
    case JsonValue::Kind::Object:
        return "an object";
    case JsonValue::Kind::Array:
        return "a list";
    }
    return "?";
}

namespace {

// Yields the text's characters and keeps the line of the last one that was
// not white space, which is the line of the token the parser just finished.
class LineCountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    LineCountingIterator(const char* p, int* line, int* tokenLine)
        : m_p(p), m_line(line), m_tokenLine(tokenLine)
    {
    }

    reference operator*() const { return *m_p; }
    LineCountingIterator& operator++()
    {
        const char c = *m_p;
        if (c == '\n')
            ++*m_line;
        else if (c != ' ' && c != '\t' && c != '\r')
            *m_tokenLine = *m_line;
        ++m_p;
        return *this;
    }
    LineCountingIterator operator++(int)
    {
        LineCountingIterator old = *this;
        ++*this;
        return old;
    }
    bool operator==(const LineCountingIterator& other) const { return m_p == other.m_p; }
    bool operator!=(const LineCountingIterator& other) const { return m_p != other.m_p; }

private:
    const char* m_p;
    int* m_line;
    int* m_tokenLine;
};

int LineOfOffset(std::string_view text, std::size_t offset)
{
    if (offset > text.size())
        offset = text.size();
    int line = 1;
    for (std::size_t i = 0; i < offset; ++i)
        if (text[i] == '\n')
            ++line;
    return line;
}

class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
public:
    TreeBuilder(std::string_view text, JsonValue& root, const int& tokenLine)
        : m_text(text), m_root(root), m_tokenLine(tokenLine)
    {
    }

    bool null() override { return Add(JsonValue{}); }
    bool boolean(bool value) override
    {
        JsonValue v;
        v.kind = JsonValue::Kind::Bool;
        v.boolean = value;
        return Add(std::move(v));
    }
    bool number_integer(number_integer_t value) override { return Number(static_cast<double>(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Number(static_cast<double>(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Number(value); }
    bool string(string_t& value) override
    {
        JsonValue v;
        v.kind = JsonValue::Kind::String;
        v.text = std::move(value);
        return Add(std::move(v));
    }
    bool binary(binary_t&) override { return Fail(m_tokenLine, "binary data is not allowed"); }
    bool start_object(std::size_t) override
    {
        JsonValue v;
        v.kind = JsonValue::Kind::Object;
        m_names.emplace_back();
        return Open(std::move(v));
    }
    bool key(string_t& name) override
    {
        if (!m_names.back().insert(name).second)
            return Fail(m_tokenLine, "duplicate name \"" + name + "\"");
        m_key = std::move(name);
        return true;
    }
    bool end_object() override
    {
        m_names.pop_back();
        m_stack.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        JsonValue v;
        v.kind = JsonValue::Kind::Array;
        return Open(std::move(v));
    }
    bool end_array() override
    {
        m_stack.pop_back();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override
    {
        std::string what = ex.what();
        // Keep the parser's own explanation, without its class prefix.
        const auto bracket = what.find("] ");
        if (bracket != std::string::npos)
            what = what.substr(bracket + 2);
        if (ex.id == 406)
            what = "number out of range (not finite): " + what;
        const bool truncated = position >= m_text.size();
        return Fail(LineOfOffset(m_text, position == 0 ? 0 : position - 1),
                    truncated ? "the file ends too early (truncated?)" : what);
    }

    const std::string& Error() const { return m_error; }

private:
    bool Number(double value)
    {
        if (!std::isfinite(value))
            return Fail(m_tokenLine, "number out of range (not finite)");
        JsonValue v;
        v.kind = JsonValue::Kind::Number;
        v.number = value;
        return Add(std::move(v));
    }

    JsonValue* Place(JsonValue&& v)
    {
        v.line = m_tokenLine;
        if (m_stack.empty()) {
            m_root = std::move(v);
            return &m_root;
        }
        JsonValue* parent = m_stack.back();
        if (parent->kind == JsonValue::Kind::Object) {
            parent->members.emplace_back(std::move(m_key), std::move(v));
            return &parent->members.back().second;
        }
        parent->items.push_back(std::move(v));
        return &parent->items.back();
    }

    bool Add(JsonValue&& v)
    {
        Place(std::move(v));
        return true;
    }

    bool Open(JsonValue&& v)
    {
        if (m_stack.size() >= kMaxJsonDepth)
            return Fail(m_tokenLine, "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        m_stack.push_back(Place(std::move(v)));
        return true;
    }

    bool Fail(int line, const std::string& problem)
    {
        if (m_error.empty())
            m_error = std::to_string(line) + ": " + problem;
        return false;
    }

    std::string_view m_text;
    JsonValue& m_root;
    const int& m_tokenLine;
    std::vector<JsonValue*> m_stack;
    std::vector<std::unordered_set<std::string>> m_names; // of each open object, for duplicates
    std::string m_key;
    std::string m_error;
};

} // namespace

bool ParseJson(std::string_view text, JsonValue& root, std::string& error)
{
    int line = 1;
    int tokenLine = 1;
    root = JsonValue{};
    TreeBuilder builder(text, root, tokenLine);
    LineCountingIterator first(text.data(), &line, &tokenLine);
    LineCountingIterator last(text.data() + text.size(), &line, &tokenLine);
    const bool ok = nlohmann::json::sax_parse(first, last, &builder);
    if (ok)
        return true;
    error =
        builder.Error().empty() ? std::to_string(tokenLine) + ": not a valid JSON document" : builder.Error();
    return false;
}

std::string JsonQuote(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
                out += buffer;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
    return out;
}

std::string JsonNumber(double value)
{
    if (value == 0.0)
        return std::signbit(value) ? "-0.0" : "0";
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FileError(const std::string& file, int line, const std::string& problem)
{
    return file + ":" + std::to_string(line) + ": " + problem;
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
