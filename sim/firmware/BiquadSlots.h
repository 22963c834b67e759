// The drive's three biquad slots: the filters of the position controller's
// output, the speed controller's output and the speed feedback, in this order
// of slots. A slot's registers hold each coefficient divided by the scale SF
// and multiplied by 2^31; the filter is
// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2].
#pragma once

#include <array>

struct SlotCoefficients {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    // From the registers of a slot (B0, B1, B2, A1, A2, SF).
    static SlotCoefficients FromRegisters(const std::array<double, 6>& registers);
    bool operator==(const SlotCoefficients&) const = default;
};

class BiquadSlots {
public:
    enum Location { SpeedReference = 0, CurrentReference = 1, SpeedFeedback = 2 };

    // The slots' coefficients and the number of slots each location uses
    // ("SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"); counts beyond the
    // three slots are cut. A slot that keeps its location keeps its memory.
    void Configure(const std::array<SlotCoefficients, 3>& slots, const std::array<int, 3>& counts);
    // Runs a value through the slots of a location (unchanged when it has none).
    double Filter(Location location, double x);
    // Clears the filters' memories.
    void Reset();
    int Count(Location location) const { return m_count[location]; }

private:
    // The location each slot serves, -1 for an unused slot.
    std::array<int, 3> SlotLocations() const;

    struct State {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };
    std::array<SlotCoefficients, 3> m_slots{};
    std::array<State, 3> m_state{};
    std::array<int, 3> m_first{};
    std::array<int, 3> m_count{};
};
