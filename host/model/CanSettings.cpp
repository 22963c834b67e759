#include "CanSettings.h"

#include "CaseInsensitive.h"
#include "Setup.h"

#include <algorithm>
#include <charconv>

namespace {

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsBaudRate(const CanOption& option)
{
    return option.field == &CanSettings::baudRate;
}

bool IsListedRate(int rate)
{
    const auto& rates = CanBaudRates();
    return std::any_of(rates.begin(), rates.end(),
                       [rate](const CanBaudRate& listed) { return listed.bitsPerSecond == rate; });
}

} // namespace

const std::array<CanBaudRate, 4>& CanBaudRates()
{
    static const std::array<CanBaudRate, 4> rates{{
        {125000, "125 kbps"},
        {250000, "250 kbps"},
        {500000, "500 kbps"},
        {1000000, "1 Mbps"},
    }};
    return rates;
}

const std::array<CanOption, 4>& CanOptions()
{
    static const std::array<CanOption, 4> options{{
        {"CANBaudRate", "CAN baud rate", "bit/s", 125000, 1000000, &CanSettings::baudRate},
        {"CANNodeId", "node id", "", 1, 127, &CanSettings::nodeId},
        {"CANHeartbeatTime", "producer heartbeat time", "ms", 0, 65535, &CanSettings::heartbeatTime},
        {"CANSdoTimeout", "SDO timeout", "ms", 10, 65535, &CanSettings::sdoTimeout},
    }};
    return options;
}

const CanOption* FindCanOption(std::string_view name)
{
    return FindNamed(CanOptions(), name);
}

std::optional<int> ParseCanOption(const CanOption& option, std::string_view text)
{
    const std::string_view digits = Trimmed(text);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (value < option.low || value > option.high || (IsBaudRate(option) && !IsListedRate(value)))
        return std::nullopt;
    return value;
}

std::string CanOptionRule(const CanOption& option)
{
    std::string rule = std::string("the ") + option.what + " is ";
    if (IsBaudRate(option)) {
        const auto& rates = CanBaudRates();
        for (std::size_t i = 0; i < rates.size(); ++i)
            rule += (i == 0                  ? ""
                     : i + 1 == rates.size() ? " or "
                                             : ", ") +
                    std::to_string(rates[i].bitsPerSecond);
        return rule + " " + option.unit;
    }
    rule += "a whole number";
    if (*option.unit)
        rule += std::string(" of ") + option.unit;
    return rule + " from " + std::to_string(option.low) + " to " + std::to_string(option.high);
}

CanSettings ReadCanSettings(const CMC_Setup& setup)
{
    CanSettings settings;
    for (const CanOption& option : CanOptions())
        if (const auto value = ParseCanOption(option, setup.GetOptionNoError(option.name)))
            settings.*option.field = *value;
    return settings;
}

void StoreCanSettings(CMC_Setup& setup, const CanSettings& settings)
{
    for (const CanOption& option : CanOptions())
        setup.SetOption(option.name, std::to_string(settings.*option.field));
}
