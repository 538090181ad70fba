#include "ForwardLoop.h"

#include "Database.h"
#include "Schema.h"
#include "SerialLease.h"

#include <QDateTime>

#include <QTimer>
#include <algorithm>
#include <memory>

namespace bms::records {

// Lives on the loop's thread: every database call happens there.
class ForwardWorker : public QObject {
    Q_OBJECT
public:
    ForwardWorker(QString localPath, QString lineUrl, ForwardTiming timing, int idleMs)
        : localPath_(std::move(localPath)), lineUrl_(std::move(lineUrl)), timing_(timing), idleMs_(idleMs)
    {
    }

    void begin()
    {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        connect(timer_, &QTimer::timeout, this, &ForwardWorker::pass);
        pass();
    }
    void nudge()
    {
        if (timer_)
            timer_->start(0);
    }
    void end()
    {
        delete timer_;
        timer_ = nullptr;
        forwarder_.reset();
        local_.reset();
    }

Q_SIGNALS:
    void passed(int forwarded, int waiting, const QString& error);

private:
    void pass()
    {
        Forwarder::Pass result;
        if (!local_) {
            local_ = Database::openSqlite(localPath_, result.error);
            if (local_ && !Migrate(*local_, result.error))
                local_.reset();
            if (local_)
                forwarder_ = std::make_unique<Forwarder>(*local_, lineUrl_, timing_);
        }
        qint64 next = idleMs_;
        if (forwarder_) {
            result = forwarder_->forward(true, 100);
            const qint64 due = forwarder_->msUntilDue();
            if (due >= 0)
                next = std::min<qint64>(due, idleMs_);
        }
        if (forwarder_)
            next = std::min<qint64>(next, syncSerials());
        Q_EMIT passed(result.forwarded, result.waiting, result.error);
        if (timer_)
            timer_->start(static_cast<int>(std::max<qint64>(next, 0)));
    }

    // Serial numbers: what became of them goes to the line and the leases
    // are topped up, every half minute while the line answers. Returns the
    // milliseconds until the next time.
    qint64 syncSerials()
    {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now < serialsAtMs_)
            return serialsAtMs_ - now;
        QString error;
        bool answered = false;
        if (Database* line = forwarder_->lineDatabase(error)) {
            SerialSyncReport report;
            answered = SyncSerials(*local_, *line, QDate::currentDate(), report, error);
        }
        NoteLineContact(*local_, answered);
        serialsAtMs_ = now + (answered ? kSerialsEveryMs : timing_.firstRetryMs);
        return serialsAtMs_ - now;
    }
    static constexpr qint64 kSerialsEveryMs = 30000;
    qint64 serialsAtMs_ = 0;

    QString localPath_;
    QString lineUrl_;
    ForwardTiming timing_;
    int idleMs_;
    QTimer* timer_ = nullptr;
    std::unique_ptr<Database> local_;
    std::unique_ptr<Forwarder> forwarder_;
};

ForwardLoop::ForwardLoop(const QString& localPath, const QString& lineUrl, ForwardTiming timing, int idleMs,
                         QObject* parent)
    : QObject(parent), worker_(new ForwardWorker(localPath, lineUrl, timing, idleMs))
{
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &ForwardWorker::passed, this, [this](int forwarded, int waiting, const QString& error) {
        waiting_ = waiting;
        lastError_ = error;
        Q_EMIT passed(forwarded, waiting, error);
    });
}

ForwardLoop::~ForwardLoop()
{
    if (thread_.isRunning()) {
        QMetaObject::invokeMethod(worker_, &ForwardWorker::end, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    } else {
        delete worker_;
    }
}

void ForwardLoop::start()
{
    thread_.start();
    QMetaObject::invokeMethod(worker_, &ForwardWorker::begin, Qt::QueuedConnection);
}

void ForwardLoop::nudge()
{
    QMetaObject::invokeMethod(worker_, &ForwardWorker::nudge, Qt::QueuedConnection);
}

QString ForwardLoop::stateText() const
{
    return waiting_ < 0 ? QStringLiteral("forwarding state unknown") : WaitingText(waiting_);
}

} // namespace bms::records

#include "ForwardLoop.moc"
