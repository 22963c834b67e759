// The six-segment reference profile: the speed or position reference it
// advances every speed-loop period.
#include "Firmware.h"

void Firmware::StartProfile(const SegmentTable& table, ProfileTarget target, bool repeat)
{
    m_profile.table = table;
    m_profile.target = target;
    m_profile.repeat = repeat;
    bool any = false;
    for (std::int32_t count : table.count)
        any = any || count > 0;
    m_profile.running = any;
    m_profile.segment = 0;
    m_profile.left = table.count[0];
    if (target == ProfileTarget::Position)
        ZeroPosition();
    m_profile.value = 0.0;
    m_profile.lastIncrement = 0.0;
    if (target == ProfileTarget::Position)
        SetPositionReference(m_profile.value);
    else
        SetSpeedReference(0.0);
}

// The position counter restarts from 0 where the shaft stands, as a
// position test's program sets it: its target and the host's trigger are
// then counted from the start of the motion.
void Firmware::ZeroPosition()
{
    const double shift = m_position;
    m_hallUnwrapped -= shift * static_cast<double>(1 << m_p.dbtth);
    m_position -= shift;
    m_lastPosition -= shift;
    m_posRef -= shift;
}

void Firmware::AdvanceProfile()
{
    Profile& pr = m_profile;
    if (!pr.running)
        return;
    while (pr.left <= 0) {
        if (++pr.segment >= 6) {
            if (!pr.repeat) {
                pr.running = false;
                if (pr.target == ProfileTarget::Speed)
                    SetSpeedReference(pr.value);
                else
                    SetPositionReference(pr.value);
                return;
            }
            pr.segment = 0;
        }
        pr.left = pr.table.count[static_cast<std::size_t>(pr.segment)];
    }
    const double increment = pr.table.increment[static_cast<std::size_t>(pr.segment)];
    pr.value += increment;
    --pr.left;
    const double acceleration = increment - pr.lastIncrement;
    pr.lastIncrement = increment;
    if (pr.target == ProfileTarget::Speed)
        SetSpeedReference(pr.value, increment);
    else
        SetPositionReference(pr.value, increment, acceleration);
}
