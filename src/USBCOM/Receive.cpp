#include "Receive.h"

#include "App.h"
#include "CommRecord.h"
#include "FrameRecord.h"

#include <vector>

namespace bms {

namespace {

// Bytes received and not yet fed. A handler that re-enters the event loop
// may receive further chunks; they queue behind the bytes still waiting, so
// bytes reach the state machine in the order they arrived.
std::vector<uint8_t> pending;
size_t pendingHead = 0;

// Bytes skipped while waiting for an address, collected only while someone
// watches the frame record; reported as one run of noise.
std::vector<uint8_t> noise;

Framing FramingNow() { return MainBoardFramingInForce() ? Framing::MainBoard : Framing::Ordinary; }

void SkipNoise(uint8_t b)
{
    if (FrameObserversActive())
        noise.push_back(b);
}

void ReportNoise()
{
    if (noise.empty())
        return;
    RecordRx(FrameKind::Noise, noise.data(), noise.size(), FramingNow());
    noise.clear();
}

// The frame being assembled is given up; `extra` is the byte that ended it.
void ReportFragment(const uint8_t* extra)
{
    if (!FrameObserversActive())
        return;
    std::vector<uint8_t> bytes(MY_COM.RxBuf.begin(), MY_COM.RxBuf.begin() + MY_COM.RxLen);
    if (extra)
        bytes.push_back(*extra);
    RecordRx(FrameKind::Fragment, bytes.data(), bytes.size(), FramingNow());
}

// Stores one byte of the frame being assembled. A frame that would outgrow
// the buffer cannot be a valid one: it is dropped and the search for the
// next address byte begins.
bool Append(uint8_t b)
{
    if (MY_COM.RxLen >= kMaxFrame) {
        ReportFragment(&b);
        MY_COM.RxState = 1;
        MY_COM.RxCount = 0;
        return false;
    }
    MY_COM.RxBuf[MY_COM.RxLen++] = b;
    return true;
}

void StartFrame(uint8_t b, uint8_t nextState)
{
    ReportNoise();
    MY_COM.RxBuf[0] = b;
    MY_COM.RxLen = 1;
    MY_COM.RxState = nextState;
    MY_COM.RxCount = 0;
}

// The frame is complete: back to state 1 before anything else runs, stop the
// reply time-out, hand the frame on.
void FinishFrame()
{
    MY_COM.RxState = 1;
    MY_COM.RxCount = 0;
    if (App.tmr2)
        App.tmr2->setEnabled(false);
    DispatchResponse();
}

void CountRestByte(uint8_t b, uint16_t need)
{
    if (!Append(b))
        return;
    ++MY_COM.RxCount;
    if (MY_COM.RxCount >= need)
        FinishFrame();
}

// The rated capacity (0x14), the serial number (0x1B) and the upload
// interval (0x52) are written with functions of the pack's own; it answers
// with that function (or the function with bit 7 set when it refuses). Such
// an answer is taken only while that function was the last request sent.
bool AnswersOwnFunctionWrite(uint8_t function)
{
    const uint8_t plain = function & 0x7F;
    if (plain != 0x14 && plain != 0x1B && plain != 0x52)
        return false;
    return MY_COM.TxBuf.size() >= 2 && MY_COM.TxBuf[1] == plain;
}

} // namespace

void FeedByte(uint8_t b)
{
    switch (MY_COM.RxState) {
    case 1:
        if (b == SlaveAddr)
            StartFrame(b, 2);
        else
            SkipNoise(b);
        break;
    case 2:
        if (AnswersOwnFunctionWrite(b)) {
            // address, function, 0x00, length, CRC; an exception is 5 bytes.
            if (Append(b)) {
                MY_COM.RxCount = 0;
                MY_COM.RxNeed = (b & 0x80) ? 3 : 4;
                MY_COM.RxState = 5;
            }
            break;
        }
        // Reads (0x04) carry a byte count; acknowledgements (0x10) are 8
        // bytes; exceptions to a write (0x90) or a read (0x84) are 5.
        if (b != 0x04 && b != 0x10 && b != 0x90 && b != 0x84) {
            ReportFragment(&b);
            MY_COM.RxState = 1;
            break;
        }
        if (!Append(b))
            break;
        MY_COM.RxCount = 0;
        if (b == 0x04) {
            MY_COM.RxState = 4;
        } else {
            MY_COM.RxNeed = b == 0x10 ? 6 : 3;
            MY_COM.RxState = 5;
        }
        break;
    case 4:
        // A byte count up to 255 announces up to 255 data bytes and the CRC.
        if (!Append(b))
            break;
        MY_COM.RxNeed = static_cast<uint16_t>(b + 2);
        MY_COM.RxState = 5;
        MY_COM.RxCount = 0;
        break;
    case 5:
        CountRestByte(b, MY_COM.RxNeed);
        break;
    default:
        break;
    }
}

void FeedByteMainBoard(uint8_t b)
{
    switch (MY_COM.RxState) {
    case 1:
        if (b == (NotBsi == 1 ? 0x06 : SlaveAddr))
            StartFrame(b, 4);
        else
            SkipNoise(b);
        break;
    case 2:
        if (!Append(b))
            break;
        MY_COM.RxState = 4;
        MY_COM.RxCount = 0;
        break;
    case 4:
        if (!Append(b))
            break;
        MY_COM.RxNeed = b;
        MY_COM.RxState = b == 0 ? 6 : 5;
        MY_COM.RxCount = 0;
        break;
    case 5:
        CountRestByte(b, MY_COM.RxNeed);
        break;
    case 6:
        CountRestByte(b, 2);
        break;
    default:
        break;
    }
}

void cm1ReceiveData(const uint8_t* buffer, uint16_t length)
{
    if (!buffer || length == 0)
        return;
    pending.insert(pending.end(), buffer, buffer + length);
    try {
        // Indices, not iterators: a nested call may grow or drain the queue.
        while (pendingHead < pending.size()) {
            const uint8_t b = pending[pendingHead++];
            if (MainBoardFramingInForce())
                FeedByteMainBoard(b);
            else
                FeedByte(b);
        }
    } catch (...) {
        // A handler's error ends the handling of this chunk, as it would
        // without the queue; the rest of the received bytes are dropped.
        pending.clear();
        pendingHead = 0;
        noise.clear();
        throw;
    }
    pending.clear();
    pendingHead = 0;
    // A run of noise ends with the chunk that brought it.
    ReportNoise();
}

} // namespace bms
