#include "Rotation.h"

#include "Session.h"

#include "CommRecord.h"
#include "RequestBuilder.h"

#include <QMetaObject>

namespace bms::cli {

Rotation::Rotation(Session& session) : s_(session) {}

void Rotation::start(std::function<void(bool)> done)
{
    done_ = std::move(done);
    answered_.clear();
    running_ = true;
    s_.onTelemetry = [this](int block) {
        if (!running_ || block == 8)
            return;
        answered_.insert(block);
        if (ReadBlock == 0) {
            end(true);
            return;
        }
        // The next request goes out once the dispatch of this answer has
        // returned, from a clean receive state.
        QMetaObject::invokeMethod(&context_, [this] { send(); }, Qt::QueuedConnection);
    };
    s_.onTimeout = [this] {
        if (running_)
            end(false);
    };
    ReadBlock = 0;
    send();
}

void Rotation::send()
{
    if (!running_ || s_.finished())
        return;
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
