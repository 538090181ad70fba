// The prints of a run's label and report, kept beside its record: every
// print and reprint with its time, operator, printer, CUPS job, how it
// ended and, for a reprint, its reason. Forwarded to the line's database as
// the runs are (Forwarder), each row once.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace bms::records {

class Database;

struct PrintEntry {
    QString printId;       // a new UUID
    QString runId;
    QString kind;          // "label" or "report"
    QDateTime at;
    QString operatorName;
    QString stationId;
    QString printer;
    int jobId = 0;         // 0: no CUPS job was made
    QString state;         // "printed" or "failed"
    QString reason;        // why it failed
    QString reprintReason; // empty for a run's first print
};

// Stores `entry` (a new id when it has none).
bool StorePrint(Database& db, PrintEntry entry, QString& error);

// The prints of `runId`, oldest first.
std::optional<std::vector<PrintEntry>> PrintsOf(Database& db, const QString& runId, QString& error);

// Whether prints wait for the line's database.
bool PrintsWaiting(Database& local);

// Copies the prints not yet on the line to `line` (ON CONFLICT DO NOTHING on
// the print id), then marks them; the count copied.
std::optional<int> ForwardPrints(Database& local, Database& line, QString& error);

} // namespace bms::records
