// Bytes through the serial port component over a pseudo-terminal: received
// chunks, queued writes, and a peer that vanishes.
#include "SerialTestSupport.h"

#include "SerialComm.h"

#include <QElapsedTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

namespace bms::test {
namespace {

struct Chunk {
    std::vector<uint8_t> bytes;
    uint8_t after = 0xFF; // the byte after the data
};

class SerialIo : public testing::Test {
protected:
    void SetUp() override
    {
        comm.setCommName(pty.slavePath());
        comm.setReadIntervalTimeout(1); // as the window uses it
        comm.OnReceiveData = [this](const uint8_t* buffer, uint16_t length) {
            chunks.push_back(Chunk { std::vector<uint8_t>(buffer, buffer + length), buffer[length] });
            received += length;
        };
        comm.OnRequestHangup = [this] { ++hangups; };
        comm.OnSendDataEmpty = [this] { ++sendEmpty; };
        comm.OpenComm();
    }
    void TearDown() override { comm.CloseComm(); }

    std::vector<uint8_t> Joined() const
    {
        std::vector<uint8_t> all;
        for (const Chunk& c : chunks)
            all.insert(all.end(), c.bytes.begin(), c.bytes.end());
        return all;
    }

    PtyPair pty;
    TComm comm;
    std::vector<Chunk> chunks;
    size_t received = 0;
    int hangups = 0;
    int sendEmpty = 0;
};

TEST_F(SerialIo, burstOf1500BytesArrivesInZeroTerminatedChunksOfAtMost1024)
{
    std::vector<uint8_t> burst(1500);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<uint8_t>(i * 7 + 1) | 1; // never 0
    ASSERT_TRUE(pty.WriteAll(burst.data(), burst.size()));

    ASSERT_TRUE(WaitUntil([&] { return received >= burst.size(); }));
    EXPECT_GE(chunks.size(), 2u);
    for (const Chunk& c : chunks) {
        EXPECT_LE(c.bytes.size(), 1024u);
        EXPECT_EQ(c.after, 0);
    }
    EXPECT_EQ(Joined(), burst);
}

TEST_F(SerialIo, nullBytesAreDroppedOnlyWhileIgnoreNullCharIsSet)
{
    const uint8_t first[] = { 'a', 0, 'b', 0 };
    ASSERT_TRUE(pty.WriteAll(first, sizeof first));
    ASSERT_TRUE(WaitUntil([&] { return received >= 4; }));
    comm.setIgnoreNullChar(true);
    const uint8_t second[] = { 0, 'c', 0, 'd' };
    ASSERT_TRUE(pty.WriteAll(second, sizeof second));
    ASSERT_TRUE(WaitUntil([&] { return received >= 6; }));
    EXPECT_EQ(Joined(), (std::vector<uint8_t> { 'a', 0, 'b', 0, 'c', 'd' }));
}

TEST_F(SerialIo, manyQueuedWritesArriveIntactAndInOrder)
{
    std::vector<uint8_t> expected;
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> frame(1 + (i * 37) % 200);
        for (size_t k = 0; k < frame.size(); ++k)
            frame[k] = static_cast<uint8_t>(i + k);
        ASSERT_TRUE(comm.SendData(frame.data(), static_cast<uint16_t>(frame.size())));
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(pty.Read(expected.size()), expected);
    // Drained: the flag and the notification follow.
    ASSERT_TRUE(WaitUntil([&] { return comm.SendDataEmpty() && sendEmpty >= 1; }));
    EXPECT_EQ(hangups, 0);
}

TEST_F(SerialIo, vanishedPeerEndsReceivingWithOneHangupAndCloseStillReturns)
{
    const uint8_t last[] = { 1, 2, 3 };
    ASSERT_TRUE(pty.WriteAll(last, sizeof last));
    ASSERT_TRUE(WaitUntil([&] { return received == 3; }));
    pty.CloseMaster();

    ASSERT_TRUE(WaitUntil([&] { return hangups > 0; }));
    EXPECT_TRUE(comm.Connected());
    EXPECT_NE(comm.ComHandle(), 0);

    QElapsedTimer clock;
    clock.start();
    comm.CloseComm();
    EXPECT_LT(clock.elapsed(), 5000); // far below the 10 s a stuck thread would get
    comm.ProcessNotifications();
    EXPECT_EQ(hangups, 1);
    EXPECT_FALSE(comm.Connected());
}

TEST_F(SerialIo, transmitThreadOutlivesTheReceiveThreadUntilItsOwnWriteFails)
{
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return hangups == 1; }));
    const uint8_t request[] = { 0x01, 0x04, 0x00, 0x00, 0x00, 0x0A, 0x70, 0x0D };
    EXPECT_TRUE(comm.SendData(request, sizeof request)); // still taken
    ASSERT_TRUE(WaitUntil([&] { return hangups == 2; })); // the write met the hang-up
    ASSERT_TRUE(WaitUntil([&] { return !comm.SendData(request, sizeof request); }));
    EXPECT_TRUE(comm.Connected());
}

