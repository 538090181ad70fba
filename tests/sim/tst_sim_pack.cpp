#include "PortClient.h"
#include "RuntimeDir.h"
#include "LineWriter.h"
#include "VirtualPack.h"

#include "RuntimePorts.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bms::sim;
using namespace bms::sim::test;

namespace {

PackConfig TestConfig()
{
    TestRuntimeDir();
    PackConfig c;
    c.live = false;
    c.cellCount = 8;
    c.cellTempCount = 2;
    c.mosTempCount = 1;
    return c;
}

std::string ReadLink(const std::string& path)
{
    char buffer[512];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

class PackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = pack.start();
        client = std::make_unique<PortClient>(path);
        ASSERT_TRUE(client->isOpen());
    }
    VirtualPack pack{TestConfig()};
    std::string path;
    std::unique_ptr<PortClient> client;
};

} // namespace

TEST_F(PackTest, ReadOfEveryTelemetryBlockIsAnsweredFromTheRegisterMap)
{
    const struct { uint16_t reg, count; } blocks[] = {
        {0x000A, 30}, {0x0080, 4}, {0x0100, 4}, {0x0200, 6}, {0x0400, 2}, {0x0480, 1}, {0x0500, 8}, {0x2000, 40},
        {0x9D01, 38}, {0x1234, 3},
    };
    for (const auto& b : blocks) {
        const auto answer = client->ask(ReadRequest(0x06, b.reg, b.count), 5u + 2u * b.count);
        ASSERT_EQ(answer.size(), 5u + 2u * b.count) << std::hex << b.reg;
        EXPECT_TRUE(bms::CrcMatches(answer.data(), static_cast<int>(answer.size())));
        EXPECT_EQ(answer[0], 0x06);
        EXPECT_EQ(answer[1], 0x04);
        EXPECT_EQ(answer[2], 2 * b.count);
        const auto expected = pack.registers(b.reg, b.count);
        for (uint16_t i = 0; i < b.count; ++i)
            EXPECT_EQ(bms::ReadU16BE(answer.data(), static_cast<uint16_t>(3 + 2 * i)), expected[i]);
    }
    EXPECT_EQ(pack.requestCount(0x04), 10u);
    EXPECT_EQ(pack.registers(0x0205, 1)[0], 8);
}

TEST_F(PackTest, WritesAreAcknowledgedStoredAndReadBack)
{
    const std::vector<uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2'};
    EXPECT_EQ(client->ask(WriteRequest(0x06, 0x9D05, digits), 8), WriteAck(0x06, 0x9D05, 6));
    EXPECT_EQ(pack.barcode(), "123456789012");
    const auto info = client->ask(ReadRequest(0x06, 0x9D01, 38), 81);
    ASSERT_EQ(info.size(), 81u);
    EXPECT_EQ(std::string(info.begin() + 3 + 8, info.begin() + 3 + 20), "123456789012");

    // Parameter with the odd shape of the tool: type, index, 2-byte value.
    EXPECT_EQ(client->ask(WriteRequest(0x06, 0x9CFA, {0x01, 0xFF, 0x0E, 0x10}), 8), WriteAck(0x06, 0x9CFA, 2));
    EXPECT_EQ(pack.parameters().at({1, 0xFF}), 3600u);

    // The pack's own functions echo their header.
    const auto capacity = WithCrc({0x06, 0x14, 0x00, 0x04, 0x00, 0x01, 0xE2, 0x40});
    EXPECT_EQ(client->ask(capacity, 6), WithCrc({0x06, 0x14, 0x00, 0x04}));
    EXPECT_EQ(pack.ratedCapacity(), 123456u);
    std::vector<uint8_t> sn{0x06, 0x1B, 0x00, 0x14};
    const std::string text = "                  AB";
    sn.insert(sn.end(), text.begin(), text.end());
    EXPECT_EQ(client->ask(WithCrc(sn), 6), WithCrc({0x06, 0x1B, 0x00, 0x14}));
    EXPECT_EQ(pack.serialNumber(), text);
    EXPECT_EQ(client->ask(WithCrc({0x06, 0x52, 0x00, 0x04, 0x00, 0x00, 0x01, 0x2C}), 6),
              WithCrc({0x06, 0x52, 0x00, 0x04}));
    EXPECT_EQ(pack.uploadInterval(), 300u);
}

