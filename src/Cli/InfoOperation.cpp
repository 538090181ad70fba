#include "InfoOperation.h"

#include "Later.h"
#include "Session.h"

#include "CommRecord.h"
#include "Hooks.h"
#include "RequestBuilder.h"

#include <utility>

namespace bms::cli {

InfoOperation::InfoOperation(Session& session) : s_(session) {}

void InfoOperation::cancel()
{
    ++generation_;
    active_ = false;
    done_ = nullptr;
}

void InfoOperation::start(bool versions, std::function<void(const InfoOutcome&)> done)
{
    cancel();
    active_ = true;
    wantVersions_ = versions;
    done_ = std::move(done);
    o_ = {};
    s_.onRead = [this](const ReadOutcome& outcome) { read(outcome); };
    s_.onBadFrame = [this] { end(InfoOutcome::Failure::BadFrame); };
    s_.host.forgetWrites();
    // The request of "Read Info"; with no sampling to pause, the handler's
    // 200 ms wait has nothing to do and is left out.
    if (!s_.run([] { BuildRequest(cmd_read_info); }))
        end(InfoOutcome::Failure::NotSent);
}

void InfoOperation::read(const ReadOutcome& read)
{
    if (!active_ || read.block != (o_.info ? 0 : 8) || read.kind == ReadOutcomeKind::Dropped)
        return;
    if (read.kind == ReadOutcomeKind::Refused)
        return end(InfoOutcome::Failure::Refused);
    if (read.kind == ReadOutcomeKind::TimedOut)
        return end(InfoOutcome::Failure::TimedOut);
    if (o_.info) {
        o_.versions = true;
        return end(InfoOutcome::Failure::None);
    }
    o_.info = true;
    if (!wantVersions_)
        return end(InfoOutcome::Failure::None);
    // Then the firmware versions, from block 0, once the dispatch of this
    // answer is over.
    Later(context_, generation_, [this] { readVersions(); });
}

void InfoOperation::readVersions()
{
    if (!active_)
        return;
    ReadBlock = 0;
    if (!s_.run([] { BuildRequest(cmd_read_block); }))
        end(InfoOutcome::Failure::NotSent);
}

void InfoOperation::end(InfoOutcome::Failure failure)
{
    if (!active_)
        return;
    active_ = false;
    o_.failure = failure;
    const InfoOutcome outcome = o_;
    if (const auto done = std::exchange(done_, nullptr))
        done(outcome);
}

} // namespace bms::cli
