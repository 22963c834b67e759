#include "Biquad.h"

#include "EngineCore.h"
#include "Errors.h"
#include "Setup.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>
#include <numbers>

namespace {

constexpr double kLargestRegister = 2147483647.0;
constexpr double kSmallestRegister = -2147483648.0;
constexpr const char* kCoefficientNames[] = {"B0", "B1", "B2", "A1", "A2", "SF"};
constexpr const char* kCountNames[] = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};

std::string FilterName(const char* base, int n)
{
    return base + std::to_string(n);
}
std::string SlotName(int slot, const char* coefficient)
{
    return "BQ" + std::to_string(slot) + coefficient;
}

bool Fits(double reg)
{
    return reg >= kSmallestRegister && reg <= kLargestRegister;
}

double Largest(const BiquadCoefficients& c)
{
    return std::max({std::fabs(c.b0), std::fabs(c.b1), std::fabs(c.b2), std::fabs(c.a1), std::fabs(c.a2)});
}

bool AllFinite(const BiquadCoefficients& c)
{
    return std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) && std::isfinite(c.a1) &&
           std::isfinite(c.a2);
}

// Types whose design has a gain of exactly 1 at zero frequency.
bool HasUnitDcGain(int type)
{
    return type != BQ_HIGH_PASS && type != BQ_BAND_PASS;
}

BiquadCoefficients DesignCoefficients(int type, double w, double q, double gainDb)
{
    const double k = std::tan(std::numbers::pi * w);
    const double k2 = k * k;
    const double v = std::pow(10.0, std::fabs(gainDb) / 20.0);
    const double n = 1.0 / (1.0 + k / q + k2);
    BiquadCoefficients c;
    switch (type) {
    case BQ_LOW_PASS_1:
        c = {k / (k + 1.0), k / (k + 1.0), 0.0, (k - 1.0) / (k + 1.0), 0.0};
        break;
    case BQ_LOW_PASS_2:
        c = {k2 * n, 2.0 * k2 * n, k2 * n, 2.0 * (k2 - 1.0) * n, (1.0 - k / q + k2) * n};
        break;
    case BQ_NOTCH:
        c = {(1.0 + k2) * n, 2.0 * (k2 - 1.0) * n, (1.0 + k2) * n, 2.0 * (k2 - 1.0) * n,
             (1.0 - k / q + k2) * n};
        break;
    case BQ_HIGH_PASS:
        c = {n, -2.0 * n, n, 2.0 * (k2 - 1.0) * n, (1.0 - k / q + k2) * n};
        break;
    case BQ_BAND_PASS:
        c = {k / q * n, 0.0, -k / q * n, 2.0 * (k2 - 1.0) * n, (1.0 - k / q + k2) * n};
        break;
    case BQ_PEAK:
        if (gainDb >= 0.0) {
            const double d = 1.0 / (1.0 + k / q + k2);
            c = {(1.0 + v * k / q + k2) * d, 2.0 * (k2 - 1.0) * d, (1.0 - v * k / q + k2) * d,
                 2.0 * (k2 - 1.0) * d, (1.0 - k / q + k2) * d};
        } else {
            const double d = 1.0 / (1.0 + v * k / q + k2);
            c = {(1.0 + k / q + k2) * d, 2.0 * (k2 - 1.0) * d, (1.0 - k / q + k2) * d, 2.0 * (k2 - 1.0) * d,
                 (1.0 - v * k / q + k2) * d};
        }
        break;
    case BQ_LOW_SHELF:
    case BQ_HIGH_SHELF: {
        const double s = std::sqrt(2.0);
        const double sv = std::sqrt(2.0 * v);
        const bool low = type == BQ_LOW_SHELF;
        if (gainDb >= 0.0) {
            const double d = 1.0 / (1.0 + s * k + k2);
            if (low)
                c = {(1.0 + sv * k + v * k2) * d, 2.0 * (v * k2 - 1.0) * d, (1.0 - sv * k + v * k2) * d, 0.0,
                     0.0};
            else
                c = {(v + sv * k + k2) * d, 2.0 * (k2 - v) * d, (v - sv * k + k2) * d, 0.0, 0.0};
            c.a1 = 2.0 * (k2 - 1.0) * d;
            c.a2 = (1.0 - s * k + k2) * d;
        } else if (low) {
            const double d = 1.0 / (1.0 + sv * k + v * k2);
            c = {(1.0 + s * k + k2) * d, 2.0 * (k2 - 1.0) * d, (1.0 - s * k + k2) * d,
                 2.0 * (v * k2 - 1.0) * d, (1.0 - sv * k + v * k2) * d};
        } else {
            const double d = 1.0 / (v + sv * k + k2);
            c = {(1.0 + s * k + k2) * d, 2.0 * (k2 - 1.0) * d, (1.0 - s * k + k2) * d, 2.0 * (k2 - v) * d,
                 (v - sv * k + k2) * d};
        }
        break;
    }
    case BQ_LEAD_LAG_1:
    case BQ_LEAD_LAG_2: {
        // Zero at F1, pole at F2 (q carries F2 x Ts), gain 1 at zero frequency.
        const double kz = k;
        const double kp = std::tan(std::numbers::pi * q);
        const double r = kp / kz;
        const double d = kp + 1.0;
        if (type == BQ_LEAD_LAG_1) {
            c = {r * (kz + 1.0) / d, r * (kz - 1.0) / d, 0.0, (kp - 1.0) / d, 0.0};
        } else {
            // The first-order section squared.
            const double zero0 = r * (kz + 1.0) / d;
            const double zero1 = r * (kz - 1.0) / d;
            const double pole = (kp - 1.0) / d;
            c = {zero0 * zero0, 2.0 * r * r * (kz * kz - 1.0) / (d * d), zero1 * zero1, 2.0 * pole,
                 pole * pole};
        }
        break;
    }
    default:
        break;
    }
    return c;
}

} // namespace

