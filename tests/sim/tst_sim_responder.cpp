#include "PortClient.h"
#include "Responder.h"

#include <gtest/gtest.h>

using namespace bms::sim;
using namespace bms::sim::test;

namespace {

PackConfig Config()
{
    PackConfig c;
    c.live = false;
    return c;
}

std::vector<Answer> Handle(Responder& r, const std::vector<uint8_t>& frame, double now = 1.0)
{
    return r.handle({Request::Kind::Modbus, frame}, now);
}

} // namespace

TEST(Responder, OddByteCountPacketIsAcknowledgedWithItsRoundedDownCount)
{
    Responder r(Config(), 0);
    // n = 15 bytes: index (4) + a record of L = 5, Q = 7.
    std::vector<uint8_t> payload{0, 0, 0, 0, ':', 0x05, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 0xF1};
    Handle(r, WriteRequest(0x06, 0x9E00, std::vector<uint8_t>(34, 0), 17));
    const auto answers = Handle(r, WriteRequest(0x06, 0x9F00, payload, 7));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].bytes, WriteAck(0x06, 0x9F00, 7));
    ASSERT_EQ(r.images.dev().size(), 1u);
    EXPECT_EQ(r.images.dev()[0].record.size(), 11u);
}

TEST(Responder, RebootOrderIsNotAcknowledgedButOtherValuesOfItsRegisterAre)
{
    Responder r(Config(), 0);
    EXPECT_TRUE(Handle(r, WriteRequest(0x06, 0x9D00, {0x00, 0x30})).empty());
    EXPECT_EQ(r.boot.state(), BootLoader::State::Armed);
    Responder s(Config(), 0);
    const auto answers = Handle(s, WriteRequest(0x06, 0x9D00, {0x00, 0x01}));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].bytes, WriteAck(0x06, 0x9D00, 1));
}

TEST(Responder, MalformedRequestsAreRefusedNotTrusted)
{
    Responder r(Config(), 0);
    // Fewer data bytes than the register count announces.
    EXPECT_EQ(Handle(r, WriteRequest(0x06, 0x9D05, {1, 2}, 6))[0].bytes, WithCrc({0x06, 0x90, 0x03}));
    // More registers than a one-byte byte count can carry, and none at all.
    EXPECT_EQ(Handle(r, ReadRequest(0x06, 0x0000, 128))[0].bytes, WithCrc({0x06, 0x84, 0x03}));
    EXPECT_EQ(Handle(r, ReadRequest(0x06, 0x0000, 0))[0].bytes, WithCrc({0x06, 0x84, 0x03}));
    EXPECT_EQ(Handle(r, ReadRequest(0x06, 0xFFF0, 127))[0].bytes.size(), 5u + 254u);  // wraps, no crash
    // The pack's own functions with a wrong length.
    EXPECT_EQ(Handle(r, WithCrc({0x06, 0x14, 0x00, 0x02, 0x00, 0x01}))[0].bytes, WithCrc({0x06, 0x94, 0x03}));
    // Unknown function.
    EXPECT_EQ(Handle(r, WithCrc({0x06, 0x2B, 0x0E, 0x01}))[0].bytes, WithCrc({0x06, 0xAB, 0x01}));
}

TEST(Responder, RandomFramesWithGoodChecksNeverBreakIt)
{
    Responder r(Config(), 0);
    uint32_t seed = 99;
    auto next = [&seed] { seed = seed * 1664525u + 1013904223u; return static_cast<uint8_t>(seed >> 24); };
    const uint8_t functions[] = {0x03, 0x04, 0x06, 0x10, 0x14, 0x1B, 0x52, 0x30, 0x01, 0x2B};
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> body{0x06, functions[next() % sizeof functions]};
        const size_t length = 2 + next() % 40;
        while (body.size() < length)
            body.push_back(next());
        if (body[1] == 0x10 && body.size() >= 7)
            body.resize(7 + body[6], 0xAA);  // keep the byte count honest
        if ((body[1] == 0x14 || body[1] == 0x1B || body[1] == 0x52) && body.size() >= 4) {
            body[2] = 0;
            body.resize(4 + body[3], 0x55);
        }
        if (body.size() < 6)
            body.resize(6, 0);
        for (const Answer& a : Handle(r, WithCrc(body), i * 0.01))
            EXPECT_TRUE(bms::CrcMatches(a.bytes.data(), static_cast<int>(a.bytes.size())));
        r.poll(i * 0.01);
    }
}
