#include "CommissionResult.h"

#include <cmath>
#include <sstream>

std::string ShortNumber(double value)
{
    if (!std::isfinite(value))
        return "-";
    std::ostringstream text;
    text.precision(5);
    text << value;
    return text.str();
}

std::vector<std::string> CommissionResult::Flags() const
{
    std::vector<std::string> flags;
    for (const IdentifiedValue& value : identified)
        for (const std::string& flag : value.flags)
            flags.push_back(value.name + ": " + flag);
    return flags;
}
