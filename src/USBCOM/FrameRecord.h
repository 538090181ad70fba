// The frame record: every frame the tool writes to the port, and every frame,
// fragment or run of noise that the receive assembly sees, handed to the
// observers that are registered (the Traffic window, the command line's
// trace). No widgets here.
//
// - Observers are called on the user-interface thread, in wire order, at the
//   moment the core writes a frame or the receive assembly finishes one (a
//   received frame before it is dispatched, so it is listed ahead of any
//   request its handler sends).
// - Tx events are always FrameKind::Frame. Rx events are:
//     Frame     a complete frame whose CRC-16 matched,
//     BadCrc    a complete frame whose CRC-16 did not match (it was dropped),
//     Fragment  the start of a frame that was abandoned: a wrong function
//               code, a frame outgrowing the receive buffer, or a partial
//               frame cut off by the next request,
//     Noise     a run of bytes skipped while waiting for the address byte
//               (one event per run; a run ends where a frame starts or where
//               the received chunk ends).
// - With no observer registered, recording costs one test per frame; noise
//   bytes are not even collected.
// - An observer may add or remove observers (itself included) while it runs;
//   the change takes effect from the next event.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace bms {

enum class FrameDir { Tx, Rx };
enum class FrameKind { Frame, BadCrc, Fragment, Noise };
// Ordinary: Modbus frames. MainBoard: the boot loader's frames (boot
// commands and image records sent; status frames received while an upgrade
// of the main control board runs).
enum class Framing { Ordinary, MainBoard };

struct FrameEvent {
    QDateTime time; // wall clock, millisecond resolution
    FrameDir dir = FrameDir::Tx;
    FrameKind kind = FrameKind::Frame;
    Framing framing = Framing::Ordinary;
    std::vector<uint8_t> bytes;
    // Rx: milliseconds since the request the frame answers (a read answer
    // matched to its request), else since the last frame sent; -1 unknown.
    int sinceRequestMs = -1;
};

using FrameObserver = std::function<void(const FrameEvent&)>;

// Registers an observer; the result identifies it for RemoveFrameObserver.
int AddFrameObserver(FrameObserver observer);
void RemoveFrameObserver(int id);

// True while at least one observer is registered.
extern bool FrameRecordOn;
inline bool FrameObserversActive() { return FrameRecordOn; }

// Recording, called by the core where it writes and receives.
void RecordTx(const uint8_t* data, size_t length, Framing framing);
void RecordRx(FrameKind kind, const uint8_t* data, size_t length, Framing framing, int sinceRequestMs = -1);
// Milliseconds since the last frame recorded as sent, or -1.
int MsSinceLastTx();
// Milliseconds since the newest write (function 16) recorded as sent to
// register `reg` (and with `quantity` registers, unless it is 0), or -1.
int MsSinceWrite(uint16_t reg, uint16_t quantity = 0);

// One line of meaning: function, register and quantity or byte count,
// exception code, boot-loader status code, boot command, image record; for
// an answer the time since its request.
QString DescribeFrame(const FrameEvent& e);
// The same without the time since the request.
QString DescribeFrameContent(const FrameEvent& e);
// "hh:mm:ss.zzz TX 06 04 00 0A 00 1E 51 B7", followed by "  CRC error",
// "  fragment" or "  noise" for those kinds.
QString FormatTraceLine(const FrameEvent& e);
// The bytes as upper-case hex pairs separated by blanks.
QString HexBytes(const std::vector<uint8_t>& bytes);

} // namespace bms
