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

bool ChecksumZero(const std::vector<uint8_t>& bytes, size_t from, size_t to)
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
        if (start > 0) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
            start = 0;
        }
        Request request;
        size_t length = 0;
        const Step step = tryFrame(request, length);
        if (step == Step::NeedMore)
            return;
        if (step == Step::Garbage) {
            ++dropped_;
            start = 1;
            continue;
        }
        request.bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
        out.push_back(std::move(request));
        start = length;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
}

RequestAssembler::Step RequestAssembler::tryFrame(Request& request, size_t& length) const
{
    if (buffer_[0] == ':') {
        const Step colon = tryColon(request, length);
        // A ':' that is not a boot-loader frame may still be our address.
        if (colon != Step::Garbage || buffer_[0] != address_)
            return colon;
    }
    if (buffer_[0] == address_)
        return tryModbus(request, length);
    return Step::Garbage;
}

RequestAssembler::Step RequestAssembler::tryColon(Request& request, size_t& length) const
{
    if (buffer_.size() < 2)
        return Step::NeedMore;
    length = 6 + static_cast<size_t>(buffer_[1]);
    if (!acceptRecords_ && buffer_[1] != 0)
        return Step::Garbage;
    if (buffer_.size() < length)
        return Step::NeedMore;
    const bool checks = ChecksumZero(buffer_, 1, length);
    const uint8_t type = buffer_[4];
    if (buffer_[1] == 0 && buffer_[2] == 0 && buffer_[3] == 0 && (type == 0x30 || type == 0x37) && checks) {
        request.kind = Request::Kind::BootCommand;
        return Step::Complete;
    }
    if (!acceptRecords_)
        return Step::Garbage;
    request.kind = Request::Kind::ImageRecord;
    return Step::Complete;
}

RequestAssembler::Step RequestAssembler::tryModbus(Request& request, size_t& length) const
{
    if (buffer_.size() < 2)
        return Step::NeedMore;
    const uint8_t function = buffer_[1];
    request.kind = Request::Kind::Modbus;
    if (const int fixed = FixedLength(function)) {
        length = static_cast<size_t>(fixed);
    } else if (function == 0x10) {
        if (buffer_.size() < 7)
            return Step::NeedMore;
        length = 9 + static_cast<size_t>(buffer_[6]);
    } else if (IsOwnFunction(function)) {
        if (buffer_.size() < 4)
            return Step::NeedMore;
        if (buffer_[2] != 0x00)
            return Step::Garbage;
        length = 6 + static_cast<size_t>(buffer_[3]);
    } else {
        // A function the pack does not know: its length is found by the
        // first position where a CRC fits, so that it can be refused.
        for (size_t n = 4; n <= buffer_.size() && n <= MaxFrame; ++n) {
            if (CrcMatches(buffer_.data(), static_cast<int>(n))) {
                length = n;
                return Step::Complete;
            }
        }
        return buffer_.size() >= MaxFrame ? Step::Garbage : Step::NeedMore;
    }
    if (buffer_.size() < length)
        return Step::NeedMore;
    return CrcMatches(buffer_.data(), static_cast<int>(length)) ? Step::Complete : Step::Garbage;
}

} // namespace bms::sim
