// Progress of the record transfer on the Device Upgrade tab: the bar
// "pgb_upgrade" shows records sent out of the records in the image, the
// label "lbl_upgrade_progress" the same in words with the elapsed and the
// estimated remaining time.
#pragma once

#include <QString>

namespace bms {

inline const QString kProgressBar = QStringLiteral("pgb_upgrade");
inline const QString kProgressLabel = QStringLiteral("lbl_upgrade_progress");

// A run starts with `records` records to send.
void ProgressStart(int records);
// `sent` records have gone out.
void ProgressRecordSent(int sent);
// The run ended, however it ended; the label keeps the count and the time
// the transfer took, without an estimate.
void ProgressFinished(int sent);
// No run for the file shown: an empty bar and label (a newly chosen or a
// refused image).
void ProgressClear();

// "m:ss" (or "h:mm:ss") of a duration in milliseconds.
QString FormatDuration(qint64 ms);

} // namespace bms
