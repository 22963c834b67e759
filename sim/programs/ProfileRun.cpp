#include "ProfileRun.h"

#include "ProgramHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

using namespace program;

namespace {

constexpr double kSettleTime = 0.1; // [s] after the profile, at least
constexpr double kRunLimit = 10.0;  // [s] after the profile, at most
constexpr double kMaxCount = 32767.0;

} // namespace

void ProfileRun::Start(Firmware& fw)
{
    SegmentTable table;
    for (std::size_t i = 0; i < 6; ++i) {
        const double count = User("a" + std::to_string(i));
        const double increment = User("b" + std::to_string(i));
        if (!(std::isfinite(count) && count >= 0.0 && count <= kMaxCount && std::isfinite(increment))) {
            FinishNoResult(fw);
            return;
        }
        table.count[i] = static_cast<std::int32_t>(std::lround(count));
        table.increment[i] = increment;
    }
    m_repeat = User("MultiC") != 0.0;
    SetUser("test_flag", 1.0);
    m_guard.Arm(User("Imax_Prot_Test"));
    if (!SwitchOn(fw))
        return;
    SetLimits(fw, m_registers);
    fw.UseSensorAngle();
    fw.StartProfile(table, Target(), m_repeat);
}

void ProfileRun::FastStep(Firmware& fw)
{
    if (m_guard.Check(fw))
        fw.SetCurrent(0.0);
}

void ProfileRun::Step(Firmware& fw)
{
    if (m_guard.Tripped()) {
        SetUser("test_flag", 0.0);
        End(fw);
        return;
    }
    if (fw.ProfileRunning())
        return;
    ++m_afterProfile;
    if (m_afterProfile >= Ticks(fw, kSettleTime) && (fw.LogFull() || m_afterProfile >= Ticks(fw, kRunLimit)))
        End(fw);
}

void ProfileRun::OnProtection(Firmware& fw)
{
    m_registers.Restore(fw);
    FinishNoResult(fw);
}

void ProfileRun::OnStop(Firmware& fw)
{
    End(fw);
}

void ProfileRun::End(Firmware& fw)
{
    m_registers.Restore(fw);
    Finish(fw);
}

double ProfileRun::LimitInput(const char* name) const
{
    const double value = User(name);
    return std::isfinite(value) && value > 0.0 ? std::min(value, kCommandLimit) : 0.0;
}

void ProfileRun::SetCascade(Firmware& fw, RegisterOverrides& registers, bool cascade)
{
    const auto acr = static_cast<std::int64_t>(fw.Register("ACR"));
    const std::int64_t bit = std::int64_t{1} << 9;
    const std::int64_t wanted = cascade ? (acr | bit) : (acr & ~bit);
    if (wanted != acr)
        registers.Set(fw, "ACR", static_cast<double>(wanted));
}
