// Reads a few blocks of the pack at the current address one after the
// other (8: the information block, 0..7 telemetry blocks), each as soon as
// the one before was answered or refused; the first that gets no good
// answer ends the reads. The scan of a bus reads an address's identity so,
// and tells a garbled answer (two packs answering at once) from silence.
#pragma once

#include <QObject>
#include <functional>
#include <set>
#include <vector>

namespace bms {
struct ReadOutcome;
}

namespace bms::cli {

class Session;

class BlockReads {
public:
    struct Result {
        std::set<int> answered;
        std::set<int> refused;
        bool garbled = false;  // an answer failed its CRC check
        bool timedOut = false; // a read got no answer in time
        qint64 bytes = 0;      // bytes that came from the line meanwhile
    };

    explicit BlockReads(Session& session);
    void start(std::vector<int> blocks, std::function<void(const Result&)> done);
    // Bytes received, counted from the session's byte events.
    void countBytes(int count) { result_.bytes += count; }

private:
    void read(const ReadOutcome& outcome);
    void next();
    void end();

    Session& s_;
    QObject context_;
    int generation_ = 0;
    std::vector<int> blocks_;
    size_t index_ = 0;
    bool active_ = false;
    Result result_;
    std::function<void(const Result&)> done_;
};

} // namespace bms::cli
