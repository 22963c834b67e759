#include "BiquadSlots.h"

#include <algorithm>

BiquadCoefficients BiquadCoefficients::FromRegisters(const std::array<double, 6>& r)
{
    const double scale = r[5] / 2147483648.0;
    return {r[0] * scale, r[1] * scale, r[2] * scale, r[3] * scale, r[4] * scale};
}

void BiquadSlots::Configure(const std::array<BiquadCoefficients, 3>& slots, const std::array<int, 3>& counts)
{
    std::array<int, 3> first{}, used{};
    int next = 0;
    for (std::size_t location = 0; location < 3; ++location) {
        const int count = std::clamp(counts[location], 0, 3 - next);
        first[location] = next;
        used[location] = count;
        next += count;
    }
    // Unchanged filters keep their memories (other registers change live).
    if (first == m_first && used == m_count && slots == m_slots)
        return;
    m_slots = slots;
    m_first = first;
    m_count = used;
    Reset();
}

double BiquadSlots::Filter(Location location, double x)
{
    const int first = m_first[location];
    for (int k = first; k < first + m_count[location]; ++k) {
        const BiquadCoefficients& c = m_slots[static_cast<std::size_t>(k)];
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
