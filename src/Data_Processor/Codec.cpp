#include "Codec.h"

namespace bms {

uint16_t Crc16(const uint8_t* data, int count)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

uint16_t WriteU16BE(uint16_t value, uint8_t* buffer, uint16_t pos)
{
    buffer[pos] = static_cast<uint8_t>(value >> 8);
    buffer[pos + 1] = static_cast<uint8_t>(value);
    return static_cast<uint16_t>(pos + 2);
}

uint16_t WriteU32BE(uint32_t value, uint8_t* buffer, uint16_t pos)
{
    WriteU16BE(static_cast<uint16_t>(value >> 16), buffer, pos);
    return WriteU16BE(static_cast<uint16_t>(value), buffer, static_cast<uint16_t>(pos + 2));
}

uint16_t ReadU16BE(const uint8_t* buffer, uint16_t pos)
{
    return static_cast<uint16_t>(buffer[pos] << 8 | buffer[pos + 1]);
}

uint32_t ReadU32BE(const uint8_t* buffer, uint16_t pos)
{
    return static_cast<uint32_t>(ReadU16BE(buffer, pos)) << 16 | ReadU16BE(buffer, static_cast<uint16_t>(pos + 2));
}

void AppendCrc(std::vector<uint8_t>& frame)
{
    const uint16_t crc = Crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool CrcMatches(const uint8_t* frame, int length)
{
    if (length < 2)
        return false;
    const uint16_t crc = Crc16(frame, length - 2);
    return crc == static_cast<uint16_t>(frame[length - 2] | frame[length - 1] << 8);
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<uint8_t> HexTextToBytes(const std::string& text)
{
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < text.size()) {
        if (HexDigit(text[i]) < 0) {
            ++i;
            continue;
        }
        const int high = HexDigit(text[i]);
        const int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        out.push_back(static_cast<uint8_t>(low >= 0 ? high * 16 + low : high));
        i += 2; // a character right after a lone digit is skipped with it
    }
    return out;
}

std::string BytesToHex(const uint8_t* data, size_t count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

std::string BytesToHex(const std::vector<uint8_t>& data) { return BytesToHex(data.data(), data.size()); }

} // namespace bms
