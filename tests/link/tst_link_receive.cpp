// Receive assembly: chunking, noise, lengths, both framings, CRC runs and
// re-entrant dispatch.
#include "LinkTestSupport.h"

#include "CommandFrame.h"
#include "FrameRecord.h"
#include "ReadRequests.h"
#include "RequestBuilder.h"

#include <QRegularExpression>
#include <chrono>
#include <thread>

using namespace bms;
using namespace bms::test;

namespace {

using ReceiveTest = LinkTest;

// A stream of answers in the ordinary framing with noise between them.
Bytes MixedStream()
{
    return Concat({{0x00, 0xFF, 0x13},
                   WithCrc({0x06, 0x04, 0x02, 0x00, 0x64}),
                   {0x06, 0x03, 0x77}, // address then an unsupported function: dropped
                   WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06}),
                   WithCrc({0x06, 0x04, 0x00}),
                   WithCrc({0x06, 0x90, 0x02}),
                   WithCrc({0x06, 0x04, 0x04, 0x06, 0x06, 0x06, 0x06})});
}

void ArmWrite() { LastWriteReg = 0x9D05, LastWriteQty = 6; }

TEST_F(ReceiveTest, readSplitBeforeItsCrcDispatchesOnceAfterTheSecondChunk)
{
    app.tmr2.setInterval(500);
    app.tmr2.setEnabled(true);
    Feed({0x06, 0x04, 0x02, 0x00, 0x64});
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(app.tmr2.enabled());
    Feed({0x0D, 0x1B});
    EXPECT_EQ(log, std::vector<std::string>{"telemetry 06040200640D1B"});
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_EQ(MY_COM.RxState, 1);
    EXPECT_EQ(MY_COM.RespFunc, 0);
    ASSERT_EQ(Memo().size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Note: communication is normal!\\(\\d\\d:\\d\\d:\\d\\d\\)$"))
                    .match(Memo()[0])
                    .hasMatch())
        << Memo()[0].toStdString();
    EXPECT_EQ(app.host.colour(QStringLiteral("shp9")), ColLime);
}

TEST_F(ReceiveTest, frameStreamSplitAtEveryPointGivesTheSameDispatches)
{
    const Bytes stream = MixedStream();
    ArmWrite();
    Feed(stream);
    const std::vector<std::string> whole = log;
    ASSERT_EQ(whole, (std::vector<std::string>{"telemetry 06040200640D1B", "reRead", "msg:Modified barcode successfully!",
                                               "telemetry " + BytesToHex(WithCrc({0x06, 0x04, 0x00})),
                                               "telemetry " + BytesToHex(WithCrc({0x06, 0x04, 0x04, 0x06, 0x06, 0x06, 0x06}))}));

    for (size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
            log.clear();
            MY_COM.RxState = 1;
            ArmWrite();
            Feed(Bytes(stream.begin(), stream.begin() + cut1));
            Feed(Bytes(stream.begin() + cut1, stream.begin() + cut2));
            Feed(Bytes(stream.begin() + cut2, stream.end()));
            ASSERT_EQ(log, whole) << "cuts " << cut1 << " " << cut2;
        }
    }
    log.clear();
    ArmWrite();
    for (uint8_t b : stream)
        Feed({b});
    EXPECT_EQ(log, whole);
}

TEST_F(ReceiveTest, emptyReadAndFullLengthReadAreBothHeldWhole)
{
    Feed(WithCrc({0x06, 0x04, 0x00}));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(MY_COM.RxLen, 5);

    Bytes big{0x06, 0x04, 0xFF};
    for (int i = 0; i < 255; ++i)
        big.push_back(static_cast<uint8_t>(i ^ 0x5A));
    big = WithCrc(big);
    ASSERT_EQ(big.size(), 260u);
    log.clear();
    Feed(Bytes(big.begin(), big.begin() + 259));
    EXPECT_TRUE(log.empty());
    Feed({big.back()});
    EXPECT_EQ(log, std::vector<std::string>{"telemetry " + BytesToHex(big)});
    EXPECT_EQ(MY_COM.RxLen, 260);
}

