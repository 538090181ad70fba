// The samples of a time range as CSV: one row per sample, the time as local
// "yyyy-MM-dd HH:mm:ss.zzz", then every series that holds a value, in its
// shown unit ("Pack voltage (V)"). Decimated intervals give two rows, their
// minima and maxima, marked "min" and "max" in the last column. Written
// through a temporary file, so a failed export never leaves half a file,
// and synced with its folder (DurableFile).
#pragma once

#include "SampleStore.h"

#include <QString>

namespace bms::trends {

// Returns the number of rows written. Throws EInOutError.
int WriteCsv(const SampleStore& store, int64_t t0, int64_t t1, const QString& path);

// A kept value in its shown unit, with as many decimals as the unit needs.
QString ShownValue(int series, float kept);

} // namespace bms::trends
