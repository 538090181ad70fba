#include "Session.h"

#include "Command.h"

#include "App.h"
#include "CommRecord.h"
#include "Connection.h"
#include "Errors.h"
#include "FrameRecord.h"
#include "Hooks.h"
#include "Interrupt.h"
#include "PackTable.h"
#include "Receive.h"
#include "Selectors.h"
#include "SerialComm.h"
#include "Settings.h"
#include "TextFormat.h"
#include "UpgradeHooks.h"
#include "Wiring.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace bms::cli {

// The port as the core sees it: every frame goes through here, so the
// session knows whether a handler sent anything.
class Session::CountingLink : public Link {
public:
    explicit CountingLink(TComm& port) : port_(port) {}
    bool SendData(const uint8_t* data, uint16_t length) override
    {
        // Once the command has ended (an interrupt in a handler's wait),
        // what the handler still asks for is not sent; where the command
        // allows it, the handler is stopped there by an error that its
        // guard catches.
        if (closed && stopHandler)
            throw Error(QStringLiteral("The command has ended"));
        if (closed)
            return false;
        ++frames;
        if (length >= 2)
            lastFunction = data[1];
        if (length >= 8 && data[1] == 0x10)
            registers.insert(static_cast<uint16_t>(data[2] << 8 | data[3]));
        return port_.SendData(data, length);
    }
    uint64_t frames = 0;
    bool closed = false;
    bool stopHandler = false;
    uint8_t lastFunction = 0;
    std::set<uint16_t> registers;

private:
    TComm& port_;
};

Session::Session(const Options& o, Report& r)
    : options(o), report(r), comm_(std::make_unique<TComm>()), link_(std::make_unique<CountingLink>(*comm_))
{
    ResetProtocolState();
    App.ui = &host;
    App.cm1 = link_.get();
    App.tmr1 = &tmr1;
    App.tmr2 = &tmr2;
    App.tmr3 = &tmr3;
    App.tmr4 = &tmr4;
    App.replyTimeoutMs = options.timeoutMs;
    wire();
    InstallInterruptHandler([this](int signal) { interrupted(signal); });
    report.onOutputFailed = [this](const QString& problem) {
        fail(ErrorKind::Io, QStringLiteral("Cannot write to standard output: %1").arg(problem));
        if (onOutputLost && !finished_)
            QMetaObject::invokeMethod(QCoreApplication::instance(), [this] {
                if (onOutputLost && !finished_)
                    onOutputLost();
            }, Qt::QueuedConnection);
    };
    // Every frame sent and received, on stderr as it happens, with its meaning.
    if (options.trace) {
        traceObserver_ = AddFrameObserver([](const FrameEvent& e) {
            Report::diagnostic(FormatTraceLine(e) + QStringLiteral("   ") + DescribeFrame(e));
        });
    }

    // The selections of the Communication Settings group, applied as the
    // window applies them on start-up.
    host.setText(QStringLiteral("cbb_pdType"), options.product);
    host.setText(QStringLiteral("cbb_addr"), QStringLiteral("%1").arg(options.addr, 2, 16, QLatin1Char('0')).toUpper());
    host.setText(QStringLiteral("cbb2"), QString::number(options.baud));
    run(cbb_pdTypeChange);
    run(cbb_addrChange);
    run(SetupGridLabels);
}

Session::~Session()
{
    report.onOutputFailed = nullptr;
    RemoveInterruptHandler();
    if (traceObserver_ >= 0)
        RemoveFrameObserver(traceObserver_);
    tmr1.setEnabled(false);
    tmr2.setEnabled(false);
    tmr3.setEnabled(false);
    tmr4.setEnabled(false);
    comm_->CloseComm();
    App = AppContext{};
    Hooks = DispatchHooks{};
    UpgradeHooks = UpgradeHooksT{};
    AppHooks = AppHookSet{};
}

void Session::wire()
{
    host.onMessage = [this](const QString& m) { report.message(m); };
    host.onError = [this](const QString& m) {
        if (finished_)
            return; // the handler stopped after the end (stopHandlerOnFinish)
        ++errors_;
        report.error(m);
    };
    host.onLine = [this](const QString& memo, const QString& line) {
        // Every good frame notes "communication is normal" in the window;
        // the image lines of an upgrade fill its second memo.
        if (memo != QLatin1String("mmo1") || line.startsWith(QLatin1String("Note: communication is normal!")))
            return;
        report.note(line);
    };
    host.onQuestion = [this](const QString& caption, const QString& question) { return ask(caption, question); };

    WireHooks();
    WireTimers();
    // The command line logs one row per rotation, not one per frame.
    AppHooks.dataLogRow = nullptr;
    Hooks.readOutcome = [this](const ReadOutcome& outcome) {
        if (outcome.kind == ReadOutcomeKind::Refused)
            record(ErrorKind::Refused, QStringLiteral("The pack refused register %1, exception code %2")
                                           .arg(HexText(outcome.reg, 4), HexText(outcome.exceptionCode, 2)));
        if (onRead && !finished_)
            onRead(outcome);
    };
    Hooks.frameAccepted = [this] {
        if (onFrame && !finished_)
            onFrame();
    };
    const auto timeout = tmr2.OnTimer;
    tmr2.OnTimer = [this, timeout] {
        record(ErrorKind::Timeout, QStringLiteral("The pack did not answer within %1 ms").arg(options.timeoutMs));
        timeout();
        if (onTimeout && !finished_)
            onTimeout();
    };
}

