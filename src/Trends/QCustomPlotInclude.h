// qcustomplot.h as the project builds it: the project turns Qt's lower-case
// keywords off (QT_NO_KEYWORDS), which the library's header still uses, so
// they are mapped to their macro names while it is read.
#pragma once

#define signals Q_SIGNALS
#define slots Q_SLOTS
#define foreach Q_FOREACH
#include <qcustomplot.h>
#undef foreach
#undef slots
#undef signals
