// Typed access to the members of a parsed JSON object, reporting the first
// problem with its line.
#pragma once

#include "JsonReader.h"

#include <string>

class JsonFields {
public:
    explicit JsonFields(std::string& error) : m_error(error) {}

    bool Fail(int line, const std::string& problem)
    {
        if (m_error.empty())
            m_error = std::to_string(line) + ": " + problem;
        return false;
    }

    // Checks the kind of a present value; "what" names it in the message.
    bool Expect(const JsonValue& value, JsonValue::Kind kind, const std::string& what)
    {
        if (value.kind == kind)
            return true;
        return Fail(value.line, what + " must be " + KindName(kind) + ", not " + KindName(value.kind));
    }

    const JsonValue* Require(const JsonValue& object, const char* key, JsonValue::Kind kind)
    {
        const JsonValue* value = object.Find(key);
        if (!value) {
            Fail(object.line, std::string("\"") + key + "\" is missing");
            return nullptr;
        }
        return Expect(*value, kind, std::string("\"") + key + "\"") ? value : nullptr;
    }

    // Missing is fine (returns true, leaves out); a wrong kind is not.
    bool Optional(const JsonValue& object, const char* key, double& out)
    {
        const JsonValue* value = object.Find(key);
        if (!value)
            return true;
        if (!Expect(*value, JsonValue::Kind::Number, std::string("\"") + key + "\""))
            return false;
        out = value->number;
        return true;
    }
    bool Optional(const JsonValue& object, const char* key, std::string& out)
    {
        const JsonValue* value = object.Find(key);
        if (!value)
            return true;
        if (!Expect(*value, JsonValue::Kind::String, std::string("\"") + key + "\""))
            return false;
        out = value->text;
        return true;
    }
    bool Optional(const JsonValue& object, const char* key, bool& out)
    {
        const JsonValue* value = object.Find(key);
        if (!value)
            return true;
        if (!Expect(*value, JsonValue::Kind::Bool, std::string("\"") + key + "\""))
            return false;
        out = value->boolean;
        return true;
    }

    // Rejects members other than the allowed ones (a misspelt field is a damaged file).
    bool OnlyKnown(const JsonValue& object, std::initializer_list<const char*> allowed)
    {
        for (const auto& [key, value] : object.members) {
            bool known = false;
            for (const char* name : allowed)
                known = known || key == name;
            if (!known)
                return Fail(value.line, "unknown field \"" + key + "\"");
        }
        return true;
    }

    // The format name and version at the top of a file.
    bool CheckFormat(const JsonValue& root, const char* format, int version)
    {
        if (!Expect(root, JsonValue::Kind::Object, "the file"))
            return false;
        const JsonValue* name = Require(root, "format", JsonValue::Kind::String);
        if (!name)
            return false;
        if (name->text != format)
            return Fail(name->line, "not a " + std::string(format) + " file (format \"" + name->text + "\")");
        const JsonValue* v = Require(root, "version", JsonValue::Kind::Number);
        if (!v)
            return false;
        if (v->number != version)
            return Fail(v->line, "version " + JsonNumber(v->number) +
                                     " is not supported (this program reads version " +
                                     std::to_string(version) + ")");
        return true;
    }

private:
    std::string& m_error;
};