TEST_F(ReceiveTest, chunkLongerThan255BytesIsFedCompletely)
{
    Bytes chunk;
    for (int i = 0; i < 60; ++i) {
        const Bytes f = WithCrc({0x06, 0x04, 0x02, 0x00, static_cast<uint8_t>(i)});
        chunk.insert(chunk.end(), f.begin(), f.end());
    }
    ASSERT_EQ(chunk.size(), 420u);
    Feed(chunk);
    ASSERT_EQ(log.size(), 60u);
    EXPECT_EQ(log.back(), "telemetry " + BytesToHex(WithCrc({0x06, 0x04, 0x02, 0x00, 59})));
}

TEST_F(ReceiveTest, badCrcRunsReportFromTheEleventhUntilAGoodFrame)
{
    Bytes bad = WithCrc({0x06, 0x04, 0x02, 0x00, 0x64});
    bad.back() ^= 0xFF;
    app.tmr2.setEnabled(true);
    for (int i = 0; i < 10; ++i)
        Feed(bad);
    EXPECT_FALSE(app.tmr2.enabled()); // stopped by the frame although it is bad
    EXPECT_TRUE(Memo().isEmpty());
    EXPECT_TRUE(log.empty());
    Feed(bad);
    Feed(bad);
    ASSERT_EQ(Memo().size(), 2);
    EXPECT_TRUE(Memo()[0].startsWith(QStringLiteral("Note: error check code received!(")));
    EXPECT_EQ(CrcErrorCount, 12);

    Feed(WithCrc({0x06, 0x04, 0x00}));
    EXPECT_EQ(CrcErrorCount, 0);
    EXPECT_EQ(Memo().size(), 3);
    Feed(bad);
    EXPECT_EQ(Memo().size(), 3);
}

TEST_F(ReceiveTest, acknowledgementCountsOnlyForTheRecordedWrite)
{
    LastWriteReg = 0x9D05;
    LastWriteQty = 5;
    Feed(WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06}));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(LastWriteReg, 0x9D05);

    LastWriteQty = 6;
    Feed(WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06}));
    EXPECT_EQ(log, (std::vector<std::string>{"reRead", "msg:Modified barcode successfully!"}));
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(ReceiveTest, exceptionIsAttributedToThePendingWriteAndClearsIt)
{
    LastWriteReg = 0x9CFA;
    Feed(WithCrc({0x06, 0x90, 0x02}));
    EXPECT_EQ(log, std::vector<std::string>{"msg:Modified parameter failed!"});
    EXPECT_EQ(LastWriteReg, 0);

    log.clear();
    LastWriteReg = 0x4321; // no row: silent, cleared all the same
    Feed(WithCrc({0x06, 0x90, 0x01}));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(ReceiveTest, ordinaryFramingIgnoresOtherAddressesAndFunctions)
{
    SlaveAddr = 0x01;
    Feed(WithCrc({0x06, 0x04, 0x02, 0x00, 0x64})); // another address: all noise
    Feed(Concat({{0x01, 0x83, 0x02}, WithCrc({0x01, 0x04, 0x02, 0x00, 0x64})}));
    EXPECT_EQ(log, std::vector<std::string>{"telemetry " + BytesToHex(WithCrc({0x01, 0x04, 0x02, 0x00, 0x64}))});
}

TEST_F(ReceiveTest, handlerFeedingMoreBytesKeepsTheirOrder)
{
    // The first frame's handler receives the end of the second frame (as a
    // message box would while it is open); the start is still in the outer
    // chunk. The second frame must be assembled in byte order.
    const Bytes second = WithCrc({0x06, 0x04, 0x02, 0x12, 0x34});
    bool nested = false;
    Hooks.telemetry = [&] {
        log.push_back("telemetry " + BytesToHex(MY_COM.RxBuf.data(), MY_COM.RxLen));
        if (!nested) {
            nested = true;
            EXPECT_EQ(MY_COM.RxState, 1);
            Feed(Bytes(second.begin() + 3, second.end()));
        }
    };
    Feed(Concat({WithCrc({0x06, 0x04, 0x00}), Bytes(second.begin(), second.begin() + 3)}));
    EXPECT_EQ(log, (std::vector<std::string>{"telemetry " + BytesToHex(WithCrc({0x06, 0x04, 0x00})),
                                             "telemetry " + BytesToHex(second)}));
}

TEST_F(ReceiveTest, requestFromAHandlerStartsFromACleanState)
{
    Hooks.reReadDeviceInfo = [&] {
        log.push_back("reRead");
        BuildRequest(cmd_read_info);
    };
    ArmWrite();
    Feed(Concat({WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06}), WithCrc({0x06, 0x04, 0x00})}));
    EXPECT_EQ(log, (std::vector<std::string>{"reRead", "msg:Modified barcode successfully!",
                                             "telemetry " + BytesToHex(WithCrc({0x06, 0x04, 0x00}))}));
    EXPECT_EQ(app.link.frames.size(), 1u);
}

