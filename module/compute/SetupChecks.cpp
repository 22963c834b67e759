#include "SetupChecks.h"

#include "CaseInsensitive.h"
#include "EngineCore.h"
#include "JsonReader.h"

#include <algorithm>
#include <cmath>

namespace {

// The values the scales of the drive's units divide by.
constexpr const char* kScaleDivisors[] = {
    "DSP_freq",
    "PWMPER",
    "CLPER",
    "SLPER",
    "MECRESL",
    "ImaxPS",
    "Vdc",
    "VdcMaxMeasurable",
    "ADCrange",
    "DriveTempSensorGain",
    "Motor_transmission",
    "Load_transmission",
};

std::string Quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

void AddDivisorDefects(CMC_Setup* setup, std::vector<std::string>& defects)
{
    for (const char* name : kScaleDivisors) {
        const CMC_Parameter* p = FindQuietly(setup, name);
        if (!p)
            defects.push_back(Quoted(name) + " is missing; the drive's scales divide by it");
        else if (p->GetValueInInternalUnit() == 0.0)
            defects.push_back(Quoted(name) + " is 0; the drive's scales divide by it");
    }
}

template <typename Quantities>
void AddNonFiniteDefects(const Quantities& quantities, const char* what, std::vector<std::string>& defects)
{
    for (const auto& q : quantities)
        if (!std::isfinite(q->GetValueInBaseUnit()))
            defects.push_back("the " + std::string(what) + " " + Quoted(q->Name()) +
                              " has no finite value in base units");
}

bool IsNamed(const CMC_Parameter& p, std::initializer_list<const char*> names)
{
    return names.size() == 0 || std::any_of(names.begin(), names.end(), [&p](const char* name) {
               return EqualsIgnoringCase(p.Name(), name);
           });
}

} // namespace

std::vector<std::string> SetupDefects(CMC_Setup* setup)
{
    std::vector<std::string> defects;
    AddDivisorDefects(setup, defects);
    AddNonFiniteDefects(setup->GetParameters(), "parameter", defects);
    AddNonFiniteDefects(setup->GetVariables(), "drive variable", defects);
    return defects;
}

std::string DefectOfChange(CMC_Parameter* parameter, double base)
{
    CMC_Setup* setup = parameter->GetSetup();
    const std::vector<std::string> before = SetupDefects(setup);
    const double old = parameter->GetValueInInternalUnit();
    if (!parameter->SetValueInBaseUnit(base))
        return Quoted(parameter->Name()) + " cannot take the value " + JsonNumber(base);
    const std::vector<std::string> after = SetupDefects(setup);
    parameter->SetValueInInternalUnit(old);
    for (const std::string& defect : after)
        if (std::find(before.begin(), before.end(), defect) == before.end())
            return defect;
    return {};
}

std::string RegistersAtLimit(const CMC_Setup* setup, std::initializer_list<const char*> names)
{
    std::string list;
    for (const auto& p : setup->GetParameters()) {
        if (!p->WasClamped() || !IsNamed(*p, names))
            continue;
        list += (list.empty() ? "" : ", ") + p->Name() + " (" + JsonNumber(p->GetRegisterLowest()) + " to " +
                JsonNumber(p->GetRegisterHighest()) + ")";
    }
    if (list.empty())
        return {};
    return "At the limit of its register: " + list +
           ". The drive cannot hold the value the design or the setting asked for.";
}