TEST_F(PackTest, RefusedRegisterGetsAnExceptionAndOthersStillWork)
{
    pack.refuseRegister(0x9D1E);
    EXPECT_EQ(client->ask(WriteRequest(0x06, 0x9D1E, {0x00, 0x02}), 5), WithCrc({0x06, 0x90, 0x02}));
    EXPECT_EQ(client->ask(ReadRequest(0x06, 0x9D01, 38), 5), WithCrc({0x06, 0x84, 0x02}));
    EXPECT_EQ(client->ask(WriteRequest(0x06, 0x9D25, {0, 3, 2, 0x58}), 8), WriteAck(0x06, 0x9D25, 2));
    pack.refuseRegister(0x9D1E, false);
    EXPECT_EQ(client->ask(WriteRequest(0x06, 0x9D1E, {0x00, 0x02}), 8), WriteAck(0x06, 0x9D1E, 1));
    EXPECT_EQ(pack.reg(0x9D1E), 2);
}

TEST_F(PackTest, SilentPackAnswersNothingForTheCountedRequests)
{
    pack.setSilent(2);
    const auto request = ReadRequest(0x06, 0x0080, 4);
    client->send(request);
    EXPECT_TRUE(client->quietFor(300));
    client->send(request);
    EXPECT_TRUE(client->quietFor(300));
    EXPECT_EQ(client->ask(request, 13).size(), 13u);
    EXPECT_EQ(pack.requestCount(0x04), 3u);
}

TEST_F(PackTest, CorruptCrcNoiseAndSplitShapeTheAnswer)
{
    const auto request = ReadRequest(0x06, 0x0100, 4);
    pack.setCorruptCrc(1);
    auto answer = client->ask(request, 13);
    ASSERT_EQ(answer.size(), 13u);
    EXPECT_FALSE(bms::CrcMatches(answer.data(), 13));
    answer = client->ask(request, 13);
    EXPECT_TRUE(bms::CrcMatches(answer.data(), 13));

    pack.setNoise({0xFF, 0x00, 0xAA});
    answer = client->ask(request, 16);
    ASSERT_EQ(answer.size(), 16u);
    EXPECT_EQ(std::vector<uint8_t>(answer.begin(), answer.begin() + 3), (std::vector<uint8_t>{0xFF, 0x00, 0xAA}));
    EXPECT_TRUE(bms::CrcMatches(answer.data() + 3, 13));
    pack.setNoise({});

    pack.setSplit(13, 20);
    answer = client->ask(request, 13);
    ASSERT_EQ(answer.size(), 13u);
    EXPECT_TRUE(bms::CrcMatches(answer.data(), 13));
    EXPECT_GT(client->chunksOfLastReceive(), 1);  // the pieces came apart
}

TEST_F(PackTest, SlowAnswerComesNoEarlierThanItsDelay)
{
    pack.setAnswerDelay(300);
    const auto begin = std::chrono::steady_clock::now();
    const auto answer = client->ask(ReadRequest(0x06, 0x0080, 4), 13);
    EXPECT_EQ(answer.size(), 13u);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
}

TEST_F(PackTest, PortClosedAndReopenedStillAnswers)
{
    EXPECT_EQ(client->ask(ReadRequest(0x06, 0x0080, 4), 13).size(), 13u);
    client->close();
    client = std::make_unique<PortClient>(path);
    EXPECT_EQ(client->ask(ReadRequest(0x06, 0x0080, 4), 13).size(), 13u);
}

