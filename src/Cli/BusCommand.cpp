// `bus scan` and `bus watch`: every pack of a rack on one line. The scan
// asks each address for its information block, then block 0 (firmware) and
// block 3 (cell count), with a time-out fitted to the line's speed; an
// address whose answer comes back garbled is answered by more than one pack.
// The watch polls the packs found round-robin, a whole rotation of one pack
// before the next, and copies each pack's values out of the core's one-pack
// table as soon as its rotation ends.
#include "BlockReads.h"
#include "BusEvents.h"
#include "BusLine.h"
#include "BusLogFiles.h"
#include "Command.h"
#include "InfoView.h"
#include "Interrupt.h"
#include "Later.h"
#include "PackView.h"
#include "Rotation.h"
#include "Session.h"

#include "App.h"
#include "PackTable.h"
#include "Selectors.h"

#include <QElapsedTimer>
#include <QTimer>
#include <csignal>

namespace bms::cli {

namespace {

using bus::PackIdentity;

QString AddressText(int address) { return QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper(); }

std::optional<QString> TextOf(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

QJsonArray Numbers(const std::set<int>& values)
{
    QJsonArray a;
    for (int v : values)
        a.append(v);
    return a;
}

class BusCommand : public Command {
public:
    explicit BusCommand(Session& s) : s_(s), reads_(s), rotation_(s), log_(s) {}

    void start() override
    {
        if (!readOptions())
            return s_.finish(kExitUsage, result());
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc, result());
        App.replyTimeoutMs = s_.options.timeoutGiven ? s_.options.timeoutMs : bus::BusReplyTimeoutMs(int(s_.options.baud));
        s_.onBytes = [this](int count) {
            reads_.countBytes(count);
            sweepBytes_ += count;
        };
        s_.onInterrupt = [this] { end(); };
        s_.onOutputLost = [this] { end(); };
        // Every pack's information read ends in the window's "got it" box,
        // and every address without a pack in a time-out line: the scan's
        // list and the pack events say both, once.
        s_.host.onMessage = [this, shown = s_.host.onMessage](const QString& m) {
            if (m != QLatin1String("Get the information completely!"))
                shown(m);
        };
        s_.host.onLine = [this, told = s_.host.onLine](const QString& memo, const QString& line) {
            if (!line.startsWith(QLatin1String("communication timeout!")))
                told(memo, line);
        };
        next_.setSingleShot(true);
        next_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&next_, &QTimer::timeout, [this] { sweep(); });
        scanAddress();
    }

private:
    bool usage(const QString& problem)
    {
        s_.fail(ErrorKind::Usage, problem);
        return false;
    }

