#include "FrameRecord.h"

#include "ReadRequests.h"

#include <memory>
#include <utility>

namespace bms {

bool FrameRecordOn = false;

namespace {

struct Registered {
    int id;
    std::shared_ptr<const FrameObserver> observer;
};

std::vector<Registered> observers;
int nextId = 1;
int64_t lastTxMs = -1;

void Publish(FrameEvent&& event)
{
    // A snapshot: an observer may register or remove observers meanwhile.
    const std::vector<Registered> now = observers;
    for (const Registered& r : now)
        (*r.observer)(event);
}

FrameEvent Event(FrameDir dir, FrameKind kind, Framing framing, const uint8_t* data, size_t length)
{
    FrameEvent e;
    e.time = QDateTime::currentDateTime();
    e.dir = dir;
    e.kind = kind;
    e.framing = framing;
    e.bytes.assign(data, data + length);
    return e;
}

} // namespace

int AddFrameObserver(FrameObserver observer)
{
    const int id = nextId++;
    observers.push_back({id, std::make_shared<const FrameObserver>(std::move(observer))});
    FrameRecordOn = true;
    return id;
}

void RemoveFrameObserver(int id)
{
    std::erase_if(observers, [id](const Registered& r) { return r.id == id; });
    FrameRecordOn = !observers.empty();
}

void RecordTx(const uint8_t* data, size_t length, Framing framing)
{
    if (!FrameRecordOn || !data || length == 0)
        return;
    lastTxMs = MonotonicMs();
    Publish(Event(FrameDir::Tx, FrameKind::Frame, framing, data, length));
}

void RecordRx(FrameKind kind, const uint8_t* data, size_t length, Framing framing, int sinceRequestMs)
{
    if (!FrameRecordOn || !data || length == 0)
        return;
    FrameEvent e = Event(FrameDir::Rx, kind, framing, data, length);
    e.sinceRequestMs = sinceRequestMs;
    Publish(std::move(e));
}

int MsSinceLastTx()
{
    if (lastTxMs < 0)
        return -1;
    return static_cast<int>(MonotonicMs() - lastTxMs);
}

} // namespace bms
