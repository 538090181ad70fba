// `set` and `calibrate`: runs a settings button's handler and judges the
// pack's answer. A write acknowledged with the echo of its register ends
// with 0, an exception with 1, no answer within the time-out with 1; input
// the handler refused (nothing sent) with 2. Writes that the dispatcher
// follows with an information read wait for it and show the read-back.
#include "Command.h"
#include "InfoView.h"
#include "Interrupt.h"
#include "SetCommands.h"
#include "Session.h"

#include "Codec.h"
#include "CommRecord.h"
#include "Hooks.h"
#include "RequestBuilder.h"

#include <QMetaObject>
#include <QTimer>

namespace bms::cli {

namespace {

// The pack's own functions: their answers are not frames of the receive
// assembly, so only a read-back can tell whether the value arrived.
bool IsOwnFunction(uint8_t function) { return function == 0x14 || function == 0x1B || function == 0x52; }

// Bytes of an answer that the assembly does not frame are taken as complete
// once the line has been quiet this long.
constexpr int kQuietMs = 20;

class WriteCommand : public Command {
public:
    WriteCommand(Session& s, const std::vector<Setting>& table, const char* verb) : s_(s), table_(table), verb_(verb) {}

    void start() override
    {
        const Setting* setting = find();
        if (!setting)
            return s_.finish(kExitUsage);
        setting_ = setting;
        QString error;
        const std::function<void()> handler = PrepareSetting(s_, *setting, s_.options.args.mid(1), error);
        if (!handler) {
            s_.report.error(error);
            return s_.finish(kExitUsage);
        }
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);
        listen();

        const uint64_t before = s_.framesSent();
        framesBefore_ = before;
        toldBefore_ = s_.report.told();
        running_ = true;
        const bool ok = s_.run(handler);
        running_ = false;
        if (!ok || s_.framesSent() == before)
            return s_.finish(kExitUsage, result()); // the handler's message says why
        if (IsOwnFunction(s_.lastFunctionSent())) {
            ownFunction_ = true;
            if (bytesSeen_)
                quiet_.start(kQuietMs);
            else if (!s_.tmr2.enabled())
                s_.finish(kExitPack, result());
            return;
        }
        if (outcome_ != Outcome::None)
            proceed();
        else if (!s_.tmr2.enabled())
            s_.finish(kExitPack, result()); // the time-out fired while the handler waited
    }

private:
    enum class Outcome { None, Acknowledged, Refused };

    const Setting* find()
    {
        const QString word = s_.options.args.value(0);
        for (const Setting& s : table_)
            if (word == QLatin1String(s.word))
                return &s;
        QStringList words;
        for (const Setting& s : table_)
            words.append(QString::fromLatin1(s.word));
        s_.report.error(QStringLiteral("%1: %2 (one of %3)")
                            .arg(QLatin1String(verb_),
                                 word.isEmpty() ? QStringLiteral("what?") : QStringLiteral("'%1' is unknown").arg(word),
                                 words.join(QStringLiteral(", "))));
        return nullptr;
    }

    void listen()
    {
        s_.onFrame = [this] { judge(); };
        s_.onTimeout = [this] { timedOut(); };
        // A corrupted answer ends the wait as a time-out would.
        s_.onBadFrame = [this] { timedOut(); };
        s_.onRead = [this](const ReadOutcome& read) {
            if (read.block != 8)
                return;
            if (read.kind == ReadOutcomeKind::Decoded)
                infoArrived();
            else if (read.kind == ReadOutcomeKind::Refused && (readingBack_ || waitingInfo_))
                end(kExitPack);
        };
        s_.onBytes = [this](int) {
            bytesSeen_ = true;
            if (ownFunction_ && !readingBack_)
                quiet_.start(kQuietMs);
        };
        const auto reRead = Hooks.reReadDeviceInfo;
        Hooks.reReadDeviceInfo = [this, reRead] {
            reReadRequested_ = true;
            s_.host.forgetWrites();
            if (reRead)
                reRead();
        };
        quiet_.setSingleShot(true);
        QObject::connect(&quiet_, &QTimer::timeout, [this] { ownFunctionAnswered(); });
        s_.onInterrupt = [this] { interrupted(); };
        s_.stopHandlerOnFinish();
    }

