#include "BiquadSlots.h"

#include <algorithm>

SlotCoefficients SlotCoefficients::FromRegisters(const std::array<double, 6>& r)
{
    const double scale = r[5] / 2147483648.0;
    return {r[0] * scale, r[1] * scale, r[2] * scale, r[3] * scale, r[4] * scale};
}

void BiquadSlots::Configure(const std::array<SlotCoefficients, 3>& slots, const std::array<int, 3>& counts)
{
    const std::array<int, 3> before = SlotLocations();
    int next = 0;
    for (std::size_t location = 0; location < 3; ++location) {
        m_first[location] = next;
        m_count[location] = std::clamp(counts[location], 0, 3 - next);
        next += m_count[location];
    }
    m_slots = slots;
    // New coefficients act on the memories of the signal the slot filters,
    // as they do on the drive; a slot that now filters another signal, or
    // none, starts from rest.
    const std::array<int, 3> after = SlotLocations();
    for (std::size_t k = 0; k < 3; ++k)
        if (after[k] != before[k])
            m_state[k] = {};
}

std::array<int, 3> BiquadSlots::SlotLocations() const
{
    std::array<int, 3> locations = {-1, -1, -1};
    for (int location = 0; location < 3; ++location)
        for (int k = m_first[location]; k < m_first[location] + m_count[location]; ++k)
            locations[static_cast<std::size_t>(k)] = location;
    return locations;
}

double BiquadSlots::Filter(Location location, double x)
{
    const int first = m_first[location];
    for (int k = first; k < first + m_count[location]; ++k) {
        const SlotCoefficients& c = m_slots[static_cast<std::size_t>(k)];
        State& s = m_state[static_cast<std::size_t>(k)];
        const double y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2;
        s.x2 = s.x1;
        s.x1 = x;
        s.y2 = s.y1;
        s.y1 = y;
        x = y;
    }
    return x;
}

void BiquadSlots::Reset()
{
    m_state = {};
}
