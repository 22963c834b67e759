// A small help viewer: opens "<folder>/<topic>.html" in a window of its own.
#pragma once

#include <QString>

void ShowHelpPage(const QString& folder, unsigned topic);
