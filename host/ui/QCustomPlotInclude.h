// QCustomPlot's header uses the Qt keywords and foreach, which this build
// turns off; they are lent to it for the include only.
#pragma once

#define signals Q_SIGNALS
#define foreach(variable, container) for (variable : container)
#include <qcustomplot.h>
#undef foreach
#undef signals
