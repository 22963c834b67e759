// Pieces the identification and tuning programs share: their own
// over-current protection and registers they change for one run only.
#pragma once

#include "Firmware.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace program {

// A test program's over-current protection: the largest measured phase
// current above the level for a number of current-loop periods in a row.
class CurrentGuard {
public:
    // A level that is not a positive number leaves the guard off. [current units]
    void Arm(double level, int periods = 10)
    {
        m_level = std::isfinite(level) && level > 0.0 ? level : 0.0;
        m_periods = std::max(1, periods);
        m_count = 0;
        m_tripped = false;
    }
    // Once every current-loop period; true from the period it trips on.
    bool Check(const Firmware& fw)
    {
        if (m_tripped || m_level <= 0.0)
            return m_tripped;
        const double a = fw.CurrentA(), b = fw.CurrentB();
        const double peak = std::max({std::abs(a), std::abs(b), std::abs(a + b)});
        m_count = peak > m_level ? m_count + 1 : 0;
        m_tripped = m_count >= m_periods;
        return m_tripped;
    }
    bool Tripped() const { return m_tripped; }

private:
    double m_level = 0.0;
    int m_periods = 10;
    int m_count = 0;
    bool m_tripped = false;
};

// Registers a program sets for its run and puts back at its end.
class RegisterOverrides {
public:
    void Set(Firmware& fw, const std::string& name, double value)
    {
        const bool known = std::any_of(m_saved.begin(), m_saved.end(),
                                       [&](const auto& saved) { return saved.first == name; });
        if (!known)
            m_saved.emplace_back(name, fw.Register(name));
        fw.SetRegister(name, value);
    }
    void Restore(Firmware& fw)
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            fw.SetRegister(it->first, it->second);
        m_saved.clear();
    }

private:
    std::vector<std::pair<std::string, double>> m_saved;
};

} // namespace program
