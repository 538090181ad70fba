// One Intel-HEX line (without line end) with its checksum, for the images
// that the upgrade tests and benchmark generate.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace bms::test {

inline QByteArray HexRecord(uint16_t address, uint8_t type, const QByteArray& data)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(data.size()));
    bytes.append(static_cast<char>(address >> 8));
    bytes.append(static_cast<char>(address));
    bytes.append(static_cast<char>(type));
    bytes.append(data);
    uint8_t sum = 0;
    for (char c : bytes)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    bytes.append(static_cast<char>(-sum));
    return ':' + bytes.toHex().toUpper();
}

} // namespace bms::test
