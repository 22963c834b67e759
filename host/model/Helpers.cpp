#include "Helpers.h"

#include "Errors.h"
#include "Setup.h"

#include <algorithm>
#include <cmath>

std::uint32_t Compute_ADCMaxValue(const CMC_Setup* setup)
{
    double bits = 10;
    if (setup) {
        QuietLookup quiet;
        if (const CMC_Parameter* p = setup->FindParameter("ADCbits"))
            bits = std::trunc(p->GetValueInInternalUnit());
    }
    if (!(bits >= 1 && bits <= 16))
        bits = 10;
    const int whole = static_cast<int>(bits);
    return ((1u << whole) - 1u) << (16 - whole);
}

long TG_Round(double x)
{
    return std::lround(x);
}

double TG_FRound(double x)
{
    return std::round(x);
}

double RoundDecimalValue(double x, int digits)
{
    const double scale = std::pow(10.0, digits);
    return std::round(x * scale) / scale;
}

int GetIOPortFromPin(int pin)
{
    return std::clamp(pin, 0, 255) + 1;
}

int GetIOPinFromPort(int port)
{
    return std::clamp(port, 1, 256) - 1;
}
