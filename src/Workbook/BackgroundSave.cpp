#include "BackgroundSave.h"

#include "FileSync.h"
#include "Sheet.h"
#include "WorkbookError.h"
#include "XlsxFile.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <list>
#include <new>
#include <thread>

namespace bms {

namespace {

struct Job {
    std::shared_ptr<const void> keepAlive;
    std::function<void(const QString&)> done;
    QString problem;          // written by the worker before `finished`
    std::atomic<bool> finished{false};
    std::thread worker;
};

struct Jobs {
    std::list<Job> list;
    QPointer<QTimer> poll;
    // Saves still running when the program ends are waited for, so that no
    // .xlsx is left half-written; their callbacks no longer run.
    ~Jobs()
    {
        for (Job& job : list) {
            if (job.worker.joinable())
                job.worker.join();
        }
    }
};

Jobs& AllJobs()
{
    static Jobs jobs;
    return jobs;
}

// Reports the finished jobs; with `wait`, waits for every job, also those
// that the callbacks start. The finished jobs leave the list before their
// callbacks run, so a callback that handles events (a message box) may come
// back here.
void Collect(bool wait)
{
    Jobs& jobs = AllJobs();
    do {
        std::list<Job> finished;
        for (auto it = jobs.list.begin(); it != jobs.list.end();) {
            const auto next = std::next(it);
            if (wait || it->finished.load(std::memory_order_acquire)) {
                it->worker.join();
                finished.splice(finished.end(), jobs.list, it);
            }
            it = next;
        }
        for (Job& job : finished) {
            const auto done = std::move(job.done);
            if (done)
                done(job.problem);
        }
    } while (wait && !jobs.list.empty());
    if (jobs.list.empty() && jobs.poll)
        jobs.poll->stop();
}

} // namespace

void SaveInBackground(std::shared_ptr<const void> keepAlive, const Sheet& sheet, const QString& path,
                      std::function<void(const QString& problem)> done, const QString& thenRemove)
{
    Jobs& jobs = AllJobs();
    Job& job = jobs.list.emplace_back();
    job.keepAlive = std::move(keepAlive);
    job.done = std::move(done);
    job.worker = std::thread([&job, &sheet, path, thenRemove] {
        try {
            WriteXlsx(sheet, path);
            if (!thenRemove.isEmpty())
                (void)RemoveDurably(thenRemove);
        } catch (const EWorkbookError& e) {
            job.problem = e.message();
        } catch (const std::bad_alloc&) {
            job.problem = QStringLiteral("Not enough memory to write the workbook %1").arg(path);
        } catch (const std::exception& e) {
            job.problem = QString::fromLocal8Bit(e.what());
        }
        job.finished.store(true, std::memory_order_release);
    });
    if (QCoreApplication::instance()) {
        if (!jobs.poll) {
            jobs.poll = new QTimer(QCoreApplication::instance());
            jobs.poll->setInterval(100);
            QObject::connect(jobs.poll, &QTimer::timeout, [] { Collect(false); });
        }
        jobs.poll->start();
    }
}

void FinishWorkbookSaves() { Collect(true); }

int PendingWorkbookSaves() { return int(AllJobs().list.size()); }

} // namespace bms
