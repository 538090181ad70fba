// One rotation of the telemetry blocks, read back to back: block 0 first,
// then each block the sampling loop's rotation names next, as soon as the
// previous one has been answered or refused, until the rotation is back at
// block 0. The requests, the matching of answers, the decoding and the next
// block are the sampling loop's.
#pragma once

#include <QObject>
#include <functional>
#include <set>

namespace bms {
struct ReadOutcome;
}

namespace bms::cli {

class Session;

class Rotation {
public:
    explicit Rotation(Session& session);

    // Starts a rotation at block 0. `done` runs once at its end: complete
    // when every block was answered; otherwise a block was refused (the
    // rotation went on past it) or got no answer (the rotation ends there).
    void start(std::function<void(bool complete)> done);
    // Blocks answered, and refused, in the rotation (or the last one).
    const std::set<int>& answered() const { return answered_; }
    const std::set<int>& refused() const { return refused_; }
    bool running() const { return running_; }
    void stop() { running_ = false; }

private:
    void read(const ReadOutcome& outcome);
    void send();
    void end(bool complete);

    Session& s_;
    QObject context_;
    std::set<int> answered_;
    std::set<int> refused_;
    int asked_ = -1; // block of the request in flight
    std::function<void(bool)> done_;
    bool running_ = false;
};

} // namespace bms::cli
