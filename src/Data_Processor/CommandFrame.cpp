#include "CommandFrame.h"

#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "Errors.h"
#include "RequestBuilder.h"

#include <algorithm>

namespace bms {

void PutU8(std::vector<uint8_t>& body, uint8_t value) { body.push_back(value); }

void PutU16(std::vector<uint8_t>& body, uint16_t value)
{
    body.push_back(static_cast<uint8_t>(value >> 8));
    body.push_back(static_cast<uint8_t>(value));
}

void PutU32(std::vector<uint8_t>& body, uint32_t value)
{
    PutU16(body, static_cast<uint16_t>(value >> 16));
    PutU16(body, static_cast<uint16_t>(value));
}

bool WriteFrame(const uint8_t* data, size_t length, Framing framing)
{
    // Only what was handed to the port is recorded: with the port closed
    // nothing goes out.
    const bool sent = App.cm1 && App.cm1->SendData(data, static_cast<uint16_t>(length));
    if (sent)
        RecordTx(data, length, framing);
    return sent;
}

static void Write(const std::vector<uint8_t>& frame, Framing framing = Framing::Ordinary)
{
    WriteFrame(frame.data(), frame.size(), framing);
}

void SendFramed(std::vector<uint8_t>& buffer, const std::vector<uint8_t>& body)
{
    buffer.resize(body.size() + 2);
    std::copy(body.begin(), body.end(), buffer.begin());
    const uint16_t crc = Crc16(body.data(), static_cast<int>(body.size()));
    buffer[body.size()] = static_cast<uint8_t>(crc);
    buffer[body.size() + 1] = static_cast<uint8_t>(crc >> 8);
    Write(buffer);
}

std::vector<uint8_t> BootCommand(uint8_t command)
{
    std::vector<uint8_t> frame{0x3A, 0x00, 0x00, 0x00, command, 0x00};
    uint8_t sum = 0;
    for (size_t i = 1; i < 5; ++i)
        sum = static_cast<uint8_t>(sum + frame[i]);
    frame[5] = static_cast<uint8_t>(0x100 - sum);
    return frame;
}

void SendBootCommand(std::vector<uint8_t>& buffer, uint8_t command)
{
    buffer = BootCommand(command);
    Write(buffer, Framing::MainBoard);
}

void ArmReplyTimeout()
{
    if (!App.tmr2)
        return;
    App.tmr2->setInterval(App.replyTimeoutMs);
    App.tmr2->setEnabled(true);
}

void SendUpgradePacket(uint16_t reg, const uint8_t* payload, uint8_t length)
{
    // The whole packet must stay within 255 bytes; a longer one would not be
    // described correctly by the frame sizes the pack accepts.
    if (length + kUpgradePacketOverhead > kMaxUpgradePacket)
        throw Error(QStringLiteral("Upgrade packet too long: %1 payload bytes, at most %2 allowed")
                        .arg(length)
                        .arg(kMaxUpgradePacket - kUpgradePacketOverhead));
    // The payload may live in TxBuf itself: take a copy before resizing it.
    const std::vector<uint8_t> data(payload, payload + length);
    const uint16_t quantity = length / 2;

    std::vector<uint8_t> body;
    body.reserve(length + 7u);
    PutU8(body, SlaveAddr);
    PutU8(body, 0x10);
    PutU16(body, reg);
    PutU16(body, quantity);
    PutU8(body, length);
    body.insert(body.end(), data.begin(), data.end());

    LastWriteReg = reg;
    LastWriteQty = quantity;
    SendFramed(MY_COM.TxBuf, body);
}

} // namespace bms
