// The settings of the scope logger (ScopeLogger.h): time span, trigger, each
// channel's vertical scale and the scope graph's look, and their text form.
//
// The text is one line of fields separated by ';', each "key=value", the
// values of a field separated by ',':
//
//   velmaro-scope=1;span=0.1;trigger=4,1,Speed_Reference,41.8879,12;
//   grid=ffc00000,-4.2,-3.5;channel=Speed_Reference,rpm,100,0;...;curve=1,0,1,2,ff008000;...
//
// trigger = mode, slope, variable (empty: none), level, pre-trigger;
// grid = colour (hex AARRGGBB) and the two marks; channel = variable, unit,
// division, offset; curve = axis, x column, y column, line attribute,
// colour. Names are written with '%', ',', ';', '=' and control characters
// as %XX. Numbers are written shortest-exact, so a text read and written
// again is the same text.
#pragma once

#include "GraphDocument.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ScopeChannel {
    std::string variable;
    std::string unit;      // a display unit of the variable's unit type ("" when it has none)
    double division = 0.0; // [unit per division]; 0: not set yet
    double offset = 0.0;   // [unit] the value drawn on the screen's centre line

    bool operator==(const ScopeChannel&) const = default;
};

struct ScopeSettings {
    enum TriggerMode { TriggerAuto = 1, TriggerNormal = 2, TriggerSingle = 4 };
    enum TriggerSlope { SlopeFalling = 0, SlopeRising = 1 };

    double timeSpan = 0.1; // [s] across the screen
    int triggerMode = TriggerAuto;
    int triggerSlope = SlopeRising;
    std::string triggerVariable; // one of the channels' variables; empty: none
    double triggerLevel = 0.0;   // [base unit of the trigger variable]
    int preTrigger = 0;          // [% of the screen before the trigger]
    std::vector<ScopeChannel> channels;
    // The scope graph: the grid colour (0xAARRGGBB), its two marks and the curves.
    std::uint32_t gridColor = 0xFF000000u;
    std::array<double, 2> marks{0.0, 0.0};
    std::vector<CXYCurve> curves;

    bool operator==(const ScopeSettings&) const = default;
};

// Empty when the settings are sound by themselves (what the setup says of the
// variables and units is checked by the logger); else the first problem.
std::string ScopeSettingsProblem(const ScopeSettings& settings);

std::string FormatScopeSettings(const ScopeSettings& settings);
// Reads a text written by FormatScopeSettings. A damaged text, another
// version or settings with a problem are refused: false, the reason in
// error, and settings untouched.
bool ParseScopeSettings(std::string_view text, ScopeSettings& settings, std::string& error);
