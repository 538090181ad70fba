// The command line's composition root: the window interface (CliHost), the
// serial port component, the four timers and the dispatcher's consumers,
// wired into the core exactly as the window wires them. A command opens the
// port, runs the window's handlers, listens to the events below and ends the
// program with finish().
#pragma once

#include "CliHost.h"
#include "CliOptions.h"
#include "Hooks.h"
#include "Link.h"
#include "PortName.h"
#include "Report.h"
#include "Timer.h"

#include <QJsonObject>
#include <functional>
#include <vector>
#include <memory>
#include <set>

namespace bms {
class TComm;
}

namespace bms::cli {

enum ExitCode : int {
    kExitDone = 0,
    kExitPack = 1,   // the pack refused or did not answer
    kExitUsage = 2,  // bad usage or bad input; nothing sent
    kExitPort = 3,   // the port could not be opened
    kExitOutput = 4, // stdout or a log file could not be written
    kExitDatabase = 6, // the records commands: a database could not be used
    // A signal ends a command with 128 + its number: 129 SIGHUP, 130 SIGINT,
    // 143 SIGTERM.
    kExitSignal = 128,
};


class Session {
public:
    Session(const Options& options, Report& report);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens the port as "Open Port" does, with received bytes handed on as
    // soon as they are in. Returns kExitDone, or the exit code after the
    // reason has been reported.
    int openPort();

    // Runs a handler of the window's logic; an error it raises goes to the
    // report as the general error handler would show it. False on an error.
    bool run(const std::function<void()>& handler);

    // A handler still running when the command ends (an interrupt in one of
    // its waits) is stopped at its next frame rather than left to finish
    // without sending. Only for commands whose timers send nothing of their
    // own: the stop is an error that Session::run's guard catches.
    void stopHandlerOnFinish();

    // Frames written to the port so far (requests and image records).
    uint64_t framesSent() const;
    // Function code of the last frame written (0 before the first).
    uint8_t lastFunctionSent() const;
    // Start registers of the function-16 writes sent so far.
    const std::set<uint16_t>& registersWritten() const;
    // Errors the general error handler has shown so far.
    int errorsShown() const { return errors_; }

    // Reports `message` as an error and keeps it as the reason of a failure
    // of `kind`; record() only keeps it (the reason has been told already).
    // The last reason of the kind the exit status stands for becomes the
    // JSON error object.
    void fail(ErrorKind kind, const QString& message);
    void record(ErrorKind kind, const QString& message);

    // Ends the program with `code`. In JSON mode `result`, with the command's
    // other keys (null), "error" and "exit" added, is the last object
    // printed. A failed output turns a code of 0 or 1 into kExitOutput. Later
    // calls change nothing; nothing is sent to the pack after the first.
    void finish(int code, QJsonObject result = {});
    // The "error" of the last object for an exit status: null for 0, else
    // the kind the status stands for with the last message of that kind. A
    // command whose statuses mean something else puts its own "error" into
    // the result it finishes with.
    QJsonValue errorObject(int code) const;
    bool finished() const { return finished_; }
    int exitCode() const { return exitCode_; }
    // The signal that ended the command (0: none), and its exit status.
    int interruptSignal() const { return signal_; }
    int interruptExitCode() const { return kExitSignal + signal_; }

    const Options& options;
    Report& report;
    CliHost host;
    Timer tmr1, tmr2, tmr3, tmr4;

    // Events for the running command.
    // What became of a read: decoded (and shown) as its block (8: the
    // information block), refused by the pack, dropped, or timed out.
    std::function<void(const ReadOutcome& outcome)> onRead;
    // The reply time-out fired; its memo line has been reported.
    std::function<void()> onTimeout;
    // A frame failed its CRC check and was dropped. The reply time-out ends
    // with it (as in the window, without a line), so nothing else follows.
    std::function<void()> onBadFrame;
    // `count` bytes arrived from the port, before the receive assembly.
    std::function<void(int count)> onBytes;
    // A frame passed its CRC check and is about to be acted on (MY_COM.RxBuf
    // and RxLen hold it).
    std::function<void()> onFrame;
    // Ctrl-C, SIGTERM or SIGHUP (interruptSignal() says which). Without a
    // handler the command ends with interruptExitCode().
    std::function<void()> onInterrupt;
    // The port was lost (the device vanished) and has been closed; unset,
    // the program ends with kExitPack.
    std::function<void()> onHangup;
    // Stdout can no longer be written (the reason is reported); a command
    // that would go on printing ends. Without a handler the command goes on
    // and ends with kExitOutput.
    std::function<void()> onOutputLost;

private:
    class CountingLink;
    struct Failure {
        ErrorKind kind;
        QString message;
    };
    void wire();
    bool ask(const QString& caption, const QString& question);
    void interrupted(int signal);

    std::unique_ptr<TComm> comm_;
    std::unique_ptr<CountingLink> link_;
    bool finished_ = false;
    int exitCode_ = kExitDone;
    int errors_ = 0;
    int signal_ = 0;
    int traceObserver_ = -1;
    std::vector<Failure> failures_;
};

} // namespace bms::cli
