// The information read of "Read Info" (block 8) and, where the firmware
// versions are wanted, a read of block 0 after it, with the session's
// events wired to it while it runs. `info` and the station run's
// information reads go through here; the answers are decoded into the
// window's controls, where InfoObject and InfoLines find them.
#pragma once

#include <QObject>
#include <functional>

namespace bms {
struct ReadOutcome;
}

namespace bms::cli {

class Session;

struct InfoOutcome {
    enum class Failure {
        None,     // everything asked for was read
        NotSent,  // a request could not be made; the handler's message says why
        Refused,  // the pack refused a read
        TimedOut, // the pack did not answer a read
        BadFrame, // an answer failed its CRC check
    };
    Failure failure = Failure::None;
    bool info = false;     // the information block was decoded
    bool versions = false; // block 0 was decoded after it
};

class InfoOperation {
public:
    explicit InfoOperation(Session& session);

    // Reads the information block and, with `versions`, block 0 after it;
    // `done` runs once, from the event that ended the read, unless the read
    // is cancelled first.
    void start(bool versions, std::function<void(const InfoOutcome&)> done);
    // Forgets the read in flight: `done` is not called.
    void cancel();

private:
    void read(const ReadOutcome& read);
    void readVersions();
    void end(InfoOutcome::Failure failure);

    Session& s_;
    QObject context_;
    std::function<void(const InfoOutcome&)> done_;
    InfoOutcome o_;
    int generation_ = 0;
    bool active_ = false;
    bool wantVersions_ = false;
};

} // namespace bms::cli
