// The engine over setups a user could make: the reference setup with values,
// units and unit types changed anywhere, then the register and parameter
// passes, the limits, the change dispatch of one name, the three designs and
// scale factors of any unit and name. Never crashes, never recurses without end.
#include "ControllerDesign.h"
#include "FuzzInput.h"
#include "FuzzSetup.h"
#include "Limits.h"
#include "ParametersToRegisters.h"
#include "RegistersToParameters.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

namespace {

// Values the fuzzer reaches easily besides raw doubles: the range's ends,
// zero, a fraction of the range, and the non-finite ones.
double ValueFor(const CMC_Parameter& p, FuzzInput& in)
{
    switch (in.Take<std::uint8_t>() % 8) {
    case 0:
        return p.GetMinInBaseUnit();
    case 1:
        return p.GetMaxInBaseUnit();
    case 2:
        return 0.0;
    case 3:
        return p.GetMinInBaseUnit() +
               (p.GetMaxInBaseUnit() - p.GetMinInBaseUnit()) * (in.Take<std::uint16_t>() / 65535.0);
    case 4:
        return std::numeric_limits<double>::quiet_NaN();
    case 5:
        return -p.GetMaxInBaseUnit();
    default:
        return in.Take<double>();
    }
}

void Edit(CMC_Setup& setup, FuzzInput& in)
{
    const auto& parameters = setup.GetParameters();
    CMC_Parameter& p = *parameters[in.Take<std::uint16_t>() % parameters.size()];
    switch (in.Take<std::uint8_t>() % 4) {
    case 0: {
        const auto& types = setup.GetUnits().Types();
        p.ChangeUnitType(types[in.Take<std::uint8_t>() % types.size()].GetName().c_str());
        break;
    }
    case 1: {
        const auto& units = p.UnitType().GetUnits();
        p.ChangeUnit(units[in.Take<std::uint8_t>() % units.size()].name.c_str());
        break;
    }
    case 2:
        p.SetValueInInternalUnit(in.Take<double>());
        break;
    default:
        p.SetValueInBaseUnit(ValueFor(p, in));
        break;
    }
}

void ScaleOfAnyUnitAndName(CMC_Setup& setup, FuzzInput& in)
{
    const auto& types = setup.GetUnits().Types();
    const auto& type = types[in.Take<std::uint8_t>() % types.size()];
    const auto& unit = type.GetUnits()[in.Take<std::uint8_t>() % type.GetUnits().size()];
    const auto& variables = setup.GetVariables();
    const auto& parameters = setup.GetParameters();
    const std::size_t pick = in.Take<std::uint16_t>() % (variables.size() + parameters.size() + 1);
    const char* name = pick < variables.size() ? variables[pick]->GetName()
                       : pick < variables.size() + parameters.size()
                           ? parameters[pick - variables.size()]->GetName()
                           : "";
    ScaleFactorOf(&setup, unit.name.c_str(), name);
    ScaleOffsetOf(&setup, unit.name.c_str());
}

// Whatever the passes and designs computed, every register the drive would
// receive fits its width.
bool RegistersFitTheirWidths(const CMC_Setup& setup)
{
    for (const auto& p : setup.GetParameters()) {
        const double value = p->GetValueInInternalUnit();
        if (p->GetType() == PT_REGISTER && std::isfinite(value) &&
            (value < p->GetRegisterLowest() || value > p->GetRegisterHighest()))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RestoredAfterInput working;
    CMC_Setup* setup = &working.Setup();
    FuzzInput in(data, size);
    const int edits = in.Take<std::uint8_t>() % 8;
    for (int i = 0; i < edits; ++i)
        Edit(*setup, in);
    const std::uint8_t passes = in.Take<std::uint8_t>();
    if (passes & 1)
        ComputeRegistersFromParameters(setup);
    if (passes & 2)
        ComputeParametersFromRegisters(setup);
    if (passes & 4) {
        ComputeParameterLimits(setup);
        UpdateClosedLoopOptions(setup);
        UpdateTransmissionUnits(setup);
    }
    if (passes & 8)
        DesignCurrentController(setup);
    if (passes & 16)
        DesignSpeedController(setup);
    if (passes & 32)
        DesignPositionController(setup);
    const auto& parameters = setup->GetParameters();
    ParameterChangeDispatch(setup, parameters[in.Take<std::uint16_t>() % parameters.size()]->GetName());
    if (!RegistersFitTheirWidths(*setup))
        __builtin_trap();
    while (!in.Empty())
        ScaleOfAnyUnitAndName(*setup, in);
    return 0;
}
