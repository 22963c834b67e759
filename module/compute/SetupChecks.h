// Checks of a whole setup: the values the drive's scales divide by, values
// that are not finite, and registers that could not hold what was asked.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

class CMC_Parameter;
class CMC_Setup;

// What makes a setup unusable, one message each: a divisor of the drive's
// scales ("PWMPER", "MECRESL", "Motor_transmission"...) that is missing or
// zero, and every parameter or drive variable whose value in base units is
// not finite. Empty for a sound setup.
std::vector<std::string> SetupDefects(CMC_Setup* setup);

// The first defect that giving the parameter this value [base units] would
// bring into its setup, one the setup does not have already; empty when none.
// The parameter keeps its value.
std::string DefectOfChange(CMC_Parameter* parameter, double base);

// A sentence naming the registers (among names; every register when names
// is empty) whose last value lay beyond their width and was clamped to it,
// with their widths; empty when none.
std::string RegistersAtLimit(const CMC_Setup* setup, std::initializer_list<const char*> names = {});
