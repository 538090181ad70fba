// Byte-level tools of the wire protocol: CRC-16/MODBUS, big-endian field
// writers and readers, and the hexadecimal text converter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bms {

// CRC-16/MODBUS over the first `count` bytes of `data`; 0xFFFF for count <= 0.
uint16_t Crc16(const uint8_t* data, int count);
inline uint16_t Crc16(const std::vector<uint8_t>& data, int count) { return Crc16(data.data(), count); }

// Big-endian writers: store the value at buffer[pos...] and return the next position.
uint16_t WriteU16BE(uint16_t value, uint8_t* buffer, uint16_t pos);
uint16_t WriteU32BE(uint32_t value, uint8_t* buffer, uint16_t pos);
inline uint16_t WriteU16BE(uint16_t value, std::vector<uint8_t>& buffer, uint16_t pos) { return WriteU16BE(value, buffer.data(), pos); }
inline uint16_t WriteU32BE(uint32_t value, std::vector<uint8_t>& buffer, uint16_t pos) { return WriteU32BE(value, buffer.data(), pos); }

uint16_t ReadU16BE(const uint8_t* buffer, uint16_t pos);
uint32_t ReadU32BE(const uint8_t* buffer, uint16_t pos);

// Appends the CRC of everything in `frame` to it, low byte first.
void AppendCrc(std::vector<uint8_t>& frame);
// True when the last two bytes of the first `length` bytes are the CRC of the rest.
bool CrcMatches(const uint8_t* frame, int length);

// Turns hexadecimal text into bytes: pairs of digits become one byte, a lone
// digit becomes a byte 0..15, anything that is not a digit is skipped.
std::vector<uint8_t> HexTextToBytes(const std::string& text);

// Upper-case hexadecimal of the bytes without separators ("0A1B").
std::string BytesToHex(const uint8_t* data, size_t count);
std::string BytesToHex(const std::vector<uint8_t>& data);

} // namespace bms
