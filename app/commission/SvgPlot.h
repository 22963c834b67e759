// A trace as an SVG line plot that needs nothing beside it (no style sheet,
// font or script), so it reads the same inlined in a page and on its own.
#pragma once

#include "CommissionResult.h"

#include <string>
#include <string_view>

// About 640 by 320 px: the title, a legend naming the curves, axes with 1-2-5
// ticks over a light grid and one polyline per y column. A point missing from
// its row or not finite breaks the line; a long trace is drawn from the
// minimum and maximum of each of its buckets, so a peak stays visible. A
// trace without a point to draw gives a plot saying "no data".
std::string SvgPlot(const Trace& trace);

// The text with & < > " escaped, for XML and HTML alike.
std::string EscapeMarkup(std::string_view text);
