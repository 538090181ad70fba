// Store and forward: the PC's database is the source of truth for its runs;
// every run stored there also waits on its forward queue until it has been
// copied to the line's PostgreSQL database.
//
// Runs are copied in transactions of the line database (a batch of up to 50
// runs and about 8 MiB of rows each, INSERT ... ON CONFLICT DO NOTHING on
// the run id and on each row's key) and only then taken off the queue, so a
// server that is down, a
// connection that drops or a process killed at any moment leaves a run
// either waiting (and copied later) or copied whole; copying it again adds
// nothing. What waits is retried with back-off: the whole
// queue while the server cannot be reached, a single run that the server
// refuses on its own.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace bms::records {

class Database;

struct ForwardTiming {
    int firstRetryMs = 2000; // wait after the first failure, doubled after each further one
    int maxRetryMs = 120000;
};

// "all forwarded", "1 run waiting for the line database", "3 runs waiting
// for the line database".
QString WaitingText(int waiting);

class Forwarder {
public:
    // `local` is the PC's database (current schema); `lineUrl` a
    // postgresql:// URL.
    Forwarder(Database& local, QString lineUrl, ForwardTiming timing = {});
    ~Forwarder();

    struct Pass {
        int forwarded = 0;   // runs copied (or found there already) and taken off the queue
        int waiting = -1;    // runs still waiting afterwards (-1: unknown)
        QString error;       // why the pass stopped early, empty when it did not
    };
    // Copies up to `maxRuns` waiting runs, oldest first. `dueOnly` leaves the
    // runs whose back-off has not passed (and everything while the server's
    // back-off runs); without it every run is tried now.
    Pass forward(bool dueOnly, int maxRuns);

    // Runs waiting; nothing (with `error`) when the PC's database fails.
    std::optional<int> waiting(QString& error);
    // Milliseconds until the next run is due (0: now; -1: nothing waits).
    qint64 msUntilDue();
    // The last failure to reach or write the line database ("" after a
    // pass without one).
    const QString& lastError() const { return lastError_; }
    // The line database, connected now if need be (nothing while the
    // server's back-off runs); for other work with the line on the same
    // connection.
    Database* lineDatabase(QString& error);

private:
    bool connectLine(QString& error);
    bool copyRuns(const QStringList& runIds, QString& error);
    void backOffRun(const QString& runId, const QString& error);
    bool dequeue(const QStringList& runIds, QString& error);
    bool lineAlive();

    Database& local_;
    QString url_;
    ForwardTiming timing_;
    std::unique_ptr<Database> line_;
    int serverFailures_ = 0;
    qint64 serverRetryAtMs_ = 0;
    QString lastError_;
};

} // namespace bms::records
