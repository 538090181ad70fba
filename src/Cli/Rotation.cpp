#include "Rotation.h"

#include "Session.h"

#include "CommRecord.h"
#include "Hooks.h"
#include "RequestBuilder.h"

#include <QMetaObject>

namespace bms::cli {

Rotation::Rotation(Session& session) : s_(session) {}

void Rotation::start(std::function<void(bool)> done)
{
    done_ = std::move(done);
    answered_.clear();
    refused_.clear();
    running_ = true;
    s_.onRead = [this](const ReadOutcome& outcome) { read(outcome); };
    s_.onBadFrame = [this] {
        if (running_)
            end(false);
    };
    ReadBlock = 0;
    send();
}

void Rotation::read(const ReadOutcome& outcome)
{
    // A late answer to an earlier request is decoded by the core, but the
    // rotation waits for the answer to its own.
    if (!running_ || outcome.block != asked_)
        return;
    switch (outcome.kind) {
    case ReadOutcomeKind::Decoded: answered_.insert(outcome.block); break;
    case ReadOutcomeKind::Refused: refused_.insert(outcome.block); break;
    case ReadOutcomeKind::TimedOut: return end(false);
    case ReadOutcomeKind::Dropped: return;
    }
    // The rotation ends, or its next request goes out, once the dispatch of
    // this answer has returned: the grids and labels are refreshed after the
    // outcome is reported, and the next request starts from a clean receive
    // state.
    const bool last = ReadBlock == 0;
    QMetaObject::invokeMethod(&context_, [this, last] {
        if (!running_)
            return;
        if (last)
            end(refused_.empty());
        else
            send();
    }, Qt::QueuedConnection);
}

void Rotation::send()
{
    if (!running_ || s_.finished())
        return;
    asked_ = ReadBlock;
    if (!s_.run([] { BuildRequest(cmd_read_block); }))
        end(false);
}

void Rotation::end(bool complete)
{
    running_ = false;
    if (done_)
        done_(complete);
}

} // namespace bms::cli
