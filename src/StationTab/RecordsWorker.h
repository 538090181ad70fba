// The station's records database on a thread of its own: the questions the
// tab asks of it (has this barcode passed here, the history, a record, the
// shift's counts, the runs waiting for the line) never hold the window's
// event loop, whatever a busy disk or an unreachable line server does.
//
// The database is opened on the thread when the first job comes (so a
// window whose Station tab is never used creates no database), and closed
// there when the worker goes.
#pragma once

#include "StationRecords.h"

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

namespace bms::stationtab {

class RecordsThreadContext;

class RecordsWorker {
public:
    explicit RecordsWorker(const records::RecordsConfig& config);
    // Finishes the job under way, drops the rest (but postKept's) and
    // closes the database.
    ~RecordsWorker();
    RecordsWorker(const RecordsWorker&) = delete;
    RecordsWorker& operator=(const RecordsWorker&) = delete;

    // A job for the worker's thread: it gets the records, or nullptr and
    // why they cannot be opened. Jobs run one at a time in the order given.
    using Job = std::function<void(records::StationRecords* records, const QString& error)>;
    void post(Job job);
    // A job that writes what must not be lost (a record): it runs even when
    // the worker is going away, before the database is closed.
    void postKept(Job job);

    // Runs `reply` on the thread of `context` (the window's) unless
    // `context` is gone by then; for a job to hand its answer back.
    template <typename F>
    static void reply(QObject* context, F&& f)
    {
        QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
    }

private:
    QThread thread_;
    RecordsThreadContext* context_;
};

} // namespace bms::stationtab
