#include "BlockReads.h"

#include "Later.h"
#include "Session.h"

#include "CommRecord.h"
#include "Hooks.h"
#include "RequestBuilder.h"

#include <utility>

namespace bms::cli {

BlockReads::BlockReads(Session& session) : s_(session) {}

void BlockReads::start(std::vector<int> blocks, std::function<void(const Result&)> done)
{
    ++generation_;
    blocks_ = std::move(blocks);
    done_ = std::move(done);
    index_ = 0;
    result_ = {};
    active_ = true;
    s_.onRead = [this](const ReadOutcome& outcome) { read(outcome); };
    s_.onBadFrame = [this] {
        result_.garbled = true;
        end();
    };
    next();
}

void BlockReads::next()
{
    if (!active_ || s_.finished())
        return;
    if (index_ >= blocks_.size())
        return end();
    const int block = blocks_[index_];
    bool sent = false;
    if (block == 8) {
        // The identity is read back from the controls the answer fills.
        s_.host.forgetWrites();
        sent = s_.run([] { BuildRequest(cmd_read_info); });
    } else {
        ReadBlock = block;
        sent = s_.run([] { BuildRequest(cmd_read_block); });
    }
    if (!sent)
        end();
}

void BlockReads::read(const ReadOutcome& outcome)
{
    if (!active_ || index_ >= blocks_.size() || outcome.block != blocks_[index_]
        || outcome.kind == ReadOutcomeKind::Dropped)
        return;
    switch (outcome.kind) {
    case ReadOutcomeKind::Decoded: result_.answered.insert(outcome.block); break;
    case ReadOutcomeKind::Refused: result_.refused.insert(outcome.block); break;
    default: result_.timedOut = true; return end();
    }
    ++index_;
    // The next read goes out once the dispatch of this answer is over.
    Later(context_, generation_, [this] { next(); });
}

void BlockReads::end()
{
    if (!active_)
        return;
    active_ = false;
    ++generation_;
    if (const auto done = std::exchange(done_, nullptr))
        done(result_);
}

} // namespace bms::cli