TEST_F(ReceiveTest, writeRecordedWhileAReportIsOpenStaysPending)
{
    app.host.onMessage = [&](const QString& m) {
        log.push_back("msg:" + m.toStdString());
        LastWriteReg = 0x9D25; // a write sent while the box is open
        LastWriteQty = 2;
    };
    LastWriteReg = 0x0500;
    LastWriteQty = 1;
    Feed(WithCrc({0x06, 0x10, 0x05, 0x00, 0x00, 0x01}));
    EXPECT_EQ(log, std::vector<std::string>{"msg:Voltage calibration completed!"});
    EXPECT_EQ(LastWriteReg, 0x9D25);
}

TEST_F(ReceiveTest, identityWriteStaysPendingWhileItsReportIsOpen)
{
    // The re-read's answer arrives while the success box is open; the decoder
    // relies on the pending barcode write to stay quiet about that read.
    std::vector<uint16_t> pendingDuringBox;
    app.host.onMessage = [&](const QString&) { pendingDuringBox.push_back(LastWriteReg); };
    ArmWrite();
    Feed(WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06}));
    EXPECT_EQ(pendingDuringBox, std::vector<uint16_t>{0x9D05});
    EXPECT_EQ(LastWriteReg, 0);

    pendingDuringBox.clear();
    ArmWrite();
    Feed(WithCrc({0x06, 0x90, 0x02}));
    EXPECT_EQ(pendingDuringBox, std::vector<uint16_t>{0x9D05});
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(ReceiveTest, eraseDevFirmwareAnswerIsReported)
{
    EraseDevPending = 1;
    LastWriteReg = 0x9E80;
    LastWriteQty = 1;
    Feed(WithCrc({0x06, 0x10, 0x9E, 0x80, 0x00, 0x01}));
    EXPECT_EQ(log, std::vector<std::string>{"msg:Erase dev firmware successfully!"});
    EXPECT_EQ(EraseDevPending, 0);
    EXPECT_EQ(LastWriteReg, 0);

    log.clear();
    EraseDevPending = 1;
    LastWriteReg = 0x9E80;
    Feed(WithCrc({0x06, 0x90, 0x02}));
    EXPECT_EQ(log, std::vector<std::string>{"msg:Erase dev firmware failed!"});
    EXPECT_EQ(EraseDevPending, 0);
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(ReceiveTest, handlerErrorDropsTheRestOfTheChunkAndLeavesStateOne)
{
    Hooks.telemetry = [] { throw std::runtime_error("decoder failed"); };
    const Bytes two = Concat({WithCrc({0x06, 0x04, 0x00}), WithCrc({0x06, 0x04, 0x00})});
    EXPECT_THROW(Feed(two), std::runtime_error);
    EXPECT_EQ(MY_COM.RxState, 1);
    Hooks.telemetry = [&] { log.push_back("telemetry"); };
    Feed(WithCrc({0x06, 0x04, 0x00}));
    EXPECT_EQ(log, std::vector<std::string>{"telemetry"});
}

// Which request a read answer (byte count) or a refusal (-1) belongs to.
// Requests are {block, quantity, sent at ms}; the answer arrives at 3000 ms.
TEST(ReadHistoryTest, answersMatchTheirRequestOrAreDropped)
{
    struct Req {
        int block, quantity, sentMs;
    };
    const struct {
        const char* name;
        std::vector<Req> requests;
        int byteCount;          // -1: a refusal
        ReadMatchKind kind;
        int block, sentMs;      // of the request matched
    } rows[] = {
        {"exact", {{0, 30, 2900}}, 60, ReadMatchKind::Matched, 0, 2900},
        {"late answer to the block asked twice: the older request", {{0, 30, 2000}, {0, 30, 2500}}, 60,
         ReadMatchKind::Matched, 0, 2000},
        {"late answer beside the next block: byte count decides", {{0, 30, 2000}, {1, 4, 2500}}, 60,
         ReadMatchKind::Matched, 0, 2000},
        {"same byte count, different blocks", {{1, 4, 2000}, {2, 4, 2500}}, 8, ReadMatchKind::Ambiguous, -1, 0},
        {"short answer: only block 0 asked for more", {{2, 4, 2000}, {0, 30, 2500}}, 20, ReadMatchKind::Matched, 0,
         2500},
        {"short answer two blocks could give", {{7, 40, 2000}, {0, 30, 2500}}, 20, ReadMatchKind::Ambiguous, -1, 0},
        {"longer than any request", {{0, 30, 2900}}, 62, ReadMatchKind::NoRequest, -1, 0},
        {"request older than two seconds", {{0, 30, 900}}, 60, ReadMatchKind::NoRequest, -1, 0},
        {"nothing asked", {}, 8, ReadMatchKind::NoRequest, -1, 0},
        {"refusal of the one open block", {{6, 16, 2000}, {6, 16, 2500}}, -1, ReadMatchKind::Matched, 6, 2000},
        {"refusal with two blocks open", {{6, 16, 2000}, {0, 30, 2500}}, -1, ReadMatchKind::Ambiguous, -1, 0},
        {"information read", {{0, 30, 2000}, {8, 38, 2500}}, 76, ReadMatchKind::Matched, 8, 2500},
    };
    for (const auto& row : rows) {
        ReadHistory history;
        for (const Req& r : row.requests)
            history.record(r.block, 0, static_cast<uint16_t>(r.quantity), r.sentMs);
        const ReadMatch m = row.byteCount < 0 ? history.matchRefusal(3000) : history.matchAnswer(row.byteCount, 3000);
        EXPECT_EQ(m.kind, row.kind) << row.name;
        if (row.kind == ReadMatchKind::Matched) {
            EXPECT_EQ(m.request.block, row.block) << row.name;
            EXPECT_EQ(m.request.sentMs, row.sentMs) << row.name;
        }
    }
}

TEST(ReadHistoryTest, anAnswerClosesItsRequestAndEveryOlderOne)
{
    // The pack answers in order: after the answer to the second request the
    // first can no longer be answered, and neither can the second again.
    ReadHistory history;
    history.record(1, 0, 4, 1000);
    history.record(0, 0, 30, 1100);
    history.record(1, 0, 4, 1200);
    EXPECT_EQ(history.matchAnswer(60, 1300).request.sentMs, 1100);
    EXPECT_EQ(history.matchAnswer(60, 1300).kind, ReadMatchKind::NoRequest);
    EXPECT_EQ(history.matchAnswer(8, 1300).request.sentMs, 1200);
    EXPECT_EQ(history.matchAnswer(8, 1300).kind, ReadMatchKind::NoRequest);

    // An answer that cannot be told apart still uses up the oldest candidate.
    history.record(1, 0, 4, 2000);
    history.record(2, 0, 4, 2100);
    history.record(2, 0, 4, 2200);
    EXPECT_EQ(history.matchAnswer(8, 2300).kind, ReadMatchKind::Ambiguous);
    const ReadMatch next = history.matchAnswer(8, 2300);
    EXPECT_EQ(next.kind, ReadMatchKind::Matched);
    EXPECT_EQ(next.request.block, 2);
}

// The frame record, as the Traffic window and the trace see a session.
TEST_F(ReceiveTest, frameRecordListsRequestsAnswersAndWhatWentWrong)
{
    std::vector<FrameEvent> events;
    const int id = AddFrameObserver([&](const FrameEvent& e) { events.push_back(e); });
    const Bytes answer = WithCrc({0x06, 0x04, 0x02, 0x00, 0x64});
    Bytes bad = answer;
    bad.back() ^= 0x01;
    const Bytes refusal = WithCrc({0x06, 0x84, 0x02});

    ReadBlock = 0;
    BuildRequest(cmd_read_block);
    Feed(Concat({{0x00, 0xFF}, answer}));
    Feed(bad);
    Feed({0x06, 0x03});       // a function code the tool does not take
    Feed({0x06, 0x10, 0x9D}); // cut off by the next request
    BuildRequest(cmd_read_block);
    Feed(refusal);
    RemoveFrameObserver(id);
    Feed(answer);
    BuildRequest(cmd_read_block);

    const Bytes read = WithCrc({0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E});
    const struct {
        FrameDir dir;
        FrameKind kind;
        Bytes bytes;
        const char* meaning;
    } want[] = {
        {FrameDir::Tx, FrameKind::Frame, read, "read 000A x30"},
        {FrameDir::Rx, FrameKind::Noise, {0x00, 0xFF}, "noise, 2 bytes skipped"},
        {FrameDir::Rx, FrameKind::Frame, answer, "read answer, 2 bytes"},
        {FrameDir::Rx, FrameKind::BadCrc, bad, "read answer, 2 bytes, CRC error"},
        {FrameDir::Rx, FrameKind::Fragment, {0x06, 0x03}, "fragment, 2 bytes abandoned"},
        {FrameDir::Rx, FrameKind::Fragment, {0x06, 0x10, 0x9D}, "fragment, 3 bytes abandoned"},
        {FrameDir::Tx, FrameKind::Frame, read, "read 000A x30"},
        {FrameDir::Rx, FrameKind::Frame, refusal, "read refused, exception code 02 (illegal data address)"},
    };
    ASSERT_EQ(events.size(), std::size(want));
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].dir, want[i].dir) << i;
        EXPECT_EQ(events[i].kind, want[i].kind) << i;
        EXPECT_EQ(BytesToHex(events[i].bytes), BytesToHex(want[i].bytes)) << i;
        EXPECT_EQ(DescribeFrameContent(events[i]).toStdString(), want[i].meaning) << i;
    }
    // The answer is timed from the request it answers.
    EXPECT_GE(events[2].sinceRequestMs, 0);
    EXPECT_TRUE(DescribeFrame(events[2]).endsWith(QStringLiteral(" ms after its request")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} RX 06 04 02 00 64 .. ..  CRC error$"))
                    .match(FormatTraceLine(events[3]))
                    .hasMatch())
        << FormatTraceLine(events[3]).toStdString();
    EXPECT_TRUE(FormatTraceLine(events[1]).endsWith(QStringLiteral(" RX 00 FF  noise")));
}

