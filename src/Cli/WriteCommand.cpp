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
#include "WriteOperation.h"

namespace bms::cli {

namespace {

using Ending = WriteOutcome::Ending;
using Answer = WriteOutcome::Answer;

class WriteCommand : public Command {
public:
    WriteCommand(Session& s, const std::vector<Setting>& table, const char* verb)
        : s_(s), table_(table), verb_(verb), write_(s)
    {
    }

    void start() override
    {
        const Setting* setting = find();
        if (!setting)
            return s_.finish(kExitUsage);
        setting_ = setting;
        QString error;
        const std::optional<QString> index = s_.options.has(QStringLiteral("index"))
                                                 ? std::optional(s_.options.value(QStringLiteral("index")))
                                                 : std::nullopt;
        const std::function<void()> handler = PrepareSetting(s_, *setting, s_.options.args.mid(1), error, index);
        if (!handler) {
            s_.report.error(error);
            return s_.finish(kExitUsage);
        }
        if (const int rc = s_.openPort(); rc != kExitDone)
            return s_.finish(rc);
        write_.anyTimeoutEnds = true;
        write_.onRefused = [this](int exception) {
            s_.record(ErrorKind::Refused, QStringLiteral("The pack refused the write (exception code %1)").arg(exception));
        };
        s_.onInterrupt = [this] { interrupted(); };
        s_.stopHandlerOnFinish();
        toldBefore_ = s_.report.told();
        write_.start(*setting, handler, [this](const WriteOutcome& o) { written(o); });
    }

private:
    const Setting* find()
    {
        const QString word = s_.options.args.value(0);
        if (const Setting* s = FindSetting(table_, word))
            return s;
        s_.report.error(QStringLiteral("%1: %2 (one of %3)")
                            .arg(QLatin1String(verb_),
                                 word.isEmpty() ? QStringLiteral("what?") : QStringLiteral("'%1' is unknown").arg(word),
                                 SettingWords(table_)));
        return nullptr;
    }

    void written(const WriteOutcome& o)
    {
        switch (o.ending) {
        case Ending::NotSent: return s_.finish(kExitUsage, result()); // the handler's message says why
        case Ending::NoAnswer:
        case Ending::ReadBackFailed: return end(kExitPack);
        case Ending::Answered:
            if (o.readingBack)
                return compareReadBack();
            // An own-function answer with nothing to read back: the window's
            // own message for it has been shown.
            end(o.ownFunction || o.answer == Answer::Acknowledged ? kExitDone : kExitPack);
            return;
        }
    }

    // A signal ends the command at once, a handler still sending (the
    // role's sixteen writes) included; what was sent may have arrived.
    void interrupted()
    {
        const QString signal = SignalName(s_.interruptSignal());
        const uint64_t sent = write_.framesSent();
        const QString writes = sent == 1 ? QStringLiteral("the write was") : QStringLiteral("%1 writes were").arg(sent);
        if (sent == 0)
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1) before the write was sent").arg(signal));
        else if (write_.state().answer == Answer::Acknowledged && !write_.handlerRunning())
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1): the pack acknowledged the write; it was "
                                                           "not read back").arg(signal));
        else
            s_.fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1) after %2 sent: the pack may have "
                                                           "applied it").arg(signal, writes));
        write_.cancel();
        s_.finish(s_.interruptExitCode(), result());
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
        const WriteOutcome& o = write_.state();
        // An answer the window tells nothing about still gets a word.
        const bool silent = s_.report.told() == toldBefore_;
        if (silent && o.answer == Answer::Acknowledged)
            s_.report.note(QStringLiteral("The pack acknowledged the write"));
        else if (silent && o.answer == Answer::Refused)
            s_.report.note(QStringLiteral("The pack refused the write (exception code %1)").arg(o.exception));
        if (o.readBackAsked() && o.infoArrived)
            s_.report.lines(InfoLines(s_.host));
        else if (o.readBackAsked())
            s_.report.error(QStringLiteral("The information was not read back"));
        s_.finish(code, result());
    }

    // Every key whatever the outcome: acknowledged is null when no answer
    // judged the write, exception null unless it was refused, readback null
    // unless the information was read back.
    QJsonObject result() const
    {
        const WriteOutcome& o = write_.state();
        QJsonObject obj{{QStringLiteral("setting"), QString::fromLatin1(setting_ ? setting_->word : "")}};
        obj.insert(QStringLiteral("acknowledged"),
                   o.answer != Answer::None ? QJsonValue(o.answer == Answer::Acknowledged) : QJsonValue());
        obj.insert(QStringLiteral("exception"), o.answer == Answer::Refused ? QJsonValue(o.exception) : QJsonValue());
        obj.insert(QStringLiteral("readback"),
                   o.readBackAsked() && o.infoArrived ? QJsonValue(InfoObject(s_.host)) : QJsonValue());
        return obj;
    }

    Session& s_;
    const std::vector<Setting>& table_;
    const char* verb_;
    WriteOperation write_;
    const Setting* setting_ = nullptr;
    int toldBefore_ = 0;
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
