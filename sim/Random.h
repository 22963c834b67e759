// A small, fast, seeded random source with the same sequence on every
// platform (the standard distributions are not portable bit for bit).
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

class Random {
public:
    explicit Random(std::uint64_t seed = 1) { Seed(seed); }

    void Seed(std::uint64_t seed)
    {
        // splitmix64 spreads the seed over the state
        for (auto& word : m_state) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    // xoshiro256**
    std::uint64_t Next()
    {
        const std::uint64_t result = Rotl(m_state[1] * 5, 7) * 9;
        const std::uint64_t t = m_state[1] << 17;
        m_state[2] ^= m_state[0];
        m_state[3] ^= m_state[1];
        m_state[1] ^= m_state[2];
        m_state[0] ^= m_state[3];
        m_state[2] ^= t;
        m_state[3] = Rotl(m_state[3], 45);
        return result;
    }

    // Uniform in (0, 1).
    double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53; }

    // Zero mean, unit variance, bell-shaped and bounded to +-3.46 (the sum of
    // four uniform numbers): cheap enough for every converter sample.
    double Normal()
    {
        constexpr double kScale = std::numbers::sqrt3 * 0x1.0p-53;
        const double sum = static_cast<double>(Next() >> 11) + static_cast<double>(Next() >> 11) +
                           static_cast<double>(Next() >> 11) + static_cast<double>(Next() >> 11);
        return sum * kScale - 2.0 * std::numbers::sqrt3;
    }

private:
    static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    std::uint64_t m_state[4]{};
};
