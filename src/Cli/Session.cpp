#include "Session.h"

#include "App.h"
#include "CommRecord.h"
#include "Connection.h"
#include "Errors.h"
#include "FrameRecord.h"
#include "Hooks.h"
#include "Interrupt.h"
#include "PackTable.h"
#include "Receive.h"
#include "RuntimePorts.h"
#include "Selectors.h"
#include "SerialComm.h"
#include "Settings.h"
#include "UpgradeHooks.h"
#include "Wiring.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
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
        ++frames;
        if (length >= 2)
            lastFunction = data[1];
        if (length >= 8 && data[1] == 0x10)
            registers.insert(static_cast<uint16_t>(data[2] << 8 | data[3]));
        return port_.SendData(data, length);
    }
    uint64_t frames = 0;
    uint8_t lastFunction = 0;
    std::set<uint16_t> registers;

private:
    TComm& port_;
};

QString ResolvePortName(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return name;
    const QDir runtime(QString::fromStdString(RuntimePortDir()));
    for (const QString& candidate : {name, QStringLiteral("virtual-pack-") + name}) {
        const QString path = runtime.filePath(candidate);
        if (QFileInfo::exists(path))
            return path;
    }
    return name;
}

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
    InstallInterruptHandler([this] { interrupted(); });
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
        if (onRead && !finished_)
            onRead(outcome);
    };
    Hooks.frameAccepted = [this] {
        if (onFrame && !finished_)
            onFrame();
    };
    const auto timeout = tmr2.OnTimer;
    tmr2.OnTimer = [this, timeout] {
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
        report.error(QStringLiteral("No port given: --port NAME (quorlex-bms-cli ports lists them)"));
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
            report.error(QStringLiteral("An answer failed its CRC check"));
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
        report.error(e.message() + QStringLiteral(" (") + name + QLatin1Char(')'));
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

void Session::finish(int code, QJsonObject result)
{
    if (finished_)
        return;
    finished_ = true;
    exitCode_ = code;
    tmr1.setEnabled(false);
    tmr2.setEnabled(false);
    tmr4.setEnabled(false);
    result.insert(QStringLiteral("exit"), code);
    report.object(result);
    QCoreApplication::exit(code);
}

void Session::interrupted()
{
    if (onInterrupt && !finished_) {
        onInterrupt();
        return;
    }
    report.error(QStringLiteral("Interrupted"));
    finish(130);
}

} // namespace bms::cli