const char* BiquadLocationName(int location)
{
    switch (location) {
    case BQ_POSITION_CONTROLLER_OUTPUT:
        return "Position Controller Output";
    case BQ_SPEED_CONTROLLER_OUTPUT:
        return "Speed Controller Output";
    case BQ_SPEED_FEEDBACK:
        return "Speed Feedback";
    default:
        return "";
    }
}

CBiquadDesign::CBiquadDesign()
    : m_types{{{"Low Pass 1st order", true},
               {"Low Pass 2nd order", true},
               {"Notch", true},
               {"High Pass", true},
               {"Band Pass", true},
               {"Peak", false},
               {"Low Shelf", false},
               {"High Shelf", false},
               {"Lead-lag 1st order", true},
               {"Lead-lag 2nd order", true}}}
{
}

const char* CBiquadDesign::TypeName(int type) const
{
    return type >= 0 && type < kTypeCount ? m_types[type].name : "";
}

bool CBiquadDesign::IsAvailable(int type) const
{
    return type >= 0 && type < kTypeCount && m_types[type].available;
}

void CBiquadDesign::GetAvailableTypes(std::vector<std::string>& names, std::vector<int>& types) const
{
    names.clear();
    types.clear();
    for (int type = 0; type < kTypeCount; ++type) {
        if (!m_types[type].available)
            continue;
        names.emplace_back(m_types[type].name);
        types.push_back(type);
    }
}

bool CBiquadDesign::Design(int type, double f1Norm, double q, double gainDb)
{
    m_scaleFactor = 1.0;
    m_shift = 0;
    BiquadCoefficients c;
    const bool known = type >= 0 && type < kTypeCount;
    if (known)
        c = DesignCoefficients(type, f1Norm, q, gainDb);
    const bool usable = known && AllFinite(c);
    m_designed = usable ? c : BiquadCoefficients{};
    m_coefficients = m_designed;
    return usable;
}

void CBiquadDesign::Quantise()
{
    const double largest = Largest(m_designed);
    int shift = 0;
    if (largest == 1.0)
        shift = 1;
    else if (largest > 1.0)
        shift = static_cast<int>(std::ceil(std::log(largest) / std::log(2.0)));
    // A largest magnitude that is a power of two, or just below one, rounds to
    // 2^31 at the first choice: one more bit of scale keeps it within 32 bits.
    while (!QuantiseWithShift(shift))
        ++shift;
}

bool CBiquadDesign::QuantiseWithShift(int shift)
{
    m_shift = shift;
    m_scaleFactor = std::ldexp(1.0, shift);
    const double scale = kBiquadOne / m_scaleFactor;
    auto quantise = [scale](double value) { return std::floor(value * scale + 0.5); };
    m_coefficients = {quantise(m_designed.b0), quantise(m_designed.b1), quantise(m_designed.b2),
                      quantise(m_designed.a1), quantise(m_designed.a2)};
    const BiquadCoefficients& r = m_coefficients;
    return Fits(r.b0) && Fits(r.b1) && Fits(r.b2) && Fits(r.a1) && Fits(r.a2);
}

bool CBiquadDesign::ApplyCorrection()
{
    BiquadCoefficients& r = m_coefficients;
    // Unit gain at zero frequency: b0 + b1 + b2 - a1 - a2 = 2^31 / SF in register counts.
    if (std::trunc((r.b0 + r.b1 + r.b2 - r.a1 - r.a2) * m_scaleFactor) == kBiquadOne)
        return true;
    const double b0 = std::floor(kBiquadOne / m_scaleFactor - r.b1 - r.b2 + r.a1 + r.a2 + 0.5);
    if (!Fits(b0))
        return false;
    r.b0 = b0;
    return true;
}

void CBiquadDesign::CorrectZeroFrequencyGain(int type)
{
    if (!HasUnitDcGain(type))
        return;
    while (!ApplyCorrection())
        QuantiseWithShift(m_shift + 1);
}

