// Print jobs through CUPS (libcups, the server CUPS_SERVER or the client's
// configuration names): the queues there, a job handed to a queue, and the
// job followed until the printer took it or it failed. Every call blocks
// (at most its time limit), so the window makes them on a thread of its own.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>

namespace bms::labels {

struct PrintOrder {
    QString queue;
    QByteArray data;
    QString format;      // "application/pdf", or "application/vnd.cups-raw" (ZPL as it is)
    int copies = 1;
    QString title;
    QStringList options; // more job options, "name=value"
};

inline const QString kRawFormat = QStringLiteral("application/vnd.cups-raw");
inline const QString kPdfFormat = QStringLiteral("application/pdf");

// How a job ended: Printed when CUPS says the job completed (the printer
// took all of it), Failed with the reason in words otherwise.
struct JobResult {
    bool printed = false;
    int jobId = 0;       // 0: no job was made
    QString reason;
};

class Cups {
public:
    // The queues, the default first when there is one; empty with the
    // reason when CUPS does not answer.
    static QStringList Queues(QString& error);
    static QString DefaultQueue();

    // Checks that the queue exists, is not stopped and takes jobs, then
    // hands the job to it. The job's id, or 0 with the reason.
    static int Submit(const PrintOrder& order, QString& error);

    // Follows job `jobId` of `queue` until it completed, failed, the queue
    // stopped, CUPS went away, `stop` was set, or `timeoutMs` passed. A job
    // that did not complete is cancelled (when CUPS still answers), so
    // printing it again prints it once.
    static JobResult Follow(const QString& queue, int jobId, int timeoutMs, const std::atomic<bool>* stop = nullptr);

    // Submit and Follow.
    static JobResult Print(const PrintOrder& order, int timeoutMs, const std::atomic<bool>* stop = nullptr);

    // Cancels a job left by an earlier attempt (nothing when it completed).
    static void Cancel(const QString& queue, int jobId);
};

} // namespace bms::labels
