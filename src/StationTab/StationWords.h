// What the Station tab says to the operator about its counts and its
// records database, in words: the shift's counters, a number of runs, and a
// database error in plain words (the raw error goes to a tooltip, for the
// engineer).
#pragma once

#include "Queries.h"

#include <QDateTime>
#include <QString>

namespace bms::stationtab {

// "1 run", "3 runs".
QString RunsText(qint64 runs);

// The shift's counters since `since`: "Shift since 06:00:  12 runs   PASS 9
// FAIL 2   station losses: ERROR 1   first-pass yield 81.8 %". ERROR and
// ABORTED runs tested nothing of a pack: they are the station's losses,
// shown only when there are any, and never in the yield.
QString ShiftCountersText(const records::StatsRow& total, const QDateTime& since);

// A records database error in words for the operator ("the records
// database is busy: another program is writing to it").
QString DatabaseErrorWords(const QString& error);

} // namespace bms::stationtab
