// A small help viewer: opens "<folder>/<topic>.html" in a window of its own
// and follows links only to the pages of that folder.
#pragma once

#include <QString>

void ShowHelpPage(const QString& folder, unsigned topic);
