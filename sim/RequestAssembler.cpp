#include "RequestAssembler.h"

#include "Codec.h"


namespace bms::sim {

namespace {

// Fixed request lengths of the functions whose length does not depend on a
// count byte: read holding/input registers, write single register, and the
// boot loader's "address, 0x30, CRC" reboot frame.
int FixedLength(uint8_t function)
{
    switch (function) {
    case 0x03: case 0x04: case 0x06: return 8;
    case 0x30: return 4;
    default: return 0;
    }
}

bool IsOwnFunction(uint8_t function)
{
    return function == 0x14 || function == 0x1B || function == 0x52;
}

uint16_t CrcStep(uint16_t crc, uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    return crc;
}

bool ChecksumZero(const uint8_t* bytes, size_t from, size_t to)
{
    unsigned sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += bytes[i];
    return (sum & 0xFF) == 0;
}

} // namespace

void RequestAssembler::feed(const uint8_t* data, size_t count, std::vector<Request>& out)
{
    buffer_.insert(buffer_.end(), data, data + count);
    parse(out);
}

void RequestAssembler::expire(std::vector<Request>& out)
{
    if (buffer_.empty())
        return;
    buffer_.erase(buffer_.begin());
    ++dropped_;
    parse(out);
}

void RequestAssembler::parse(std::vector<Request>& out)
{
    size_t start = 0;
    while (start < buffer_.size()) {
        const Bytes view{buffer_.data() + start, buffer_.size() - start};
        Request request;
        size_t length = 0;
        const Step step = tryFrame(view, request, length);
        if (step == Step::NeedMore)
            break;
        if (step == Step::Garbage) {
            ++dropped_;
            ++start;
            continue;
        }
        request.bytes.assign(view.data, view.data + length);
        out.push_back(std::move(request));
        start += length;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
}

RequestAssembler::Step RequestAssembler::tryFrame(Bytes b, Request& request, size_t& length) const
{
    if (b.data[0] == ':') {
        const Step colon = tryColon(b, request, length);
        // A ':' that is not a boot-loader frame may still be our address.
        if (colon != Step::Garbage || !ours(b.data[0]))
            return colon;
    }
    if (ours(b.data[0]))
        return tryModbus(b, request, length);
    return Step::Garbage;
}

RequestAssembler::Step RequestAssembler::tryColon(Bytes b, Request& request, size_t& length) const
{
    if (b.size < 2)
        return Step::NeedMore;
    length = 6 + static_cast<size_t>(b.data[1]);
    if (!acceptRecords_ && b.data[1] != 0)
        return Step::Garbage;
    if (b.size < length)
        return Step::NeedMore;
    const bool checks = ChecksumZero(b.data, 1, length);
    const uint8_t type = b.data[4];
    if (b.data[1] == 0 && b.data[2] == 0 && b.data[3] == 0 && (type == 0x30 || type == 0x37) && checks) {
        request.kind = Request::Kind::BootCommand;
        return Step::Complete;
    }
    if (!acceptRecords_)
        return Step::Garbage;
    request.kind = Request::Kind::ImageRecord;
    return Step::Complete;
}

RequestAssembler::Step RequestAssembler::tryModbus(Bytes b, Request& request, size_t& length) const
{
    if (b.size < 2)
        return Step::NeedMore;
    const uint8_t function = b.data[1];
    request.kind = Request::Kind::Modbus;
    if (const int fixed = FixedLength(function)) {
        length = static_cast<size_t>(fixed);
    } else if (function == 0x10) {
        if (b.size < 7)
            return Step::NeedMore;
        length = 9 + static_cast<size_t>(b.data[6]);
    } else if (IsOwnFunction(function)) {
        if (b.size < 4)
            return Step::NeedMore;
        if (b.data[2] != 0x00)
            return Step::Garbage;
        length = 6 + static_cast<size_t>(b.data[3]);
    } else {
        // A function the pack does not know: its length is found by the
        // first position where a CRC fits, so that it can be refused.
        uint16_t crc = Crc16(b.data, 2);  // over the bytes before the candidate CRC
        for (size_t n = 4; n <= b.size && n <= MaxFrame; ++n) {
            if (crc == static_cast<uint16_t>(b.data[n - 2] | b.data[n - 1] << 8)) {
                length = n;
                return Step::Complete;
            }
            crc = CrcStep(crc, b.data[n - 2]);
        }
        return b.size >= MaxFrame ? Step::Garbage : Step::NeedMore;
    }
    if (b.size < length)
        return Step::NeedMore;
    return CrcMatches(b.data, static_cast<int>(length)) ? Step::Complete : Step::Garbage;
}

} // namespace bms::sim
