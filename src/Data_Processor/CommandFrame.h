// Helpers that put request frames together and hand them to the port: field
// appenders, the CRC-terminated send, the main-board boot command and the
// reply time-out.
#pragma once

#include "FrameRecord.h"

#include <cstdint>
#include <vector>

namespace bms {

// Writes a frame to App.cm1 and, when the port took it, records it in the
// frame record. Every frame the tool sends goes through here.
bool WriteFrame(const uint8_t* data, size_t length, Framing framing = Framing::Ordinary);

// Appends big-endian fields to a frame under construction.
void PutU8(std::vector<uint8_t>& body, uint8_t value);
void PutU16(std::vector<uint8_t>& body, uint16_t value);
void PutU32(std::vector<uint8_t>& body, uint32_t value);

// Sizes `buffer` to the frame (body plus CRC), copies the body into it,
// appends the CRC-16 low byte first and writes the frame to App.cm1.
void SendFramed(std::vector<uint8_t>& buffer, const std::vector<uint8_t>& body);

// The 6-byte boot-loader command 0x3A 00 00 00 <command> <checksum>; the
// checksum makes bytes 1..5 sum to zero modulo 256.
std::vector<uint8_t> BootCommand(uint8_t command);

// Builds the boot command in `buffer` and writes it to App.cm1.
void SendBootCommand(std::vector<uint8_t>& buffer, uint8_t command);

// Arms the reply time-out tmr2 for App.replyTimeoutMs (500 ms in the
// window). A time-out already running keeps its period (the timer ignores an
// unchanged interval and a second enable).
void ArmReplyTimeout();

} // namespace bms
