// The parameters in which two setups differ: what the drive would be given
// differently (the internal values), each side shown in its own display unit.
#pragma once

#include <string>
#include <vector>

class CMC_Setup;

struct ParameterDifference {
    std::string name;
    bool inA = true; // the parameter exists in setup A
    bool inB = true;
    double a = 0.0; // in the display unit of A's parameter
    double b = 0.0;
    std::string unitA; // display units; empty for none
    std::string unitB;
};

// In the order of A's parameters, then those only B has.
std::vector<ParameterDifference> SetupDifferences(const CMC_Setup& a, const CMC_Setup& b);
