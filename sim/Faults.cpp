#include "Faults.h"

namespace {

struct Entry {
    const char* name;
    bool FaultSet::*flag;
};

const Entry kFaults[] = {
    {"open-phase", &FaultSet::openPhase},       {"swapped-phases", &FaultSet::swappedPhases},
    {"swapped-hall", &FaultSet::swappedHall},   {"missing-hall", &FaultSet::missingHall},
    {"short-circuit", &FaultSet::shortCircuit}, {"enable-inactive", &FaultSet::enableInactive},
    {"limit-switch", &FaultSet::limitSwitch},   {"weak-bus", &FaultSet::weakBus},
    {"no-answer", &FaultSet::noAnswer},
};

} // namespace

bool FaultSet::Add(const std::string& name)
{
    for (const Entry& entry : kFaults)
        if (name == entry.name) {
            this->*entry.flag = true;
            return true;
        }
    return false;
}

bool FaultSet::Any() const
{
    for (const Entry& entry : kFaults)
        if (this->*entry.flag)
            return true;
    return false;
}

std::vector<std::string> FaultSet::Names() const
{
    std::vector<std::string> names;
    for (const Entry& entry : kFaults)
        if (this->*entry.flag)
            names.emplace_back(entry.name);
    return names;
}

const std::vector<std::string>& FaultSet::KnownNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const Entry& entry : kFaults)
            list.emplace_back(entry.name);
        return list;
    }();
    return names;
}
