#include "CommissionResult.h"

std::vector<std::string> CommissionResult::Flags() const
{
    std::vector<std::string> flags;
    for (const IdentifiedValue& value : identified)
        for (const std::string& flag : value.flags)
            flags.push_back(value.name + ": " + flag);
    return flags;
}
