// The report of a commissioning: one page a person can judge the motor from,
// with the result as JSON and its tables and traces as CSV and SVG beside it.
#pragma once

#include "CommissionResult.h"

#include <string>

inline constexpr const char* kCommissioningFormatName = "velmaro-commissioning";
inline constexpr int kCommissioningFormatVersion = 1;

// The whole result as a pretty JSON document; numbers that are not finite
// are null.
std::string ResultJson(const CommissionResult& result);

// Writes result.json, identified.csv, gains.csv, stages.csv, changes.csv,
// ID.csv and ID.svg of each trace and, last, index.html into the folder, made
// when missing; each file is replaced atomically. On failure returns false and
// sets error to a message naming the file.
bool WriteReport(const CommissionResult& result, const std::string& folder, std::string& error);
