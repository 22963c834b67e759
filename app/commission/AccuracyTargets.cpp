#include "AccuracyTargets.h"

#include <cmath>

const std::map<std::string, double>& IdentificationAccuracy()
{
    static const std::map<std::string, double> accuracy = {
        {"Vdc", 0.005},     {"pp", 0.0},         {"R", 0.01},         {"L", 0.025},
        {"Jt", 0.02},       {"HALLAGAIN", 0.01}, {"HALLBGAIN", 0.01}, {"HALLCGAIN", 0.01},
        {"HALLAOFF", 0.01}, {"HALLBOFF", 0.01},  {"HALLCOFF", 0.01},
    };
    return accuracy;
}

double ErrorPercent(double found, double truth)
{
    if (!std::isfinite(found) || !std::isfinite(truth) || truth == 0.0)
        return std::nan("");
    return 100.0 * (found - truth) / std::abs(truth);
}

bool WithinTarget(double errorPercent, double target)
{
    if (std::isnan(errorPercent))
        return true;
    return target == 0.0 ? errorPercent == 0.0 : std::abs(errorPercent) <= 100.0 * target;
}
