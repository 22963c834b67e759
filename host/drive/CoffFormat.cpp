#include "CoffFormat.h"

#include "JsonReader.h"
#include "SetupDescription.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kFormatName = "velmaro-program";
constexpr int kFormatVersion = 1;

// The file name without folder and extension.
std::string Stem(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

bool CMC_CoffFormat::HasUserVariable(const std::string& name) const
{
    return std::find(m_userVariables.begin(), m_userVariables.end(), name) != m_userVariables.end();
}

int CMC_CoffFormat::ReadCoff()
{
    m_program.clear();
    m_userVariables.clear();
    m_error.clear();
    if (m_strFileName.empty()) {
        m_error = "No program image named.";
        return 0;
    }
    std::ifstream in(m_strFileName, std::ios::binary);
    if (!in) {
        m_error = m_strFileName + ": the program image cannot be opened";
        return 0;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseImage(text.str());
}

int CMC_CoffFormat::ParseImage(std::string_view text)
{
    m_program.clear();
    m_userVariables.clear();
    m_error.clear();

    const std::string& file = m_strFileName;
    auto refuse = [&](int line, const std::string& problem) {
        m_error = line > 0 ? FileError(file, line, problem) : file + ": " + problem;
        return 0;
    };
    JsonValue root;
    std::string error;
    if (!ParseJson(text, root, error)) {
        m_error = file + ":" + error;
        return 0;
    }
    if (!root.IsObject())
        return refuse(root.line, "a program image is a JSON object");
    const JsonValue* format = root.Find("format");
    if (format == nullptr || !format->IsString() || format->text != kFormatName)
        return refuse(format ? format->line : root.line,
                      std::string("not a program image (format \"") + kFormatName + "\" expected)");
    const JsonValue* version = root.Find("version");
    if (version == nullptr || !version->IsNumber() || version->number != kFormatVersion)
        return refuse(version ? version->line : root.line, "unsupported program image version");
    const JsonValue* program = root.Find("program");
    if (program == nullptr || !program->IsString() || program->text.empty())
        return refuse(program ? program->line : root.line, "the program name is missing");
    if (program->text != Stem(file))
        return refuse(program->line,
                      "the image names the program \"" + program->text + "\", not \"" + Stem(file) + "\"");
    const JsonValue* variables = root.Find("userVariables");
    if (variables == nullptr || !variables->IsArray())
        return refuse(variables ? variables->line : root.line, "the list of user variables is missing");

    std::vector<std::string> names;
    for (const JsonValue& item : variables->items) {
        if (!item.IsString() || item.text.empty())
            return refuse(item.line, "a user variable name must be a non-empty text");
        if (std::find(names.begin(), names.end(), item.text) != names.end())
            return refuse(item.line, "the user variable \"" + item.text + "\" is listed twice");
        names.push_back(item.text);
    }
    m_program = program->text;
    m_userVariables = std::move(names);
    return 1;
}

std::string ProgramDirectory()
{
    if (const char* dir = std::getenv("VELMARO_PROGRAM_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    return DataDirectory() + "/programs";
}

std::string GetOutPathName(const std::string& programName)
{
    return ProgramDirectory() + "/" + programName + ".json";
}
