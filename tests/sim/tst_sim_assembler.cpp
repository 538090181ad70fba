#include "PortClient.h"
#include "RequestAssembler.h"

#include <gtest/gtest.h>

using namespace bms::sim;
using namespace bms::sim::test;

namespace {

std::vector<Request> FeedAll(RequestAssembler& a, const std::vector<uint8_t>& bytes)
{
    std::vector<Request> out;
    a.feed(bytes.data(), bytes.size(), out);
    return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

} // namespace

TEST(RequestAssembler, EveryRequestKindIsSizedByItsOwnRule)
{
    RequestAssembler a(0x06);
    const auto read = ReadRequest(0x06, 0x000A, 30);
    const auto write = WriteRequest(0x06, 0x9D05, {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2'});
    const auto capacity = WithCrc({0x06, 0x14, 0x00, 0x04, 0x00, 0x01, 0x86, 0xA0});
    std::vector<uint8_t> serial{0x06, 0x1B, 0x00, 0x14};
    serial.insert(serial.end(), 20, 'A');
    serial = WithCrc(serial);
    const auto interval = WithCrc({0x06, 0x52, 0x00, 0x04, 0x00, 0x00, 0x00, 0x3C});
    const auto reboot = WithCrc({0x06, 0x30});
    const std::vector<uint8_t> boot{0x3A, 0x00, 0x00, 0x00, 0x30, 0xD0};

    const auto out = FeedAll(a, Concat({read, write, capacity, serial, interval, reboot, boot}));
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[0].bytes, read);
    EXPECT_EQ(out[1].bytes, write);
    EXPECT_EQ(out[2].bytes, capacity);
    EXPECT_EQ(out[3].bytes, serial);
    EXPECT_EQ(out[4].bytes, interval);
    EXPECT_EQ(out[5].bytes, reboot);
    EXPECT_EQ(out[6].kind, Request::Kind::BootCommand);
    EXPECT_FALSE(a.pending());
}

TEST(RequestAssembler, FrameSplitAtEveryByteIsTakenOnce)
{
    RequestAssembler a(0x06);
    const auto write = WriteRequest(0x06, 0x9D19, {5, 30, 14, 2, 17, 6, 24, 8});
    std::vector<Request> out;
    for (uint8_t b : write)
        a.feed(&b, 1, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, write);
}

TEST(RequestAssembler, GarbageOtherAddressesAndBadChecksAreSkipped)
{
    RequestAssembler a(0x06);
    auto corrupt = ReadRequest(0x06, 0x0080, 4);
    corrupt[7] ^= 0xFF;
    const auto good = ReadRequest(0x06, 0x0100, 4);
    const auto out = FeedAll(a, Concat({{0xFF, 0x00, 0x55}, ReadRequest(0x07, 0x000A, 30), corrupt, good}));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, good);
    EXPECT_GT(a.droppedBytes(), 0u);
}

TEST(RequestAssembler, StalePartialFrameIsDroppedWhenTheLineGoesQuiet)
{
    RequestAssembler a(0x06);
    // Looks like the start of a write of 200 bytes, then nothing more.
    auto out = FeedAll(a, {0x06, 0x10, 0x00, 0x00, 0x00, 0x64, 0xC8});
    EXPECT_TRUE(out.empty());
    const auto good = ReadRequest(0x06, 0x0200, 6);
    a.feed(good.data(), good.size(), out);
    EXPECT_TRUE(out.empty());  // still swallowed by the partial frame
    while (a.pending() && out.empty())
        a.expire(out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, good);
}

TEST(RequestAssembler, ImageRecordsOnlyWhileTheBootLoaderTakesThem)
{
    RequestAssembler a(0x06);
    const std::vector<uint8_t> record{0x3A, 0x04, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF2};
    EXPECT_TRUE(FeedAll(a, record).empty());
    a.setAcceptRecords(true);
    auto out = FeedAll(a, record);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, Request::Kind::ImageRecord);
    EXPECT_EQ(out[0].bytes, record);
    // The end-of-file record has the length of a boot command but is a record.
    out = FeedAll(a, {0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, Request::Kind::ImageRecord);
    out = FeedAll(a, {0x3A, 0x00, 0x00, 0x00, 0x37, 0xC9});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, Request::Kind::BootCommand);
}

TEST(RequestAssembler, UnknownFunctionIsDelimitedByItsCrc)
{
    RequestAssembler a(0x06);
    const auto coils = ReadRequest(0x06, 0x0000, 8, 0x01);
    const auto out = FeedAll(a, Concat({coils, ReadRequest(0x06, 0x000A, 1)}));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes, coils);
}

TEST(RequestAssembler, RandomBytesNeverHideTheNextGoodRequest)
{
    RequestAssembler a(0x06);
    a.setAcceptRecords(true);
    uint32_t seed = 12345;
    std::vector<uint8_t> noise(20000);
    for (uint8_t& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    std::vector<Request> out;
    a.feed(noise.data(), noise.size(), out);
    // Whatever the noise formed, the line then goes quiet and the partial is dropped.
    for (int i = 0; i < 300 && a.pending(); ++i)
        a.expire(out);
    EXPECT_FALSE(a.pending());
    out.clear();
    const auto good = ReadRequest(0x06, 0x0080, 4);
    a.feed(good.data(), good.size(), out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, good);
}