int CBiquadDesign::ComputeFilter(CMC_Setup* setup, int n, int slot)
{
    const std::string typeName = FilterName("BQFilterType", n);
    const std::string qName = FilterName("BQFilterQ", n);
    const std::string f1Name = FilterName("BQFilterF1", n);
    CMC_Parameter *ts, *typeParameter, *qParameter, *f1;
    if (!FindParameters(setup, {{"Ts_S", &ts},
                                {typeName.c_str(), &typeParameter},
                                {qName.c_str(), &qParameter},
                                {f1Name.c_str(), &f1}}))
        return 0;
    const double period = ts->GetValueInBaseUnit();
    const int type = static_cast<int>(TruncRegister(typeParameter->GetValueInBaseUnit()));
    double q = qParameter->GetValueInBaseUnit();
    if (type == BQ_LEAD_LAG_1 || type == BQ_LEAD_LAG_2) {
        const std::string f2Name = FilterName("BQFilterF2", n);
        CMC_Parameter* f2;
        if (!FindParameters(setup, {{f2Name.c_str(), &f2}}))
            return 0;
        q = f2->GetValueInBaseUnit() * period;
    }

    std::array<CMC_Parameter*, 6> registers{};
    std::array<std::string, 6> registerNames;
    for (std::size_t i = 0; i < registers.size(); ++i) {
        registerNames[i] = SlotName(slot, kCoefficientNames[i]);
        if (!FindParameters(setup, {{registerNames[i].c_str(), &registers[i]}}))
            return 0;
    }

    Design(type, f1->GetValueInBaseUnit() * period, q, 0.0);
    Quantise();
    CorrectZeroFrequencyGain(type);

    const BiquadCoefficients& r = m_coefficients;
    const double values[] = {r.b0, r.b1, r.b2, r.a1, r.a2, m_scaleFactor};
    for (std::size_t i = 0; i < registers.size(); ++i)
        registers[i]->SetValueInBaseUnit(values[i]);
    return 1;
}

std::vector<BiquadSlot> AssignBiquadSlots(CMC_Setup* setup)
{
    std::vector<BiquadSlot> slots;
    int next = 1;
    for (int location = BQ_POSITION_CONTROLLER_OUTPUT; location <= BQ_SPEED_FEEDBACK; ++location) {
        for (int n = 1; n <= kBiquadSlots; ++n) {
            const std::string onName = FilterName("BQFilter", n);
            const std::string locationName = FilterName("BQFilterLocation", n);
            CMC_Parameter *on, *where;
            if (!FindParameters(setup, {{onName.c_str(), &on}, {locationName.c_str(), &where}}))
                continue;
            if (on->GetValueInBaseUnit() == 0.0 || TruncRegister(where->GetValueInBaseUnit()) != location)
                continue;
            slots.push_back({next++, n, location});
        }
    }
    return slots;
}

int ComputeAllFilters(CMC_Setup* setup)
{
    CBiquadDesign design;
    std::array<int, 3> counts{};
    const std::vector<BiquadSlot> slots = AssignBiquadSlots(setup);
    for (const BiquadSlot& used : slots) {
        design.ComputeFilter(setup, used.filter, used.slot);
        ++counts[used.location];
    }
    for (int slot = static_cast<int>(slots.size()) + 1; slot <= kBiquadSlots; ++slot)
        for (const char* coefficient : kCoefficientNames)
            setup->SetParameterValueInBaseUnit(SlotName(slot, coefficient), 0.0);
    int written = 1;
    for (int location = 0; location < 3; ++location)
        if (!setup->SetParameterValueInBaseUnit(kCountNames[location], counts[location]))
            written = 0;
    return written;
}

int WriteFiltersToDrive(CMC_Setup* setup)
{
    std::vector<std::string> names(std::begin(kCountNames), std::end(kCountNames));
    for (int slot = 1; slot <= kBiquadSlots; ++slot)
        for (const char* coefficient : kCoefficientNames)
            names.push_back(SlotName(slot, coefficient));
    int allWritten = 1;
    for (const std::string& name : names) {
        CMC_Parameter* p = FindQuietly(setup, name.c_str());
        if (p && !p->WriteToChip())
            allWritten = 0;
    }
    return allWritten;
}

BiquadCoefficients CoefficientsFromRegisters(const BiquadCoefficients& registers, double sf)
{
    const double scale = sf / kBiquadOne;
    return {registers.b0 * scale, registers.b1 * scale, registers.b2 * scale, registers.a1 * scale,
            registers.a2 * scale};
}

BiquadCoefficients SlotRegisters(const CMC_Setup* setup, int slot, double& sf)
{
    auto value = [setup, slot](const char* coefficient) {
        const CMC_Parameter* p = FindQuietly(setup, SlotName(slot, coefficient).c_str());
        return p ? p->GetValueInBaseUnit() : 0.0;
    };
    sf = value("SF");
    return {value("B0"), value("B1"), value("B2"), value("A1"), value("A2")};
}

std::complex<double> BiquadResponse(const BiquadCoefficients& c, double frequencyNorm)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequencyNorm); // z^-1
    const std::complex<double> z2 = z1 * z1;
    return (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 + c.a1 * z1 + c.a2 * z2);
}
