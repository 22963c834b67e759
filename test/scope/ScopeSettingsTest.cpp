// The scope settings as text: written and read again exactly, and every kind
// of damage refused without touching the settings read into.
#include "ScopeSettings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ScopeSettings Sample()
{
    ScopeSettings settings;
    settings.timeSpan = 0.30000000000000004;
    settings.triggerMode = ScopeSettings::TriggerNormal;
    settings.triggerSlope = ScopeSettings::SlopeFalling;
    settings.triggerVariable = "Speed_Reference";
    settings.triggerLevel = -41.887902047863909;
    settings.preTrigger = 12;
    settings.channels = {{"Speed_Reference", "rpm", 100.0, -400.0}, {"Odd;name,=%", "°C", 0.1, 1e-300}};
    settings.gridColor = 0xFFC00000u;
    settings.marks = {-4.2, -3.5};
    settings.curves = {CXYCurve(1, 0, 1, 2, 0xFF008000u), CXYCurve(2, 0, 2, 3, 0x80000080u)};
    return settings;
}

TEST(ScopeSettingsText, WrittenAndReadAgainGivesTheSameSettingsAndTheSameText)
{
    const ScopeSettings settings = Sample();
    const std::string text = FormatScopeSettings(settings);
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one line, for a setup option";
    EXPECT_NE(text.find("Odd%3Bname%2C%3D%25"), std::string::npos) << text;

    ScopeSettings read;
    std::string error;
    ASSERT_TRUE(ParseScopeSettings(text + "\n", read, error)) << error;
    EXPECT_EQ(read, settings);
    EXPECT_EQ(FormatScopeSettings(read), text);
}

TEST(ScopeSettingsText, DamagedTextsAreRefusedWithTheirProblemAndChangeNothing)
{
    const std::string good = FormatScopeSettings(Sample());
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        std::string text;
        std::string problem;
    } damaged[] = {
        {"", "not scope settings"},
        {"hello", "not scope settings"},
        {replaced("velmaro-scope=1", "velmaro-scope=2"), "version 2"},
        {good.substr(0, good.find(";channel")), "no channel"},
        {good.substr(0, good.rfind(',')), "curve 2 has 4 values"},
        {replaced("span=0.30000000000000004", "span=-1"), "time span"},
        {replaced("span=0.30000000000000004", "span=nan"), "time span is not a number"},
        {replaced("span=0.30000000000000004", "span=0.3;span=0.3"), "appears twice"},
        {replaced(";span=0.30000000000000004", ""), "no time span"},
        {replaced("trigger=2,0", "trigger=3,0"), "trigger mode 3"},
        {replaced("trigger=2,0", "trigger=2,7"), "slope 7"},
        {replaced(",12;grid", ",101;grid"), "pre-trigger 101"},
        {replaced("trigger=2,0,Speed_Reference", "trigger=2,0,Load_Speed"), "\"Load_Speed\" is not logged"},
        {replaced("Odd", "Speed_Reference%"), "channel 2 is damaged"},
        {replaced("Odd%3Bname%2C%3D%25", "speed_reference"), "a second time"},
        {replaced(",100,-400", ",-100,-400"), "division"},
        {replaced(",100,-400", ",100"), "channel 1 has 3 values"},
        {replaced("curve=1,0,1", "curve=1,0,3"), "column"},
        {replaced("curve=1,0,1", "curve=5,0,1"), "axis"},
        {replaced("grid=ffc00000", "grid=red"), "grid is damaged"},
        {good + ";zoom=2", "unknown field \"zoom\""},
        {good + ";", "has no value"},
    };
    for (const auto& [text, problem] : damaged) {
        ScopeSettings read = Sample();
        read.timeSpan = 7.0;
        std::string error;
        EXPECT_FALSE(ParseScopeSettings(text, read, error)) << text;
        EXPECT_NE(error.find(problem), std::string::npos) << text << "\n" << error;
        EXPECT_EQ(read.timeSpan, 7.0) << "untouched: " << text;
    }
}

} // namespace
