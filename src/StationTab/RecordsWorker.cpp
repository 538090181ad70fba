#include "RecordsWorker.h"

#include <atomic>

namespace bms::stationtab {

// Lives on the worker's thread and owns the records there.
class RecordsThreadContext : public QObject {
public:
    explicit RecordsThreadContext(records::RecordsConfig config) : config_(std::move(config)) {}

    void run(const RecordsWorker::Job& job, bool always)
    {
        if (stopping && !always)
            return;
        if (!records_ && error_.isEmpty())
            records_ = records::StationRecords::open(config_, error_);
        job(records_.get(), error_);
    }
    void close() { records_.reset(); }

    std::atomic<bool> stopping = false;

private:
    records::RecordsConfig config_;
    std::unique_ptr<records::StationRecords> records_;
    QString error_;
};

RecordsWorker::RecordsWorker(const records::RecordsConfig& config) : context_(new RecordsThreadContext(config))
{
    thread_.setObjectName(QStringLiteral("station records"));
    context_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_.start();
}

RecordsWorker::~RecordsWorker()
{
    context_->stopping = true;
    QMetaObject::invokeMethod(context_, [c = context_] { c->close(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void RecordsWorker::post(Job job)
{
    QMetaObject::invokeMethod(context_, [c = context_, job = std::move(job)] { c->run(job, false); }, Qt::QueuedConnection);
}

void RecordsWorker::postKept(Job job)
{
    QMetaObject::invokeMethod(context_, [c = context_, job = std::move(job)] { c->run(job, true); }, Qt::QueuedConnection);
}

} // namespace bms::stationtab
