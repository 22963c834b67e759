#include "Report.h"
std::string ResultJson(const CommissionResult&) { return "{}"; }
bool WriteReport(const CommissionResult&, const std::string&, std::string&) { return true; }
