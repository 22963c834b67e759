// Where the samples of a scope go on its screen: a screen of `points`
// places that sweeps from the left (index 0) to the right.
//   Auto: every sample goes to the next place, round and round.
//   Normal: the sweep waits for the trigger variable to cross the level with
//     the slope; the crossing sample goes to place `preTrigger`, the samples
//     just before it to the places before, the following ones after it up to
//     the right edge; then it waits for the next crossing.
//   Single: as normal, but the screen stops after its first full sweep.
// Without a trigger variable a normal or single sweep starts at once.
// A stop request stops the screen at the end of the sweep under way (at
// once when none is); the screen then takes no more samples.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <vector>

class ScopeSweep {
public:
    struct Trigger {
        int mode = 1; // ScopeSettings::TriggerMode
        bool rising = true;
        int column = -1;    // the trigger variable's place in a sample; -1: none
        double level = 0.0; // in the sample's units
        int preTrigger = 0; // places before the crossing
    };
    // Puts one sample at a place of the screen.
    using Writer = std::function<void(int index, const std::vector<double>& sample)>;

    // An empty screen of that many places, waiting for samples.
    void Arm(int points, const Trigger& trigger);
    // Takes the next sample; false when the screen takes none (not armed, or stopped).
    bool Take(const std::vector<double>& sample, const Writer& write);
    // The samples before this one went missing: the sweep under way starts
    // again (auto: from the left edge; normal and single: waiting for a
    // crossing, of which the missing samples may not be part).
    void Restart();

    void RequestStop();
    bool IsStopped() const { return m_state == State::Stopped; }

    // The places written since the last call: the first, and how many
    // follow it (wrapping at the right edge); 0 when none.
    void TakeChanged(int& first, int& count);

private:
    enum class State { Idle, Waiting, Sweeping, Stopped };

    void BeginSweep();
    void WaitForTrigger(const std::vector<double>& sample, bool triggered, const Writer& write);
    bool IsCrossing(double value) const;
    void Put(int index, const std::vector<double>& sample, const Writer& write);
    void EndOfSweep();
    void MarkChanged(int index);

    int m_points = 0;
    Trigger m_trigger;
    State m_state = State::Idle;
    bool m_stopRequested = false;
    int m_next = 0;                            // the place of the next sample while sweeping
    std::deque<std::vector<double>> m_history; // the latest samples while waiting
    bool m_hasPrevious = false;
    double m_previous = 0.0; // the trigger variable in the sample before
    int m_changedFirst = 0;
    int m_changedCount = 0;
};