    // A signal ends the command at once, a handler still sending (the
    // role's sixteen writes) included; what was sent may have arrived.
    void interrupted()
    {
        const QString signal = SignalName(s_.interruptSignal());
        const uint64_t sent = s_.framesSent() - framesBefore_;
        const QString writes = sent == 1 ? QStringLiteral("the write was") : QStringLiteral("%1 writes were").arg(sent);
        if (sent == 0)
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1) before the write was sent").arg(signal));
        else if (outcome_ == Outcome::Acknowledged && !running_)
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1): the pack acknowledged the write; it was "
                                                           "not read back").arg(signal));
        else
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1) after %2 sent: the pack may have "
                                                           "applied it").arg(signal, writes));
        s_.finish(s_.interruptExitCode(), result());
    }

    // A frame with a good CRC, before the dispatcher acts on it.
    void judge()
    {
        if (outcome_ != Outcome::None)
            return;
        const uint8_t function = MY_COM.RxBuf[1];
        if (function == 0x10 && MY_COM.RxLen == 8 && s_.registersWritten().count(ReadU16BE(MY_COM.RxBuf.data(), 2))) {
            outcome_ = Outcome::Acknowledged;
        } else if (function == 0x90) {
            outcome_ = Outcome::Refused;
            exception_ = MY_COM.RxBuf[2];
            s_.record(ErrorKind::Refused, QStringLiteral("The pack refused the write (exception code %1)").arg(exception_));
        } else {
            return;
        }
        // The dispatcher reports the answer (and may ask for the information
        // read-back) before its dispatch returns; go on after that.
        if (!running_)
            QMetaObject::invokeMethod(&quiet_, [this] { proceed(); }, Qt::QueuedConnection);
    }

    void proceed()
    {
        if (reReadRequested_ && !infoArrived_) {
            waitingInfo_ = true;
            return;
        }
        end(outcome_ == Outcome::Acknowledged ? kExitDone : kExitPack);
    }

    void infoArrived()
    {
        infoArrived_ = true;
        if (readingBack_)
            return compareReadBack();
        if (waitingInfo_)
            end(outcome_ == Outcome::Acknowledged ? kExitDone : kExitPack);
    }

    void timedOut()
    {
        if (running_)
            return; // judged when the handler is done
        end(kExitPack);
    }

    // The answer to an own-function write is in: read the value back.
    void ownFunctionAnswered()
    {
        if (readingBack_ || s_.finished())
            return;
        // The answer came; it needs no time-out line.
        s_.tmr2.setEnabled(false);
        // The window's own message for the answer has been shown.
        if (!setting_->readBack)
            return end(kExitDone);
        readingBack_ = true;
        s_.host.forgetWrites();
        if (!s_.run([] { BuildRequest(cmd_read_info); }))
            end(kExitPack);
    }

    void compareReadBack()
    {
        const QString box = QString::fromLatin1(setting_->readBack);
        const QString wanted = s_.options.args.value(1).trimmed();
        const QString got = s_.host.text(box).trimmed();
        bool n1 = false, n2 = false;
        const qint64 a = wanted.toLongLong(&n1), b = got.toLongLong(&n2);
        const bool same = (n1 && n2) ? a == b : wanted == got;
        if (!same)
            s_.fail(ErrorKind::Refused, QStringLiteral("The pack reads back %1, not %2").arg(got, wanted));
        end(same ? kExitDone : kExitPack);
    }

    void end(int code)
    {
        if (s_.finished())
            return;
        // An answer the window tells nothing about still gets a word.
        const bool silent = s_.report.told() == toldBefore_;
        if (silent && outcome_ == Outcome::Acknowledged)
            s_.report.note(QStringLiteral("The pack acknowledged the write"));
        else if (silent && outcome_ == Outcome::Refused)
            s_.report.note(QStringLiteral("The pack refused the write (exception code %1)").arg(exception_));
        const bool readBack = reReadRequested_ || readingBack_;
        if (readBack && infoArrived_)
            s_.report.lines(InfoLines(s_.host));
        else if (readBack)
            s_.report.error(QStringLiteral("The information was not read back"));
        s_.finish(code, result());
    }

    // Every key whatever the outcome: acknowledged is null when no answer
    // judged the write, exception null unless it was refused, readback null
    // unless the information was read back.
    QJsonObject result() const
    {
        QJsonObject o{{QStringLiteral("setting"), QString::fromLatin1(setting_ ? setting_->word : "")}};
        o.insert(QStringLiteral("acknowledged"),
                 outcome_ != Outcome::None ? QJsonValue(outcome_ == Outcome::Acknowledged) : QJsonValue());
        o.insert(QStringLiteral("exception"), outcome_ == Outcome::Refused ? QJsonValue(exception_) : QJsonValue());
        o.insert(QStringLiteral("readback"),
                 (reReadRequested_ || readingBack_) && infoArrived_ ? QJsonValue(InfoObject(s_.host)) : QJsonValue());
        return o;
    }

    Session& s_;
    const std::vector<Setting>& table_;
    const char* verb_;
    const Setting* setting_ = nullptr;
    QTimer quiet_;
    Outcome outcome_ = Outcome::None;
    int exception_ = 0;
    int toldBefore_ = 0;
    uint64_t framesBefore_ = 0;
    bool running_ = false;
    bool ownFunction_ = false;
    bool bytesSeen_ = false;
    bool readingBack_ = false;
    bool reReadRequested_ = false;
    bool waitingInfo_ = false;
    bool infoArrived_ = false;
};

} // namespace

std::unique_ptr<Command> MakeSetCommand(Session& session)
{
    return std::make_unique<WriteCommand>(session, SetSettings(), "set");
}

std::unique_ptr<Command> MakeCalibrateCommand(Session& session)
{
    return std::make_unique<WriteCommand>(session, CalibrateSettings(), "calibrate");
}

} // namespace bms::cli
