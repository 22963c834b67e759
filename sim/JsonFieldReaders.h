// Optional numeric fields of the virtual drive's data files (motors,
// drives): each read only when present, and refused with a message naming
// the field when it is not a number in its range.
#pragma once

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

namespace simfile {

using Json = nlohmann::json;

// Reads an optional positive (or non-negative) number into target.
inline bool ReadNumber(const Json& object, const char* key, double& target, bool allowZero,
                       std::string& problem)
{
    auto it = object.find(key);
    if (it == object.end())
        return true;
    if (!it->is_number()) {
        problem = std::string("\"") + key + "\" must be a number";
        return false;
    }
    const double value = it->get<double>();
    if (!std::isfinite(value) || value < 0.0 || (!allowZero && value == 0.0)) {
        problem = std::string("\"") + key + "\" must be " + (allowZero ? "zero or more" : "above zero");
        return false;
    }
    target = value;
    return true;
}

inline bool ReadSigned(const Json& object, const char* key, double& target, std::string& problem)
{
    auto it = object.find(key);
    if (it == object.end())
        return true;
    if (!it->is_number() || !std::isfinite(it->get<double>())) {
        problem = std::string("\"") + key + "\" must be a number";
        return false;
    }
    target = it->get<double>();
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