TEST_F(PackTest, GarbageBeforeARequestAndRequestsToOthersAreIgnored)
{
    auto bytes = std::vector<uint8_t>{0x00, 0x13, 0x37};
    const auto other = ReadRequest(0x07, 0x0080, 4);
    bytes.insert(bytes.end(), other.begin(), other.end());
    const auto mine = ReadRequest(0x06, 0x0080, 4);
    bytes.insert(bytes.end(), mine.begin(), mine.end());
    const auto answer = client->ask(bytes, 13);
    ASSERT_EQ(answer.size(), 13u);
    EXPECT_EQ(answer[0], 0x06);
    EXPECT_TRUE(client->quietFor(200));
    EXPECT_EQ(pack.requestCount(0x04), 1u);
}

TEST(VirtualPack, PublishesItsTerminalAndRemovesItOnStop)
{
    PackConfig c = TestConfig();
    c.name = "publish-test";
    VirtualPack pack(c);
    const std::string slave = pack.start();
    const std::string link = bms::RuntimePortDir() + "/virtual-pack-publish-test";
    EXPECT_EQ(pack.linkPath(), link);
    EXPECT_EQ(ReadLink(link), slave);
    struct stat st{};
    ASSERT_EQ(stat(bms::RuntimePortDir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    pack.stop();
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    EXPECT_FALSE(pack.running());
}

TEST(VirtualPack, LineTimingMakesAnAnswerTakeItsCharacterTimes)
{
    PackConfig c = TestConfig();
    c.baud = 9600;  // about 1.04 ms per byte
    VirtualPack pack(c);
    PortClient client(pack.start());
    const auto begin = std::chrono::steady_clock::now();
    const auto answer = client.ask(ReadRequest(0x06, 0x000A, 30), 65);
    EXPECT_EQ(answer.size(), 65u);
    // Request (8) + turnaround (3.5) + answer (65) characters at 10 bits.
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::microseconds(76 * 1041));
}

// The line's bytes are timed from when the frame was due, so that a wake-up
// that comes late (a busy machine) does not delay the whole answer on top.
TEST(VirtualPack, PacedBytesAreTimedFromTheFramesStartNotFromALateWakeUp)
{
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    const int stop = eventfd(0, 0);
    LineWriter line(fds[1], stop);
    const std::vector<uint8_t> frame(100, 0x55); // 104 ms at 9600 baud
    const auto begin = Clock::now();
    // Due 200 ms ago: the frame's time on the line is over; it goes at once.
    ASSERT_TRUE(line.send(frame, {9600, 1, 0}, begin - std::chrono::milliseconds(200)));
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(50));
    uint8_t got[256];
    EXPECT_EQ(read(fds[0], got, sizeof got), 100);
    // A frame due now still takes its character times.
    ASSERT_TRUE(line.send(frame, {9600, 1, 0}, Clock::now()));
    EXPECT_GE(Clock::now() - begin, std::chrono::microseconds(100 * 1041));
    close(fds[0]);
    close(fds[1]);
    close(stop);
}

TEST(VirtualPack, FaultSettersMayBeCalledWhileItAnswers)
{
    VirtualPack pack(TestConfig());
    PortClient client(pack.start());
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (int i = 0; !done; ++i) {
            pack.setNoise(i % 2 ? std::vector<uint8_t>{0x00} : std::vector<uint8_t>{});
            pack.setSplit(1 + i % 3, 1);
            pack.refuseRegister(0x4000, i % 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 20; ++i) {
        client.send(ReadRequest(0x06, 0x0080, 4));
        auto answer = client.receive(13, 3000);
        const auto rest = client.receive(1, 50);  // a noise byte makes it 14
        answer.insert(answer.end(), rest.begin(), rest.end());
        ASSERT_GE(answer.size(), 13u);
        EXPECT_TRUE(bms::CrcMatches(answer.data() + answer.size() - 13, 13));
    }
    done = true;
    toggler.join();
    EXPECT_EQ(pack.requestCount(0x04), 20u);
}
