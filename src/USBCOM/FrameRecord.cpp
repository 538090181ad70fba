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

// The newest writes sent (function 16, ordinary framing), newest last: an
// acknowledgement is timed from the write it answers.
struct SentWrite {
    uint16_t reg;
    uint16_t quantity;
    int64_t ms;
};
std::vector<SentWrite> sentWrites;
constexpr size_t kSentWritesKept = 32;

void NoteWrite(const uint8_t* data, size_t length, Framing framing, int64_t nowMs)
{
    if (framing != Framing::Ordinary || length < 6 || data[1] != 0x10)
        return;
    if (sentWrites.size() == kSentWritesKept)
        sentWrites.erase(sentWrites.begin());
    sentWrites.push_back({static_cast<uint16_t>(data[2] << 8 | data[3]), static_cast<uint16_t>(data[4] << 8 | data[5]), nowMs});
}

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
    NoteWrite(data, length, framing, lastTxMs);
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

int MsSinceWrite(uint16_t reg, uint16_t quantity)
{
    for (auto it = sentWrites.rbegin(); it != sentWrites.rend(); ++it) {
        if (it->reg == reg && (quantity == 0 || it->quantity == quantity))
            return static_cast<int>(MonotonicMs() - it->ms);
    }
    return -1;
}

} // namespace bms
