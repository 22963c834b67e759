#pragma once
#include "CommissionResult.h"
#include <string>
std::string ResultJson(const CommissionResult& result);
bool WriteReport(const CommissionResult& result, const std::string& folder, std::string& error);
