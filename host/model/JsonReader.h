// A JSON reader that keeps the line of every value, so that a refused file can
// be reported by file, line and problem. Duplicate keys, numbers that are not
// finite and nesting deeper than kMaxJsonDepth are refused while parsing; no
// input makes the reader or a value's destruction recurse.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Our files nest four levels at most.
constexpr std::size_t kMaxJsonDepth = 64;

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Object, Array };

    // Out of line: the members hold the type itself.
    JsonValue();
    JsonValue(const JsonValue&);
    JsonValue(JsonValue&&) noexcept;
    JsonValue& operator=(const JsonValue&);
    JsonValue& operator=(JsonValue&&) noexcept;
    // Takes the children apart one level at a time: no recursion.
    ~JsonValue();

    Kind kind = Kind::Null;
    int line = 0;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<std::pair<std::string, JsonValue>> members; // objects, in file order
    std::vector<JsonValue> items;                           // arrays

    const JsonValue* Find(std::string_view key) const;
    bool IsObject() const { return kind == Kind::Object; }
    bool IsArray() const { return kind == Kind::Array; }
    bool IsNumber() const { return kind == Kind::Number; }
    bool IsString() const { return kind == Kind::String; }
    bool IsBool() const { return kind == Kind::Bool; }
};

const char* KindName(JsonValue::Kind kind);

// Parses text; on failure returns false and sets error to "LINE: problem".
bool ParseJson(std::string_view text, JsonValue& root, std::string& error);

// Writers for the canonical form of our files.
std::string JsonQuote(std::string_view text);
// Shortest text that reads back as exactly the same double.
std::string JsonNumber(double value);
// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);

// "FILE:LINE: problem"
std::string FileError(const std::string& file, int line, const std::string& problem);
