// `read` and `watch`: rotations of the telemetry blocks through the sampling
// loop's requests and decoders.
#include "Command.h"
#include "DataLogFiles.h"
#include "Interrupt.h"
#include "PackView.h"
#include "Rotation.h"
#include "Session.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTimer>
#include <csignal>

namespace bms::cli {

namespace {

bool IsBsi(const Session& s) { return s.options.product == QLatin1String("BSI"); }

QJsonArray Blocks(const std::set<int>& blocks)
{
    QJsonArray a;
    for (int b : blocks)
        a.append(b);
    return a;
}

class ReadCommand : public Command {
public:
    explicit ReadCommand(Session& s) : s_(s), rotation_(s) {}
    void start() override
    {
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);
        rotation_.start([this](bool complete) { done(complete); });
    }

private:
    void done(bool complete)
    {
        if (!rotation_.answered().empty())
            s_.report.lines(TelemetryLines(s_.host, IsBsi(s_)));
        QJsonObject o = TelemetryObject(rotation_.answered());
        o.insert(QStringLiteral("blocks"), Blocks(rotation_.answered()));
        o.insert(QStringLiteral("refused"), Blocks(rotation_.refused()));
        s_.finish(complete ? kExitDone : kExitPack, o);
    }

    Session& s_;
    Rotation rotation_;
};

class WatchCommand : public Command {
public:
    explicit WatchCommand(Session& s) : s_(s), rotation_(s), log_(s) {}

    void start() override
    {
        if (!readOptions())
            return s_.finish(kExitUsage);
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);
        // Ctrl-C is how a watch without --count ends; SIGTERM and SIGHUP (a
        // closed terminal) end it the same way, files written, and a reader
        // of stdout that went away ends it too.
        s_.onInterrupt = [this] { end(); };
        s_.onOutputLost = [this] { end(); };
        next_.setSingleShot(true);
        next_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&next_, &QTimer::timeout, [this] { rotate(); });
        clock_.start();
        rotate();
    }

private:
    bool readOptions()
    {
        const Options& o = s_.options;
        if (o.has(QStringLiteral("interval"))) {
            const auto ms = ParseDecimal(o.value(QStringLiteral("interval")), 0, 86'400'000);
            if (!ms) {
                s_.report.error(QStringLiteral("--interval: '%1' is not a number of milliseconds")
                                    .arg(o.value(QStringLiteral("interval"))));
                return false;
            }
            interval_ = static_cast<int>(*ms);
        }
        if (interval_ < 500) {
            // As the sampling loop: the period never goes below 500 ms.
            s_.report.message(QStringLiteral("The sampling interval must be greater than 500 ms!"));
            interval_ = 500;
        }
        if (o.has(QStringLiteral("count"))) {
            const auto count = ParseDecimal(o.value(QStringLiteral("count")), 1, 1'000'000'000);
            if (!count) {
                s_.report.error(QStringLiteral("--count: '%1' is not a number of rotations (1 or more)")
                                    .arg(o.value(QStringLiteral("count"))));
                return false;
            }
            count_ = *count;
        }
        const QString problem = log_.prepare(o.value(QStringLiteral("log")), o.value(QStringLiteral("csv")));
        if (!problem.isEmpty()) {
            s_.report.error(problem);
            return false;
        }
        return true;
    }

    void rotate()
    {
        if (s_.finished())
            return;
        rotation_.start([this](bool complete) { rotated(complete); });
    }

    void rotated(bool complete)
    {
        ++rotations_;
        if (!complete)
            ++incomplete_;
        const std::set<int>& blocks = rotation_.answered();
        const QDateTime now = QDateTime::currentDateTime();
        const bool logged = blocks.empty() || !log_.active() || log_.addRow(rotations_, blocks);
        s_.report.lines({RotationLine(s_.host, blocks, now)});
        QJsonObject o = TelemetryObject(blocks);
        o.insert(QStringLiteral("rotation"), static_cast<qint64>(rotations_));
        o.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
        o.insert(QStringLiteral("blocks"), Blocks(blocks));
        o.insert(QStringLiteral("refused"), Blocks(rotation_.refused()));
        s_.report.object(o);
        if (!logged || (count_ > 0 && rotations_ >= count_))
            return end();
        // Rotations start every interval from the first; one that took longer
        // than the interval is followed at once.
        const qint64 due = rotations_ * qint64(interval_);
        next_.start(static_cast<int>(std::max<qint64>(0, due - clock_.elapsed())));
    }

    void end()
    {
        if (s_.finished())
            return;
        next_.stop();
        rotation_.stop();
        log_.end();
        const int signal = s_.interruptSignal();
        const int code = signal != 0 && signal != SIGINT ? s_.interruptExitCode()
            : incomplete_ > 0                            ? kExitPack
                                                         : kExitDone;
        if (code >= kExitSignal)
            s_.record(ErrorKind::Interrupted, QStringLiteral("Ended by %1; the files are written").arg(SignalName(signal)));
        s_.finish(code, {{QStringLiteral("rotations"), static_cast<qint64>(rotations_)},
                         {QStringLiteral("incomplete"), static_cast<qint64>(incomplete_)}});
    }

    Session& s_;
    Rotation rotation_;
    DataLogFiles log_;
    QTimer next_;
    QElapsedTimer clock_;
    int interval_ = 500;
    qint64 count_ = 0;
    qint64 rotations_ = 0;
    qint64 incomplete_ = 0;
};

} // namespace

std::unique_ptr<Command> MakeReadCommand(Session& session) { return std::make_unique<ReadCommand>(session); }
std::unique_ptr<Command> MakeWatchCommand(Session& session) { return std::make_unique<WatchCommand>(session); }

} // namespace bms::cli