// "Since request" of the Traffic window: an answer is timed from the request
// the dispatcher matches it to, not from a request sent after it; an answer
// matched to none has no time.
TEST_F(ReceiveTest, frameRecordTimesAnswersFromTheRequestTheDispatcherMatches)
{
    static constexpr int kGapMs = 300;
    const auto gap = [] { std::this_thread::sleep_for(std::chrono::milliseconds(kGapMs)); };
    std::vector<FrameEvent> rx;
    const int id = AddFrameObserver([&](const FrameEvent& e) {
        if (e.dir == FrameDir::Rx)
            rx.push_back(e);
    });
    app.host.texts[QStringLiteral("edt1")] = QStringLiteral("202612080001");
    BuildRequest(cmd_set_barcode);
    gap();
    ReadBlock = 1;
    BuildRequest(cmd_read_block); // a poll after the write
    Feed(WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06}));                   // the write's acknowledgement
    Feed(WithCrc({0x06, 0x04, 0x08, 0, 1, 0, 2, 0, 3, 0, 4}));              // the poll's answer
    Bytes unasked = {0x06, 0x04, 120};                                      // no request asked for 120 bytes
    unasked.resize(3 + 120);
    Feed(WithCrc(unasked));
    ReadRequests.clear();
    BuildRequest(cmd_read_block);
    gap();
    BuildRequest(cmd_set_barcode); // a write after the read
    Feed(WithCrc({0x06, 0x84, 0x02})); // the read's refusal
    RemoveFrameObserver(id);

    ASSERT_EQ(rx.size(), 4u);
    EXPECT_GE(rx[0].sinceRequestMs, kGapMs);
    EXPECT_GE(rx[1].sinceRequestMs, 0);
    EXPECT_LT(rx[1].sinceRequestMs, rx[0].sinceRequestMs - kGapMs / 2);
    EXPECT_EQ(rx[2].sinceRequestMs, -1);
    EXPECT_GE(rx[3].sinceRequestMs, kGapMs);
}