TEST_F(SerialIo, timeoutsChangedOnTheOpenPortTakeEffectAtOnce)
{
    auto pause = [](int ms) {
        QElapsedTimer clock;
        clock.start();
        WaitUntil([&] { return clock.elapsed() >= ms; });
    };
    // Neither interval nor total: a read completes only at 1024 bytes, however
    // long the line pauses.
    comm.setReadIntervalTimeout(0);
    std::vector<uint8_t> block(1024, 0x5A);
    ASSERT_TRUE(pty.WriteAll(block.data(), 1000));
    pause(30);
    ASSERT_TRUE(pty.WriteAll(block.data() + 1000, 24));
    ASSERT_TRUE(WaitUntil([&] { return received == 1024; }));
    ASSERT_EQ(chunks.size(), 1u);

    // A total time-out completes short reads; reads that time out without
    // bytes while the line is silent end nothing.
    comm.setReadTotalTimeoutConstant(20);
    const uint8_t first[] = { 1, 2, 3, 4, 5 };
    ASSERT_TRUE(pty.WriteAll(first, sizeof first));
    ASSERT_TRUE(WaitUntil([&] { return received == 1029; }));
    pause(150);
    const uint8_t second[] = { 6, 7 };
    ASSERT_TRUE(pty.WriteAll(second, sizeof second));
    ASSERT_TRUE(WaitUntil([&] { return received == 1031; }));
    EXPECT_EQ(hangups, 0);
    EXPECT_EQ(chunks.back().bytes, (std::vector<uint8_t> { 6, 7 }));

    // Switched from a read interval to "at once" while the receive thread
    // waits: the next bytes are handed on, not kept for an interval that is
    // no longer there (an upgrade run switches so while the port is open).
    comm.setReadTotalTimeoutConstant(0);
    comm.setReadIntervalTimeout(1);
    pause(30);
    comm.setReadIntervalTimeout(kReadIntervalImmediate);
    const uint8_t third[] = { 8, 9, 10 };
    ASSERT_TRUE(pty.WriteAll(third, sizeof third));
    ASSERT_TRUE(WaitUntil([&] { return received == 1034; }));
}

TEST_F(SerialIo, handlerWaitingInANestedEventLoopGetsTheNextChunksInOrder)
{
    auto record = comm.OnReceiveData;
    bool nestedDone = false;
    comm.OnReceiveData = [&](const uint8_t* buffer, uint16_t length) {
        record(buffer, length);
        if (buffer[0] != 'A')
            return;
        // As a handler that calls Delay: the event loop goes on inside it.
        const uint8_t next[] = { 'B', 'C' };
        EXPECT_TRUE(pty.WriteAll(next, sizeof next));
        nestedDone = WaitUntil([&] { return received >= 3; });
    };
    const uint8_t first = 'A';
    ASSERT_TRUE(pty.WriteAll(&first, 1));
    ASSERT_TRUE(WaitUntil([&] { return received >= 3; }));
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(Joined(), (std::vector<uint8_t> { 'A', 'B', 'C' }));
}

TEST_F(SerialIo, exceptionFromAHandlerIsReportedAndDeliveryGoesOn)
{
    QStringList reported;
    comm.OnEventException = [&](const std::exception& e) { reported.append(QString::fromUtf8(e.what())); };
    auto record = comm.OnReceiveData;
    comm.OnReceiveData = [&](const uint8_t* buffer, uint16_t length) {
        record(buffer, length);
        if (chunks.size() == 1)
            throw std::runtime_error("handler failed");
    };
    const uint8_t one = 1;
    ASSERT_TRUE(pty.WriteAll(&one, 1));
    ASSERT_TRUE(WaitUntil([&] { return reported.size() == 1; }));
    const uint8_t two = 2;
    ASSERT_TRUE(pty.WriteAll(&two, 1));
    ASSERT_TRUE(WaitUntil([&] { return received == 2; }));
    EXPECT_EQ(reported, QStringList { QStringLiteral("handler failed") });
}

} // namespace
} // namespace bms::test
