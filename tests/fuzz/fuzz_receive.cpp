// Feeds random chunks into the receive assembly and dispatch, in both
// framings. Input layout:
//   byte 0  flags: bit 0 DevFirmwareMode, bit 1 UpgradeActive, bit 2
//           AwaitingCheck, bit 3 NotBsi, bit 4 EraseDevPending, bit 5 the
//           telemetry handler toggles UpgradeActive, bit 6 the first handler
//           run feeds the next chunk itself (as during a message box),
//           bit 7 the re-read handler sends a request
//   byte 1  SlaveAddr
//   byte 2  bits 0-3 index of the recorded write register (beyond the list:
//           none), bit 4 every chunk gets the CRC of its bytes appended (so
//           that chunks that are whole frames pass the check; a carried
//           frame in a code-81 chunk gets its own CRC too, and in the
//           main-board framing bytes 0 and 1 are set to the address and the
//           length), bits 5-7 the receive state to start in
//   byte 3  LastWriteQty
//   then    chunks: one length byte, then up to that many bytes
#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "FakeHost.h"
#include "Hooks.h"
#include "Receive.h"
#include "RequestBuilder.h"

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace bms;

namespace {

const uint16_t kRegisters[] = {0x0015, 0x0500, 0x9D1D, 0x9CFA, 0x9E00, 0x9E05,
                               0x9F00, 0x9D1E, 0x9D05, 0x9D25, 0x9D19};

// Reads the chunk at `pos` and advances past it.
struct Chunks {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool next(const uint8_t*& chunk, uint16_t& length)
    {
        if (pos >= size)
            return false;
        const size_t wanted = data[pos++];
        const size_t n = wanted < size - pos ? wanted : size - pos;
        chunk = data + pos;
        length = static_cast<uint16_t>(n);
        pos += n;
        return true;
    }
};

void CheckRecord()
{
    if (MY_COM.RxLen > kMaxFrame || MY_COM.SubRxLen > kMaxFrame || MY_COM.RxState > 6 || MY_COM.RespFunc != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    test::TestApp app; // resets the protocol state and the hooks
    const uint8_t flags = data[0];
    DevFirmwareMode = flags & 1;
    UpgradeActive = (flags >> 1) & 1;
    AwaitingCheck = (flags >> 2) & 1;
    NotBsi = (flags >> 3) & 1;
    EraseDevPending = (flags >> 4) & 1;
    SlaveAddr = data[1];
    const size_t regIndex = data[2] & 0x0F;
    LastWriteReg = regIndex < std::size(kRegisters) ? kRegisters[regIndex] : 0;
    LastWriteQty = data[3];
    const bool appendCrc = data[2] & 0x10;
    static const uint8_t kStartStates[] = {1, 1, 0, 2, 4, 5, 6, 1};
    MY_COM.RxState = kStartStates[data[2] >> 5];

    auto Receive = [appendCrc](const uint8_t* chunk, uint16_t length) {
        if (!appendCrc)
            return cm1ReceiveData(chunk, length);
        std::vector<uint8_t> frame(chunk, chunk + length);
        // In the main-board framing: the expected address, then the length
        // that follows.
        if (MainBoardFramingInForce() && frame.size() >= 2) {
            frame[0] = NotBsi == 1 ? 0x06 : SlaveAddr;
            frame[1] = static_cast<uint8_t>(frame.size());
        }
        // A code-81 status frame: give the frame it carries its CRC as well.
        if (frame.size() >= 4 && frame[2] == 0x51) {
            const size_t k = frame[3];
            if (k >= 2 && 4 + k < frame.size()) {
                const uint16_t crc = Crc16(frame.data() + 4, static_cast<int>(k - 1));
                frame[3 + k] = static_cast<uint8_t>(crc);
                frame[4 + k] = static_cast<uint8_t>(crc >> 8);
            }
        }
        AppendCrc(frame);
        cm1ReceiveData(frame.data(), static_cast<uint16_t>(frame.size()));
    };
    Chunks chunks{data, size, 4};
    bool nestedDone = false;
    auto nested = [&] {
        if (!(flags & 0x40) || nestedDone)
            return;
        nestedDone = true;
        const uint8_t* chunk = nullptr;
        uint16_t length = 0;
        if (chunks.next(chunk, length))
            Receive(chunk, length);
    };
    int telemetryCount = 0;
    Hooks.telemetry = [&] {
        ++telemetryCount;
        if (flags & 0x20)
            UpgradeActive ^= 1;
        nested();
    };
    Hooks.deviceInfo = [&] { nested(); };
    Hooks.reReadDeviceInfo = [&] {
        if (flags & 0x80)
            BuildRequest(cmd_read_info);
    };
    Hooks.upgradeStep = [&](UpgradeStep) { nested(); };
    app.host.onMessage = [&](const QString&) { nested(); };

    const uint8_t* chunk = nullptr;
    uint16_t length = 0;
    while (chunks.next(chunk, length)) {
        Receive(chunk, length);
        CheckRecord();
    }
    return 0;
}
