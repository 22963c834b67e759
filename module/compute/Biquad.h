// The drive's three biquad filters: design from engineering values, the
// fixed-point coefficient registers, the packing of the enabled filters into
// the drive's slots, and sending the registers to the drive.
//
// The drive filters y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2]
// at the speed-loop rate. Each coefficient register holds the coefficient / SF
// x 2^31, rounded, in a signed 32-bit word; SF = 2^f is chosen per filter.
//
// Filter n (1 to 3) is described by "BQFilter<n>" (on when not 0),
// "BQFilterType<n>", "BQFilterF1<n>" and "BQFilterF2<n>" [Hz], "BQFilterQ<n>"
// and "BQFilterLocation<n>"; slot k (1 to 3) by the registers "BQ<k>B0", "BQ<k>B1",
// "BQ<k>B2", "BQ<k>A1", "BQ<k>A2" and "BQ<k>SF". The slot counts per location are
// "SPDREF_BQ_INI", "IQREF_BQ_INI" and "ASPD_BQ_INI".
//
// No Qt; runs on the user interface thread.
#pragma once

#include <array>
#include <complex>
#include <string>
#include <vector>

class CMC_Setup;

enum BiquadType {
    BQ_LOW_PASS_1 = 0,
    BQ_LOW_PASS_2 = 1,
    BQ_NOTCH = 2,
    BQ_HIGH_PASS = 3,
    BQ_BAND_PASS = 4,
    BQ_PEAK = 5,
    BQ_LOW_SHELF = 6,
    BQ_HIGH_SHELF = 7,
    BQ_LEAD_LAG_1 = 8,
    BQ_LEAD_LAG_2 = 9,
};

// Where in the loop a filter sits; the slots are filled in this order.
enum BiquadLocation {
    BQ_POSITION_CONTROLLER_OUTPUT = 0, // the speed reference
    BQ_SPEED_CONTROLLER_OUTPUT = 1,    // the current reference
    BQ_SPEED_FEEDBACK = 2,
};

inline constexpr int kBiquadSlots = 3;
inline constexpr double kBiquadOne = 2147483648.0; // 2^31, the register value of SF

// The location as the Filters dialog names it ("" outside 0 to 2).
const char* BiquadLocationName(int location);

struct BiquadCoefficients {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

class CBiquadDesign {
public:
    static constexpr int kTypeCount = 10;

    CBiquadDesign();

    // The type's display name ("" outside 0 to 9) and whether the user may choose it.
    const char* TypeName(int type) const;
    bool IsAvailable(int type) const;
    // Clears both lists, then appends the name and the number of every available type, in type order.
    void GetAvailableTypes(std::vector<std::string>& names, std::vector<int>& types) const;

    // Designs the filter by the bilinear transform with prewarping. f1Norm is
    // the first frequency x the sampling period; q the quality factor, or, for
    // the lead-lags, the second frequency x the sampling period; gainDb the
    // gain of the peak and shelf types. A type outside 0 to 9, or a design
    // whose coefficients are not finite (a zero frequency or Q), gives a
    // filter that passes the signal unchanged and returns false.
    bool Design(int type, double f1Norm, double q, double gainDb);
    // Chooses SF and turns the coefficients into register values in place.
    // SF is the smallest power of two (from 1, and at least 2 when the largest
    // magnitude is 1) for which every register fits a signed 32-bit word.
    void Quantise();
    // Moves b0 so that the quantised filter has a gain of exactly 1 at zero
    // frequency. High pass and band pass are left alone: their gain there is 0.
    // When the moved b0 would not fit 32 bits, quantises again with the next
    // scale factor and corrects that. Call after Quantise.
    void CorrectZeroFrequencyGain(int type);

    // Designs filter n from the setup and writes its registers into the slot.
    // Returns 0, writing nothing, when a parameter is missing.
    int ComputeFilter(CMC_Setup* setup, int n, int slot);

    // The designed coefficients, or the register values after Quantise.
    const BiquadCoefficients& Coefficients() const { return m_coefficients; }
    double ScaleFactor() const { return m_scaleFactor; }

private:
    struct TypeEntry {
        const char* name;
        bool available;
    };

    bool QuantiseWithShift(int shift); // false when a register would not fit
    bool ApplyCorrection();            // false when b0 would not fit

    std::array<TypeEntry, kTypeCount> m_types;
    BiquadCoefficients m_coefficients;
    BiquadCoefficients m_designed; // kept to quantise again with a larger SF
    double m_scaleFactor = 1.0;
    int m_shift = 0;
};

// Which filter each used slot holds, in slot order.
struct BiquadSlot {
    int slot;     // 1 to 3
    int filter;   // n of the filter's parameters, 1 to 3
    int location; // BiquadLocation
};
// Filters that are on fill the slots by location (position controller output,
// speed controller output, speed feedback), each location in filter order. A
// filter with another location takes no slot.
std::vector<BiquadSlot> AssignBiquadSlots(CMC_Setup* setup);

// Designs every filter that is on into its slot, zeroes the unused slots and
// writes the three slot counts. Returns 1, or 0 when a slot count is missing.
int ComputeAllFilters(CMC_Setup* setup);

// Sends the slot counts and then the registers of slots 1 to 3 to the drive,
// each that the setup has (the others are skipped quietly). Every write is
// tried; returns 1 when all succeeded, 0 when one failed (the link's reason is
// in GetLastErrorText).
int WriteFiltersToDrive(CMC_Setup* setup);

// The coefficients that a slot's registers stand for: register x SF / 2^31.
BiquadCoefficients CoefficientsFromRegisters(const BiquadCoefficients& registers, double sf);
// The registers of a slot as the setup holds them, and its SF (0 for a missing name).
BiquadCoefficients SlotRegisters(const CMC_Setup* setup, int slot, double& sf);
// The filter's response at a frequency given as a fraction of the sampling rate.
std::complex<double> BiquadResponse(const BiquadCoefficients& c, double frequencyNorm);