// Meanings of the boot loader's frames and of writes, for both directions.
TEST(FrameTextTest, bootLoaderFramesAndWritesHaveTheirMeaning)
{
    const struct {
        FrameDir dir;
        Framing framing;
        Bytes bytes;
        const char* meaning;
    } rows[] = {
        {FrameDir::Tx, Framing::MainBoard, BootCommand(0x37), "boot command 37 (erase)"},
        {FrameDir::Tx, Framing::MainBoard, {0x3A, 0x02, 0x12, 0x34, 0x00, 0xAA, 0xBB, 0x00}, "image record, data, address 1234, 2 data bytes"},
        {FrameDir::Tx, Framing::MainBoard, {0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF}, "image record, end of file, address 0000, 0 data bytes"},
        {FrameDir::Tx, Framing::Ordinary, WithCrc({0x06, 0x10, 0x9F, 0x00, 0x00, 0x05, 0x0A, 0, 0, 0x01, 0x2C, 0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF}),
         "write 9F00 x5, 10 bytes: record index 300, image record, end of file, address 0000, 0 data bytes"},
        {FrameDir::Rx, Framing::MainBoard, WithCrc({0x06, 0x03, 0x34}), "boot-loader code 34 (next record)"},
        {FrameDir::Tx, Framing::Ordinary, WithCrc({0x06, 0x10, 0x9D, 0x25, 0x00, 0x02, 0x04, 0, 3, 2, 0x58}), "write 9D25 x2, 4 bytes"},
        {FrameDir::Rx, Framing::Ordinary, WithCrc({0x06, 0x10, 0x9D, 0x25, 0x00, 0x02}), "write acknowledged, 9D25 x2"},
        {FrameDir::Rx, Framing::Ordinary, WithCrc({0x06, 0x90, 0x04}), "write refused, exception code 04 (device failure)"},
    };
    for (const auto& row : rows) {
        FrameEvent e;
        e.dir = row.dir;
        e.framing = row.framing;
        e.bytes = row.bytes;
        EXPECT_EQ(DescribeFrameContent(e).toStdString(), row.meaning);
    }
}

} // namespace
