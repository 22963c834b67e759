// The module's entry points, exported with C linkage under these names. The
// host calls them on its user interface thread with a setup it owns; the
// module keeps no pointer to it beyond the call. No exception leaves them.
#pragma once

class CMC_Setup;

#define VELMARO_EXPORT __attribute__((visibility("default")))

extern "C" {

// Runs the setup editor (the Drive Setup dialog) modally over the setup and
// returns 1 when the user ended it with OK, else 0. Needs the host's Qt
// application; edits are stored into the setup as the user makes them.
VELMARO_EXPORT int EditSetup(CMC_Setup* setup);

// Brings every derived value up to date: the parameters from the registers,
// then the parameter limits, the closed-loop options and the load-side units.
// A null setup is left alone.
VELMARO_EXPORT void ComputeAllOptions(CMC_Setup* setup);

// Value in the unit = (internal value + offset) x factor. Unit and variable
// names are compared ignoring case; null or unknown names give factor 1 and
// offset 0. A missing setup parameter reads 0, so its factor may be infinite.
// Should the computation fail, the failure is reported and 1 (0) returned.
VELMARO_EXPORT double GetScaleFactor(CMC_Setup* setup, const char* unitName, const char* name);
VELMARO_EXPORT double GetScaleOffset(CMC_Setup* setup, const char* unitName);

// Read by the host; always 0.
VELMARO_EXPORT extern int g_bKufSinusoidalMode;
}
