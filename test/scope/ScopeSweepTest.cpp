// The scope's screen beyond what the logger's tests show: the places
// reported as changed, a falling crossing with a short history, a sweep
// without a trigger variable, and what a gap does to a crossing.
#include "ScopeSweep.h"
#include "ScopeSettings.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// A screen of a few places; each sample is one value, the trigger looks at it.
class Screen {
public:
    explicit Screen(int points, ScopeSweep::Trigger trigger) : m_points(points)
    {
        sweep.Arm(points, trigger);
    }

    // Feeds the values in turn; how many the sweep took.
    int Feed(const std::vector<double>& values)
    {
        int taken = 0;
        for (double value : values)
            taken += sweep.Take({value},
                                [this](int index, const std::vector<double>& sample) {
                                    ASSERT_GE(index, 0);
                                    ASSERT_LT(index, m_points);
                                    places[index] = sample[0];
                                })
                         ? 1
                         : 0;
        return taken;
    }
    std::pair<int, int> Changed()
    {
        int first = -1, count = -1;
        sweep.TakeChanged(first, count);
        return {first, count};
    }

    ScopeSweep sweep;
    std::map<int, double> places;

private:
    int m_points;
};

ScopeSweep::Trigger Triggered(int mode, bool rising, double level, int preTrigger)
{
    return {mode, rising, 0, level, preTrigger};
}

TEST(ScopeSweep, AutoRunsRoundAndRoundAndReportsTheChangedPlacesInOrder)
{
    Screen screen(4, {ScopeSettings::TriggerAuto});
    EXPECT_EQ(screen.Changed().second, 0) << "nothing written yet";
    EXPECT_EQ(screen.Feed({1, 2, 3}), 3);
    EXPECT_EQ(screen.Changed(), std::make_pair(0, 3));
    EXPECT_EQ(screen.Feed({4, 5}), 2); // the fifth sample goes back to the left edge
    EXPECT_EQ(screen.places, (std::map<int, double>{{0, 5}, {1, 2}, {2, 3}, {3, 4}}));
    EXPECT_EQ(screen.Changed(), std::make_pair(3, 2)) << "place 3, then place 0";
    EXPECT_EQ(screen.Feed({6, 7, 8, 9, 10, 11}), 6);
    EXPECT_EQ(screen.Changed().second, 4) << "more than a screen: all of it, once";
    EXPECT_FALSE(screen.sweep.IsStopped());
}

TEST(ScopeSweep, FallingCrossingAndAShortHistoryLeaveTheLeftPlacesAlone)
{
    Screen screen(6, Triggered(ScopeSettings::TriggerNormal, false, 0.0, 3));
    screen.Feed({5, -1});
    EXPECT_EQ(screen.places, (std::map<int, double>{{2, 5}, {3, -1}})) << "one sample before, at place 2";
    EXPECT_EQ(screen.Changed(), std::make_pair(2, 2));
}

TEST(ScopeSweep, WithoutATriggerVariableATriggeredSweepStartsAtOnce)
{
    Screen screen(2, {ScopeSettings::TriggerSingle, true, -1, 0.0, 50});
    EXPECT_EQ(screen.Feed({7, 8, 9}), 2);
    EXPECT_EQ(screen.places, (std::map<int, double>{{0, 7}, {1, 8}})) << "no pre-trigger without a trigger";
    EXPECT_TRUE(screen.sweep.IsStopped());
}

TEST(ScopeSweep, AGapStartsTheSweepAgainAndACrossingCannotSpanIt)
{
    Screen autoScreen(4, {ScopeSettings::TriggerAuto});
    autoScreen.Feed({1, 2});
    autoScreen.sweep.Restart();
    autoScreen.Feed({3});
    EXPECT_EQ(autoScreen.places[0], 3.0) << "from the left edge again";

    Screen screen(4, Triggered(ScopeSettings::TriggerNormal, true, 10.0, 1));
    screen.Feed({5});
    screen.sweep.Restart();
    screen.Feed({15});
    EXPECT_TRUE(screen.places.empty()) << "5 before the gap and 15 after it are no crossing";
    screen.Feed({20, 9, 11});
    EXPECT_EQ(screen.places, (std::map<int, double>{{0, 9}, {1, 11}}));
    screen.sweep.Restart();
    screen.Feed({12, 13});
    EXPECT_EQ(screen.places.size(), 2u) << "the sweep under way waits for a new crossing";
}

} // namespace
