// The drive's CAN bus settings as the setup keeps them: options of the setup,
// saved in the setup file with it.
//
//   "CANBaudRate"      [bit/s] 125000, 250000, 500000 or 1000000
//   "CANNodeId"        CANopen node id, 1 to 127
//   "CANHeartbeatTime" [ms] producer heartbeat period, 0 (off) to 65535
//   "CANSdoTimeout"    [ms] how long an SDO transfer waits for the drive's answer, 10 to 65535
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

class CMC_Setup;

struct CanSettings {
    int baudRate = 500000; // [bit/s]
    int nodeId = 1;
    int heartbeatTime = 0; // [ms] 0: no heartbeat
    int sdoTimeout = 1000; // [ms]

    bool operator==(const CanSettings&) const = default;
};

struct CanBaudRate {
    int bitsPerSecond;
    const char* caption; // "500 kbps"
};
// The rates the drive's CAN controller runs at, slowest first.
const std::array<CanBaudRate, 4>& CanBaudRates();

// One setting: its option, what a person calls it, its unit ("" or "ms") and range.
struct CanOption {
    const char* name;
    const char* what;
    const char* unit;
    int low;
    int high;
    int CanSettings::*field;
};
const std::array<CanOption, 4>& CanOptions();
// The setting kept in the option name (letter case ignored); null for other options.
const CanOption* FindCanOption(std::string_view name);

// The value of a text typed or stored for the setting: a whole number (spaces
// around it allowed) within its range, and for the baud rate one of the
// rates. None when the text is anything else.
std::optional<int> ParseCanOption(const CanOption& option, std::string_view text);
// What the setting takes, for a message: "the node id is a whole number from 1 to 127".
std::string CanOptionRule(const CanOption& option);

// The setup's settings; an absent or unusable option reads as its default.
CanSettings ReadCanSettings(const CMC_Setup& setup);
// Writes every setting into its option.
void StoreCanSettings(CMC_Setup& setup, const CanSettings& settings);
