// The host's user interface, made when a command needs one.
#pragma once

class QApplication;

// Environment settings (platform, scale) must be in place before it is made.
QApplication& HostApplication();
// Headless unless the caller chose a platform, at a display scale (1: as
// is); before the application exists.
void UseHeadlessPlatform(double scale = 1.0);
