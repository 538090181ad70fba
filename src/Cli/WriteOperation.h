// A setting or calibration written through its button's handler, and the
// pack's answer judged: the echo of the written register or an exception;
// for the pack's own functions (whose answer says nothing of the value) the
// line falling quiet, then the information read back; for writes that the
// dispatcher follows with an information read, that read. `set`,
// `calibrate` and the station run's writes all go through here; each front
// end turns the outcome into its own verdict.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

namespace bms {
struct ReadOutcome;
}

namespace bms::cli {

class Session;
struct Setting;

struct WriteOutcome {
    enum class Ending {
        NotSent,        // the handler refused the input or sent nothing; its message says why
        NoAnswer,       // the reply time-out passed, or a corrupted answer came, with no answer judged
        Answered,       // the answer is in, and the information read that followed it, if any
        ReadBackFailed, // the information read that follows the answer was refused, unanswered or not sent
    };
    enum class Answer { None, Acknowledged, Refused };

    Ending ending = Ending::NoAnswer;
    Answer answer = Answer::None; // the echo or exception of a function-16 write
    int exception = 0;            // with Refused
    bool ownFunction = false;     // written with one of the pack's own functions
    bool readingBack = false;     // own function: the information was asked to read the value back
    bool reReadRequested = false; // the dispatcher asked for the information after the answer
    bool readBackUnsent = false;  // ReadBackFailed: the read-back's request could not be made
    bool infoArrived = false;     // the last information read of the write was decoded
    bool infoFailed = false;      // ... refused or unanswered

    // Whether the information was asked for after the answer.
    bool readBackAsked() const { return reReadRequested || readingBack; }
};

class WriteOperation {
public:
    explicit WriteOperation(Session& session);
    ~WriteOperation();
    WriteOperation(const WriteOperation&) = delete;
    WriteOperation& operator=(const WriteOperation&) = delete;

    // Runs `handler` (prepared for `setting`) with the session's events
    // wired to this write; `done` runs once with the outcome, from the
    // event that decided it, unless the write is cancelled first. The
    // events stay wired to the operation, which ignores them once it has
    // ended, until the next operation wires its own.
    void start(const Setting& setting, const std::function<void()>& handler,
               std::function<void(const WriteOutcome&)> done);
    // Forgets the write in flight: `done` is not called.
    void cancel();

    // The state so far (the outcome once ended).
    const WriteOutcome& state() const { return o_; }
    // The handler is still running (a wait inside it lets events in).
    bool handlerRunning() const { return running_; }
    // Frames sent since the write started.
    uint64_t framesSent() const;

    // Called when the pack refuses the write, as its exception is judged.
    std::function<void(int exception)> onRefused;
    // A reply time-out or a corrupted answer once the handler has returned
    // ends the write unanswered even after an answer was judged or bytes of
    // an own-function answer came (the command line's rule); otherwise such
    // a write goes on to its answer or read-back.
    bool anyTimeoutEnds = false;

private:
    void judge();
    void proceed();
    void read(const ReadOutcome& read);
    void noAnswer();
    void ownFunctionAnswered();
    void end(WriteOutcome::Ending ending);

    Session& s_;
    std::function<void()> reRead_;
    QObject context_;
    QTimer quiet_;
    const Setting* setting_ = nullptr;
    std::function<void(const WriteOutcome&)> done_;
    WriteOutcome o_;
    int generation_ = 0;
    uint64_t framesBefore_ = 0;
    bool active_ = false;
    bool running_ = false;
    bool bytesSeen_ = false;
    bool waitingInfo_ = false;
};

} // namespace bms::cli