bool Session::ask(const QString& caption, const QString& question)
{
    if (options.yes)
        return true;
    if (!::isatty(STDIN_FILENO)) {
        report.error(question + QStringLiteral(" (not answered: give --yes to answer Yes)"));
        return false;
    }
    std::fprintf(stderr, "%s: %s [y/N] ", qPrintable(caption), qPrintable(question));
    std::fflush(stderr);
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

int Session::openPort()
{
    const QString name = ResolvePortName(options.port);
    if (name.isEmpty()) {
        fail(ErrorKind::Usage, QStringLiteral("No port given: --port NAME (quorlex-bms-cli ports lists them)"));
        return kExitUsage;
    }
    host.setText(QStringLiteral("cbb1"), name);
    // The window's port settings, except that a read is handed on as soon as
    // bytes are in rather than 1 ms after the last one.
    ApplyCm1Design(*comm_);
    comm_->setReadIntervalTimeout(kReadIntervalImmediate);
    comm_->OnReceiveData = [this](const uint8_t* buffer, uint16_t length) {
        if (onBytes && !finished_)
            onBytes(length);
        const int32_t badBefore = CrcErrorCount;
        run([&] { cm1ReceiveData(buffer, length); });
        if (CrcErrorCount != badBefore && CrcErrorCount > 0 && !finished_) {
            fail(ErrorKind::Crc, QStringLiteral("An answer failed its CRC check"));
            if (onBadFrame)
                onBadFrame();
        }
    };
    // A vanished device: closed as the window closes it (its memo line says
    // which port was lost), and the command ends.
    comm_->OnRequestHangup = [this] {
        run([this] { cm1RequestHangup(*comm_); });
        if (onHangup && !finished_)
            return onHangup();
        finish(kExitPack);
    };
    try {
        opencomClick(*comm_);
    } catch (const Error& e) {
        fail(ErrorKind::Port, e.message() + QStringLiteral(" (") + name + QLatin1Char(')'));
        return kExitPort;
    }
    return kExitDone;
}

bool Session::run(const std::function<void()>& handler)
{
    const int before = errors_;
    RunGuarded(handler);
    return errors_ == before;
}

void Session::stopHandlerOnFinish()
{
    link_->stopHandler = true;
}

uint64_t Session::framesSent() const
{
    return link_->frames;
}

uint8_t Session::lastFunctionSent() const
{
    return link_->lastFunction;
}

const std::set<uint16_t>& Session::registersWritten() const
{
    return link_->registers;
}

void Session::fail(ErrorKind kind, const QString& message)
{
    report.error(message);
    record(kind, message);
}

void Session::record(ErrorKind kind, const QString& message)
{
    failures_.push_back({kind, message});
}

QJsonValue Session::errorObject(int code) const
{
    if (code == kExitDone)
        return QJsonValue::Null;
    // The kind the exit status stands for; for the pack's failures, the
    // last one seen.
    ErrorKind kind = ErrorKind::Refused;
    switch (code) {
    case kExitUsage: kind = ErrorKind::Usage; break;
    case kExitPort: kind = ErrorKind::Port; break;
    case kExitOutput: kind = ErrorKind::Io; break;
    case kExitDatabase: kind = ErrorKind::Database; break;
    case kExitPack:
        for (const Failure& f : failures_)
            if (f.kind == ErrorKind::Timeout || f.kind == ErrorKind::Crc || f.kind == ErrorKind::Refused)
                kind = f.kind;
        break;
    default: kind = ErrorKind::Interrupted; break;
    }
    QString message;
    for (const Failure& f : failures_)
        if (f.kind == kind)
            message = f.message;
    if (message.isEmpty())
        message = !report.lastError().isEmpty() ? report.lastError() : report.lastMessage();
    return QJsonObject{{QStringLiteral("kind"), ErrorKindName(kind)}, {QStringLiteral("message"), message}};
}

void Session::finish(int code, QJsonObject result)
{
    if (finished_)
        return;
    finished_ = true;
    link_->closed = true;
    tmr1.setEnabled(false);
    tmr2.setEnabled(false);
    tmr4.setEnabled(false);
    const bool outputFailed = std::any_of(failures_.begin(), failures_.end(),
                                          [](const Failure& f) { return f.kind == ErrorKind::Io; });
    if (outputFailed && (code == kExitDone || code == kExitPack))
        code = kExitOutput;
    const QJsonObject shape = ResultShape(options.command);
    for (auto it = shape.begin(); it != shape.end(); ++it)
        if (!result.contains(it.key()))
            result.insert(it.key(), QJsonValue::Null);
    if (!result.contains(QStringLiteral("error")))
        result.insert(QStringLiteral("error"), errorObject(code));
    result.insert(QStringLiteral("exit"), code);
    report.object(result);
    // The last object itself may be what could not be written.
    if (report.outputFailed() && (code == kExitDone || code == kExitPack))
        code = kExitOutput;
    exitCode_ = code;
    QCoreApplication::exit(code);
}

void Session::interrupted(int signal)
{
    if (finished_)
        return;
    signal_ = signal;
    if (onInterrupt) {
        onInterrupt();
        return;
    }
    fail(ErrorKind::Interrupted, QStringLiteral("Interrupted (%1)").arg(SignalName(signal)));
    finish(interruptExitCode());
}

} // namespace bms::cli
