// Helpers of the display tests: a Qt application for the timers of TestApp,
// and a builder that puts a function-4 response into MY_COM.RxBuf/RxLen as
// the receive assembly leaves it.
#pragma once

#include "Codec.h"
#include "CommRecord.h"
#include "PackTable.h"
#include "QtTestSupport.h"

#include <QCoreApplication>
#include <QString>
#include <gtest/gtest.h>
#include <initializer_list>
#include <ostream>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace bms::test {


// Registers as big-endian data bytes.
inline std::vector<uint8_t> Registers(std::initializer_list<uint16_t> words)
{
    std::vector<uint8_t> data;
    for (uint16_t w : words) {
        data.push_back(static_cast<uint8_t>(w >> 8));
        data.push_back(static_cast<uint8_t>(w));
    }
    return data;
}

// Address 1, function 4, byte count, data, CRC.
inline void PutResponse(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + 5);
    frame.push_back(0x01);
    frame.push_back(0x04);
    frame.push_back(static_cast<uint8_t>(data.size()));
    for (uint8_t b : data)
        frame.push_back(b);
    AppendCrc(frame);
    MY_COM.RxBuf.fill(0);
    std::copy(frame.begin(), frame.end(), MY_COM.RxBuf.begin());
    MY_COM.RxLen = static_cast<uint16_t>(frame.size());
}

// Decodes `data` as the response to `block`.
inline void Receive(int32_t block, const std::vector<uint8_t>& data)
{
    ReadBlock = block;
    PutResponse(data);
    DecodeTelemetry();
}

} // namespace bms::test
