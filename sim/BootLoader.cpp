#include "BootLoader.h"

namespace bms::sim {

namespace {

constexpr uint8_t CodeRebooting = 0x31, CodeErase = 0x32, CodeFirstWrite = 0x33, CodeNextWrite = 0x34,
                  CodeWriteError = 0x35, CodeCheck = 0x36, CodeComplete = 0x38;
constexpr uint8_t BootReboot = 0x30, BootErase = 0x37;
// The three frames of the reboot order come within a few hundred ms.
constexpr double ArmSeconds = 3.0;

// An Intel-HEX record: ':' L addr(2) type data(L) checksum, summing to zero from L on.
bool RecordValid(const std::vector<uint8_t>& r)
{
    if (r.size() < 6 || r.size() != 6u + r[1])
        return false;
    unsigned sum = 0;
    for (size_t i = 1; i < r.size(); ++i)
        sum += r[i];
    return (sum & 0xFF) == 0;
}

} // namespace

void BootLoader::enter(State state, double now, std::optional<double> due)
{
    state_ = state;
    lastActivity_ = now;
    due_ = due;
}

BootLoader::Codes BootLoader::onRebootOrder(double now)
{
    if (state_ == State::Application || state_ == State::Armed || state_ == State::BootCommand)
        enter(State::Armed, now);
    return {};
}

BootLoader::Codes BootLoader::onBootCommand(uint8_t command, double now)
{
    if (command == BootReboot && state_ == State::Armed) {
        enter(State::BootCommand, now);
    } else if (command == BootErase && (state_ == State::WaitErase || state_ == State::Erasing
                                        || state_ == State::Writing)) {
        records_ = 0;
        enter(State::Erasing, now, now + timing_.eraseMs / 1000.0);
    } else if (inBootLoader()) {
        lastActivity_ = now;
    }
    return {};
}

BootLoader::Codes BootLoader::onRebootFrame(double now)
{
    if (state_ != State::BootCommand && !inBootLoader())
        return {};
    enter(State::Rebooting, now, now + timing_.rebootMs / 1000.0);
    return {CodeRebooting};
}

BootLoader::Codes BootLoader::onRecord(const std::vector<uint8_t>& record, bool failWrite, double now)
{
    if (state_ != State::Writing)
        return {};
    ++records_;
    lastActivity_ = now;
    if (failWrite || !RecordValid(record)) {
        // The board stays in its boot loader and waits for a new reboot order.
        enter(State::WaitErase, now);
        return {CodeWriteError};
    }
    if (record[4] == 0x01) {
        enter(State::Checking, now, now + timing_.checkMs / 1000.0);
        return {CodeCheck};
    }
    return {CodeNextWrite};
}

BootLoader::Codes BootLoader::poll(double now)
{
    if (due_ && now >= *due_) {
        switch (state_) {
        case State::Rebooting: enter(State::WaitErase, now); return {CodeErase};
        case State::Erasing: enter(State::Writing, now); return {CodeFirstWrite};
        case State::Checking: enter(State::Application, now); return {CodeComplete};
        default: due_.reset(); break;
        }
    }
    if ((state_ == State::Armed || state_ == State::BootCommand) && now - lastActivity_ > ArmSeconds)
        enter(State::Application, now);
    if (inBootLoader() && !due_ && now - lastActivity_ > timing_.idleMs / 1000.0)
        enter(State::Application, now);
    return {};
}

std::optional<double> BootLoader::nextDeadline() const
{
    if (due_)
        return due_;
    if (state_ == State::Armed || state_ == State::BootCommand)
        return lastActivity_ + ArmSeconds;
    if (inBootLoader())
        return lastActivity_ + timing_.idleMs / 1000.0;
    return std::nullopt;
}

} // namespace bms::sim
