// The polling loop: the start/stop button, one telemetry read per tick of
// tmr1 and the reply time-out of tmr2; and the pause/resume of polling that
// every settings command wraps around its request.
#pragma once

#include <QString>

namespace bms {

// "Start Sampling" / "Close Sampling" button: toggles sampling.
void cybtnClick();
// One poll: reads the next register block unless an information read is
// outstanding, then keeps tmr1 running at the sampling interval.
void tmr1Timer();
// No complete frame within 500 ms of the last request.
void tmr2Timer();

// Restarts tmr1 at SampleIntervalMs when sampling is on; leaves it alone
// otherwise.
void ResumeSampling();

// The local time as hh:mm:ss (memo lines and the status-bar clock).
QString ClockText();

// Stops tmr1 for the lifetime of the object and resumes sampling when it
// ends, also when the handler leaves through an exception.
class SamplingPause {
public:
    SamplingPause();
    ~SamplingPause();
    SamplingPause(const SamplingPause&) = delete;
    SamplingPause& operator=(const SamplingPause&) = delete;
    // Resumes now; the end of the object then does nothing more.
    void resumeNow();

private:
    bool pending_ = true;
};

// A modal message box is open for the lifetime of the object. Polling and
// logging go on meanwhile: when sampling is on but paused by the handler
// that shows the box (SamplingPause, a workbook toggle), it is resumed at
// once and paused again when the box closes, so that the rest of the handler
// still runs with polling paused.
class ModalBoxScope {
public:
    ModalBoxScope();
    ~ModalBoxScope();
    ModalBoxScope(const ModalBoxScope&) = delete;
    ModalBoxScope& operator=(const ModalBoxScope&) = delete;

private:
    bool resumed_ = false;
};

} // namespace bms
