#include "WriteOperation.h"

#include "Later.h"
#include "SetCommands.h"
#include "Session.h"

#include "Codec.h"
#include "CommRecord.h"
#include "Hooks.h"
#include "RequestBuilder.h"

#include <utility>

namespace bms::cli {

namespace {

// The pack's own functions: their answers say nothing of the value, so only
// a read-back can tell whether it arrived.
bool IsOwnFunction(uint8_t function) { return function == 0x14 || function == 0x1B || function == 0x52; }

// Bytes of an own-function answer are taken as complete once the line has
// been quiet this long.
constexpr int kQuietMs = 20;

} // namespace

WriteOperation::WriteOperation(Session& session) : s_(session), reRead_(Hooks.reReadDeviceInfo)
{
    // A write the dispatcher follows with an information read: the write's
    // answer is complete once that read is in.
    Hooks.reReadDeviceInfo = [this] {
        if (active_)
            o_.reReadRequested = true;
        s_.host.forgetWrites();
        if (reRead_)
            reRead_();
    };
    quiet_.setSingleShot(true);
    QObject::connect(&quiet_, &QTimer::timeout, &context_, [this] { ownFunctionAnswered(); });
}

WriteOperation::~WriteOperation()
{
    Hooks.reReadDeviceInfo = reRead_;
}

uint64_t WriteOperation::framesSent() const
{
    return s_.framesSent() - framesBefore_;
}

void WriteOperation::cancel()
{
    ++generation_;
    active_ = false;
    running_ = false;
    quiet_.stop();
    done_ = nullptr;
}

void WriteOperation::start(const Setting& setting, const std::function<void()>& handler,
                           std::function<void(const WriteOutcome&)> done)
{
    cancel();
    const int generation = generation_;
    active_ = true;
    setting_ = &setting;
    done_ = std::move(done);
    o_ = {};
    bytesSeen_ = false;
    waitingInfo_ = false;

    s_.onFrame = [this] { judge(); };
    s_.onTimeout = [this] { noAnswer(); };
    // A corrupted answer ends the wait as a time-out would.
    s_.onBadFrame = [this] { noAnswer(); };
    s_.onRead = [this](const ReadOutcome& outcome) { read(outcome); };
    s_.onBytes = [this](int) {
        if (!active_)
            return;
        bytesSeen_ = true;
        if (o_.ownFunction && !o_.readingBack)
            quiet_.start(kQuietMs);
    };

    framesBefore_ = s_.framesSent();
    running_ = true;
    const bool ok = s_.run(handler);
    if (generation != generation_)
        return; // cancelled, or another write started, while the handler waited
    running_ = false;
    if (!ok || framesSent() == 0)
        return end(WriteOutcome::Ending::NotSent);
    if (IsOwnFunction(s_.lastFunctionSent())) {
        o_.ownFunction = true;
        if (bytesSeen_)
            quiet_.start(kQuietMs);
        else if (!s_.tmr2.enabled())
            end(WriteOutcome::Ending::NoAnswer);
        return;
    }
    if (o_.answer != WriteOutcome::Answer::None)
        proceed();
    else if (!s_.tmr2.enabled())
        end(WriteOutcome::Ending::NoAnswer); // the time-out fired while the handler waited
}

// A frame with a good CRC, before the dispatcher acts on it.
void WriteOperation::judge()
{
    if (!active_ || o_.answer != WriteOutcome::Answer::None)
        return;
    const uint8_t function = MY_COM.RxBuf[1];
    if (function == 0x10 && MY_COM.RxLen == 8 && s_.registersWritten().count(ReadU16BE(MY_COM.RxBuf.data(), 2))) {
        o_.answer = WriteOutcome::Answer::Acknowledged;
    } else if (function == 0x90) {
        o_.answer = WriteOutcome::Answer::Refused;
        o_.exception = MY_COM.RxBuf[2];
        if (onRefused)
            onRefused(o_.exception);
    } else {
        return;
    }
    // The dispatcher reports the answer (and may ask for the information
    // read-back) before its dispatch returns; go on after that. A handler
    // still running is judged when it returns.
    if (!running_)
        Later(context_, generation_, [this] { proceed(); });
}

void WriteOperation::proceed()
{
    if (!active_)
        return;
    if (o_.reReadRequested && !o_.infoArrived) {
        if (o_.infoFailed)
            return end(WriteOutcome::Ending::ReadBackFailed);
        waitingInfo_ = true;
        return;
    }
    end(WriteOutcome::Ending::Answered);
}

void WriteOperation::read(const ReadOutcome& read)
{
    if (!active_ || read.block != 8 || read.kind == ReadOutcomeKind::Dropped)
        return;
    o_.infoArrived = read.kind == ReadOutcomeKind::Decoded;
    o_.infoFailed = !o_.infoArrived;
    if (o_.readingBack || waitingInfo_)
        end(o_.infoArrived ? WriteOutcome::Ending::Answered : WriteOutcome::Ending::ReadBackFailed);
}

// The reply time-out fired, or an answer failed its CRC check.
void WriteOperation::noAnswer()
{
    // A time-out inside the handler is judged when it returns.
    if (!active_ || running_)
        return;
    if (o_.readingBack || waitingInfo_)
        return end(WriteOutcome::Ending::ReadBackFailed);
    if (!anyTimeoutEnds && (o_.answer != WriteOutcome::Answer::None || (o_.ownFunction && bytesSeen_)))
        return;
    end(WriteOutcome::Ending::NoAnswer);
}

// The answer to an own-function write is in: read the value back.
void WriteOperation::ownFunctionAnswered()
{
    if (!active_ || o_.readingBack)
        return;
    // The answer came; it needs no time-out line.
    s_.tmr2.setEnabled(false);
    if (!setting_->readBack)
        return end(WriteOutcome::Ending::Answered);
    o_.readingBack = true;
    s_.host.forgetWrites();
    if (!s_.run([] { BuildRequest(cmd_read_info); })) {
        o_.readBackUnsent = true;
        end(WriteOutcome::Ending::ReadBackFailed);
    }
}

void WriteOperation::end(WriteOutcome::Ending ending)
{
    if (!active_)
        return;
    active_ = false;
    quiet_.stop();
    o_.ending = ending;
    // `done` may start the next operation, which resets the state.
    const WriteOutcome outcome = o_;
    if (const auto done = std::exchange(done_, nullptr))
        done(outcome);
}

} // namespace bms::cli
