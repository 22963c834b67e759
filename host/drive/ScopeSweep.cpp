#include "ScopeSweep.h"

#include "ScopeSettings.h"

#include <algorithm>

void ScopeSweep::Arm(int points, const Trigger& trigger)
{
    m_points = std::max(points, 1);
    m_trigger = trigger;
    m_trigger.preTrigger = std::clamp(trigger.preTrigger, 0, m_points - 1);
    if (m_trigger.column < 0)
        m_trigger.preTrigger = 0;
    m_stopRequested = false;
    m_changedFirst = m_changedCount = 0;
    BeginSweep();
}

void ScopeSweep::BeginSweep()
{
    m_history.clear();
    m_hasPrevious = false;
    m_next = 0;
    m_state = m_trigger.mode == ScopeSettings::TriggerAuto ? State::Sweeping : State::Waiting;
}

void ScopeSweep::Restart()
{
    if (m_state == State::Waiting || m_state == State::Sweeping)
        BeginSweep();
}

bool ScopeSweep::Take(const std::vector<double>& sample, const Writer& write)
{
    if (m_state == State::Idle || m_state == State::Stopped)
        return false;
    const auto column = static_cast<std::size_t>(m_trigger.column);
    const bool hasSource = m_trigger.column >= 0 && column < sample.size();
    const double value = hasSource ? sample[column] : 0.0;
    if (m_state == State::Waiting)
        WaitForTrigger(sample, m_trigger.column < 0 || (hasSource && IsCrossing(value)), write);
    else
        Put(m_next++, sample, write);
    if (m_state == State::Sweeping && m_next >= m_points)
        EndOfSweep();
    m_hasPrevious = hasSource;
    m_previous = value;
    return true;
}

void ScopeSweep::WaitForTrigger(const std::vector<double>& sample, bool triggered, const Writer& write)
{
    if (!triggered) {
        if (m_trigger.preTrigger == 0)
            return;
        m_history.push_back(sample);
        if (static_cast<int>(m_history.size()) > m_trigger.preTrigger)
            m_history.pop_front();
        return;
    }
    const int before = static_cast<int>(m_history.size());
    for (int i = 0; i < before; ++i)
        Put(m_trigger.preTrigger - before + i, m_history[static_cast<std::size_t>(i)], write);
    m_history.clear();
    Put(m_trigger.preTrigger, sample, write);
    m_next = m_trigger.preTrigger + 1;
    m_state = State::Sweeping;
}

bool ScopeSweep::IsCrossing(double value) const
{
    if (!m_hasPrevious)
        return false;
    const double level = m_trigger.level;
    return m_trigger.rising ? m_previous < level && value >= level : m_previous > level && value <= level;
}

void ScopeSweep::Put(int index, const std::vector<double>& sample, const Writer& write)
{
    write(index, sample);
    MarkChanged(index);
}

void ScopeSweep::EndOfSweep()
{
    m_next = 0;
    if (m_stopRequested || m_trigger.mode == ScopeSettings::TriggerSingle) {
        m_state = State::Stopped;
        return;
    }
    if (m_trigger.mode == ScopeSettings::TriggerNormal)
        m_state = State::Waiting;
}

void ScopeSweep::RequestStop()
{
    if (m_state == State::Idle)
        return;
    const bool underWay = m_state == State::Sweeping && m_next > 0;
    if (underWay)
        m_stopRequested = true;
    else
        m_state = State::Stopped;
}

void ScopeSweep::MarkChanged(int index)
{
    if (m_changedCount == 0) {
        m_changedFirst = index;
        m_changedCount = 1;
        return;
    }
    const int reach = (index - m_changedFirst + m_points) % m_points + 1;
    m_changedCount = std::min(std::max(m_changedCount, reach), m_points);
}

void ScopeSweep::TakeChanged(int& first, int& count)
{
    first = m_changedFirst;
    count = m_changedCount;
    m_changedFirst = m_changedCount = 0;
}
