// The fields of the virtual drive's data files (motors, drives), read with the
// setup files' JSON reader: every field is checked for its kind and its
// physical range, and a refusal names the field and its line. Nothing throws.
#pragma once

#include "JsonFields.h"
#include "JsonReader.h"

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>

namespace simfile {

// The physical range of a number field, both ends included.
struct Range {
    double lowest;
    double highest;
};

inline std::string Quoted(const char* key)
{
    return std::string("\"") + key + "\"";
}

// Reads an optional number within its range into target; a missing field
// leaves target as it is.
inline bool ReadNumber(JsonFields& fields, const JsonValue& object, const char* key, Range range,
                       double& target)
{
    const JsonValue* value = object.Find(key);
    if (!value)
        return true;
    if (!fields.Expect(*value, JsonValue::Kind::Number, Quoted(key)))
        return false;
    if (!(value->number >= range.lowest && value->number <= range.highest))
        return fields.Fail(value->line, Quoted(key) + " must be from " + JsonNumber(range.lowest) + " to " +
                                            JsonNumber(range.highest) + ", not " + JsonNumber(value->number));
    target = value->number;
    return true;
}

// Reads an optional whole number within its range into target.
inline bool ReadWhole(JsonFields& fields, const JsonValue& object, const char* key, Range range, int& target)
{
    double value = target;
    if (!ReadNumber(fields, object, key, range, value))
        return false;
    if (value != std::floor(value))
        return fields.Fail(object.Find(key)->line, Quoted(key) + " must be a whole number");
    target = static_cast<int>(value);
    return true;
}

// An optional member that must be an object when present; null when absent
// or refused (ok tells which; fields holds the problem).
inline const JsonValue* OptionalObject(JsonFields& fields, const JsonValue& parent, const char* key, bool& ok)
{
    const JsonValue* object = parent.Find(key);
    ok = !object || fields.Expect(*object, JsonValue::Kind::Object, Quoted(key));
    return ok ? object : nullptr;
}

// Parses a data file and checks its format name; on failure error reads
// "FILE:LINE: problem".
inline bool ParseDataFile(const std::string& text, const std::string& fileName, const char* format,
                          JsonValue& root, std::string& error)
{
    std::string problem;
    JsonFields fields(problem);
    if (ParseJson(text, root, problem) && fields.Expect(root, JsonValue::Kind::Object, "the file")) {
        const JsonValue* name = root.Find("format");
        if (name && name->IsString() && name->text == format)
            return true;
        fields.Fail(name ? name->line : root.line, std::string("not a ") + format + " file");
    }
    error = fileName + ":" + problem;
    return false;
}

// Parses a data file of the format and reads its fields with
// read(fields, root, result), from the defaults `result` holds; `target`
// takes the result only when the whole file is good. On failure error reads
// "FILE:LINE: problem".
template <typename T, typename Reader>
bool ReadDataFile(const std::string& text, const std::string& fileName, const char* format, Reader read,
                  T result, T& target, std::string& error)
{
    JsonValue root;
    if (!ParseDataFile(text, fileName, format, root, error))
        return false;
    std::string problem;
    JsonFields fields(problem);
    if (!read(fields, root, result)) {
        error = fileName + ":" + problem;
        return false;
    }
    target = std::move(result);
    return true;
}

// Reads a data file whole; on failure error names it.
inline bool ReadWholeFile(const std::string& path, std::string& text, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

} // namespace simfile
