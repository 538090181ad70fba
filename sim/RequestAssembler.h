// Splits the byte stream written by the tool into requests. Ordinary frames
// are recognised by the pack's address and sized by their function code;
// boot-loader frames and image records are led by ':' and sized by their
// length byte. Anything that does not form a frame with a good check is
// dropped one byte at a time until a frame lines up again.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bms::sim {

struct Request {
    enum class Kind {
        Modbus,       // address, function, ..., CRC (CRC checked)
        BootCommand,  // 3A 00 00 00 cmd checksum (checksum checked)
        ImageRecord,  // ':' L addr(2) type data(L) checksum, as sent (checksum not judged here)
    };
    Kind kind = Kind::Modbus;
    std::vector<uint8_t> bytes;
};

class RequestAssembler {
public:
    explicit RequestAssembler(uint8_t address) { addresses_.set(address); }
    // Requests to any of `addresses` (the packs sharing one line).
    explicit RequestAssembler(const std::vector<uint8_t>& addresses)
    {
        for (uint8_t a : addresses)
            addresses_.set(a);
    }

    // While true, every ':'-led frame of 6 + L bytes is an image record;
    // otherwise only valid 6-byte boot commands are taken.
    void setAcceptRecords(bool on) { acceptRecords_ = on; }

    // Appends the bytes and moves every complete request to `out`.
    void feed(const uint8_t* data, size_t count, std::vector<Request>& out);
    // The line has been quiet while a frame was incomplete: the partial
    // frame is taken as garbage; its first byte is dropped and the rest parsed again.
    void expire(std::vector<Request>& out);

    bool pending() const { return !buffer_.empty(); }
    size_t droppedBytes() const { return dropped_; }

    // Longest frame the tool can send: function 16 with 255 data bytes.
    static constexpr size_t MaxFrame = 264;

private:
    enum class Step { Complete, NeedMore, Garbage };
    struct Bytes {
        const uint8_t* data;
        size_t size;
    };
    Step tryFrame(Bytes b, Request& request, size_t& length) const;
    Step tryModbus(Bytes b, Request& request, size_t& length) const;
    Step tryColon(Bytes b, Request& request, size_t& length) const;
    void parse(std::vector<Request>& out);

    bool ours(uint8_t address) const { return addresses_.test(address); }

    std::bitset<256> addresses_;
    bool acceptRecords_ = false;
    std::vector<uint8_t> buffer_;
    size_t dropped_ = 0;
};

} // namespace bms::sim