    bool readOptions()
    {
        const Options& o = s_.options;
        const QString sub = o.args.value(0);
        watch_ = sub == QLatin1String("watch");
        if (!watch_ && sub != QLatin1String("scan"))
            return usage(sub.isEmpty() ? QStringLiteral("bus needs scan or watch (see quorlex-bms-cli help bus)")
                                       : QStringLiteral("bus %1: no such command (scan or watch)").arg(sub));
        if (o.args.size() > 1)
            return usage(QStringLiteral("bus %1 takes no arguments ('%2' is one too many)").arg(sub, o.args[1]));
        if (!watch_)
            for (const char* name : {"interval", "count", "log", "csv"})
                if (o.has(QLatin1String(name)))
                    return usage(QStringLiteral("--%1 is an option of bus watch, not of bus scan").arg(QLatin1String(name)));
        if (o.has(QStringLiteral("addr"))) {
            QString problem;
            const auto list = bus::ParseAddressList(o.value(QStringLiteral("addr")), problem);
            if (!list)
                return usage(QStringLiteral("--addr: ") + problem);
            addresses_ = *list;
        }
        if (o.has(QStringLiteral("interval"))) {
            bool ok = false;
            const double seconds = o.value(QStringLiteral("interval")).toDouble(&ok);
            if (!ok || seconds < 0 || seconds > 86400)
                return usage(QStringLiteral("--interval: '%1' is not a number of seconds (0 to 86400)")
                                 .arg(o.value(QStringLiteral("interval"))));
            intervalMs_ = qRound64(seconds * 1000);
        }
        if (o.has(QStringLiteral("count"))) {
            const auto count = ParseDecimal(o.value(QStringLiteral("count")), 1, 1'000'000'000);
            if (!count)
                return usage(QStringLiteral("--count: '%1' is not a number of sweeps (1 or more)")
                                 .arg(o.value(QStringLiteral("count"))));
            count_ = *count;
        }
        if (const QString problem = log_.prepare(o.value(QStringLiteral("log")), o.value(QStringLiteral("csv")));
            !problem.isEmpty())
            return usage(problem);
        return true;
    }

    void select(int address)
    {
        s_.host.setText(QStringLiteral("cbb_addr"), AddressText(address));
        s_.run(cbb_addrChange);
    }

    // ---- Scan

    void scanAddress()
    {
        if (s_.finished())
            return;
        if (asked_ >= addresses_.size())
            return scanned();
        select(addresses_[asked_]);
        reads_.start({8, 0, 3}, [this](const BlockReads::Result& r) { identified(r); });
    }

    void identified(const BlockReads::Result& r)
    {
        const int address = addresses_[asked_++];
        if (r.answered.count(8) || r.refused.count(8)) {
            PackIdentity p;
            p.address = address;
            if (r.answered.count(8)) {
                const QJsonObject info = InfoObject(s_.host, r.answered.count(0) != 0);
                p.barcode = TextOf(info, "barcode");
                p.serial = TextOf(info, "serial_number");
                p.uid = TextOf(info, "uid");
                p.firmware = TextOf(info, "sw_version_text");
            }
            if (r.answered.count(3))
                p.cells = PackTable[0].cell_count & 0xFF;
            scan_.packs.push_back(p);
        } else if (r.garbled || (r.timedOut && r.bytes > 0)) {
            scan_.collisions.push_back(address);
        }
        Later(context_, generation_, [this] { scanAddress(); });
    }

    QStringList scanLines() const
    {
        QStringList lines{QStringLiteral("address  barcode       serial                uid                       firmware  cells")};
        for (const PackIdentity& p : scan_.packs)
            lines.append(QStringLiteral("%1       %2  %3  %4  %5  %6")
                             .arg(AddressText(p.address), p.barcode.value_or(QStringLiteral("-")).leftJustified(12),
                                  p.serial.value_or(QStringLiteral("-")).leftJustified(20),
                                  p.uid.value_or(QStringLiteral("-")).leftJustified(24),
                                  p.firmware.value_or(QStringLiteral("-")).leftJustified(8),
                                  p.cells ? QString::number(*p.cells) : QStringLiteral("-")));
        for (int a : scan_.collisions)
            lines.append(QStringLiteral("%1       collision: more than one pack answers at this address").arg(AddressText(a)));
        lines.append(QStringLiteral("%1 packs, %2 collisions (%3 addresses asked)")
                         .arg(scan_.packs.size()).arg(scan_.collisions.size()).arg(scan_.asked));
        return lines;
    }

    void scanned()
    {
        scan_.asked = static_cast<int>(asked_);
        scanDone_ = true;
        s_.report.lines(scanLines());
        if (!watch_)
            return end();
        s_.report.object(bus::ScanObject(scan_));
        if (scan_.packs.empty())
            return end();
        clock_.start();
        sweep();
    }

    // ---- Watch

    void sweep()
    {
        if (s_.finished())
            return;
        ++sweeps_;
        packIndex_ = 0;
        answering_ = 0;
        sweepIncomplete_ = false;
        sweepRequests_ = 0;
        sweepAnswers_ = 0;
        sweepBytes_ = 0;
        sweepClock_.start();
        nextPack();
    }

    void nextPack()
    {
        if (s_.finished())
            return;
        if (packIndex_ >= scan_.packs.size())
            return swept();
        select(scan_.packs[packIndex_].address);
        framesBefore_ = s_.framesSent();
        rotation_.start([this](bool complete) { rotated(complete); });
    }

    void rotated(bool complete)
    {
        const PackIdentity& p = scan_.packs[packIndex_];
        const std::set<int>& blocks = rotation_.answered();
        const QDateTime now = QDateTime::currentDateTime();
        const bool answered = !blocks.empty();
        sweepRequests_ += static_cast<qint64>(s_.framesSent() - framesBefore_);
        sweepAnswers_ += static_cast<qint64>(blocks.size() + rotation_.refused().size());
        answering_ += answered;
        if (!complete)
            sweepIncomplete_ = true;
        const QString serial = p.serial.value_or(QString());
        QJsonObject o = bus::PackObject(sweeps_, now, p.address, serial, answered, TelemetryObject(blocks));
        o.insert(QStringLiteral("blocks"), Numbers(blocks));
        o.insert(QStringLiteral("refused"), Numbers(rotation_.refused()));
        s_.report.object(o);
        s_.report.lines({QStringLiteral("%1  %2  %3").arg(AddressText(p.address), serial.leftJustified(20),
                                                          RotationLine(s_.host, blocks, now))});
        if (answered && log_.active() && !log_.addRow(p.address, serial, blocks, now))
            return end();
        ++packIndex_;
        Later(context_, generation_, [this] { nextPack(); });
    }

    void swept()
    {
        bus::SweepEnd e;
        e.sweep = static_cast<int>(sweeps_);
        e.seconds = sweepClock_.nsecsElapsed() / 1e9;
        // Requests are 8 bytes; the answers are what came from the line.
        const int baud = static_cast<int>(s_.options.baud);
        e.wireSeconds = bus::WireSeconds(8 * sweepRequests_ + sweepBytes_, baud);
        e.gapSeconds = bus::WireSeconds(sweepAnswers_ * 35, baud) / 10;
        e.answering = answering_;
        e.packs = static_cast<int>(scan_.packs.size());
        if (sweepIncomplete_)
            ++incomplete_;
        s_.report.object(bus::SweepObject(e));
        s_.report.lines({QStringLiteral("sweep %1: %2 of %3 packs answering, %4 s (wire time %5 s)")
                             .arg(e.sweep).arg(e.answering).arg(e.packs)
                             .arg(e.seconds, 0, 'f', 3).arg(e.wireSeconds, 0, 'f', 3)});
        if (count_ > 0 && sweeps_ >= count_)
            return end();
        const qint64 due = sweeps_ * intervalMs_;
        next_.start(static_cast<int>(std::max<qint64>(0, due - clock_.elapsed())));
    }

    // ---- End

    QJsonObject result() const
    {
        QJsonArray packs;
        for (const PackIdentity& p : scan_.packs)
            packs.append(bus::IdentityObject(p));
        QJsonArray collisions;
        for (int a : scan_.collisions)
            collisions.append(a);
        QJsonObject o{{QStringLiteral("packs"), scanDone_ ? QJsonValue(packs) : QJsonValue()},
                      {QStringLiteral("collisions"), scanDone_ ? QJsonValue(collisions) : QJsonValue()},
                      {QStringLiteral("sweeps"), watch_ && scanDone_ ? QJsonValue(qint64(sweeps_)) : QJsonValue()},
                      {QStringLiteral("incomplete"), watch_ && scanDone_ ? QJsonValue(qint64(incomplete_)) : QJsonValue()}};
        return o;
    }

    void end()
    {
        if (s_.finished())
            return;
        ++generation_;
        next_.stop();
        rotation_.stop();
        log_.end();
        const int signal = s_.interruptSignal();
        QJsonObject o = result();
        int code = kExitDone;
        if (signal != 0 && (signal != SIGINT || !watch_ || !scanDone_)) {
            code = s_.interruptExitCode();
            s_.record(ErrorKind::Interrupted, QStringLiteral("Ended by %1").arg(SignalName(signal)));
        } else if (scan_.packs.empty() && scanDone_) {
            code = kExitPack;
            o.insert(QStringLiteral("error"),
                     QJsonObject{{QStringLiteral("kind"), ErrorKindName(ErrorKind::Timeout)},
                                 {QStringLiteral("message"), QStringLiteral("No pack answered at %1 addresses")
                                                                 .arg(scan_.asked)}});
        } else if (!scan_.collisions.empty()) {
            code = kExitPack;
            QStringList at;
            for (int a : scan_.collisions)
                at.append(AddressText(a));
            o.insert(QStringLiteral("error"),
                     QJsonObject{{QStringLiteral("kind"), ErrorKindName(ErrorKind::Crc)},
                                 {QStringLiteral("message"), QStringLiteral("More than one pack answers at %1")
                                                                 .arg(at.join(QStringLiteral(", ")))}});
        } else if (incomplete_ > 0) {
            code = kExitPack;
        }
        s_.finish(code, o);
    }

    Session& s_;
    BlockReads reads_;
    Rotation rotation_;
    BusLogFiles log_;
    QObject context_;
    int generation_ = 0;
    QTimer next_;
    QElapsedTimer clock_;
    QElapsedTimer sweepClock_;

    bool watch_ = false;
    std::vector<int> addresses_ = bus::DefaultAddresses();
    qint64 intervalMs_ = 0;
    qint64 count_ = 0;

    size_t asked_ = 0;
    bus::ScanResult scan_;
    bool scanDone_ = false;

    qint64 sweeps_ = 0;
    qint64 incomplete_ = 0;
    size_t packIndex_ = 0;
    int answering_ = 0;
    bool sweepIncomplete_ = false;
    qint64 sweepRequests_ = 0;
    qint64 sweepAnswers_ = 0;
    qint64 sweepBytes_ = 0;
    uint64_t framesBefore_ = 0;
};

} // namespace

std::unique_ptr<Command> MakeBusCommand(Session& session) { return std::make_unique<BusCommand>(session); }

} // namespace bms::cli
