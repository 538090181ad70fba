#include "PortClient.h"
#include "RuntimeDir.h"
#include "VirtualPack.h"

#include <gtest/gtest.h>

using namespace bms::sim;
using namespace bms::sim::test;

namespace {

// A small image in the form the tool reads it.
const std::vector<std::string> ImageLines{
    ":020000040800F2",
    ":10000000000102030405060708090A0B0C0D0E0F78",
    ":10001000101112131415161718191A1B1C1D1E1F68",
    ":040020002021222356",
    ":00000001FF",
};

std::vector<uint8_t> Record(const std::string& line)
{
    std::vector<uint8_t> r{static_cast<uint8_t>(line[0])};
    const auto rest = bms::HexTextToBytes(line.substr(1));
    r.insert(r.end(), rest.begin(), rest.end());
    return r;
}

std::string ImageText()
{
    std::string text;
    for (const auto& line : ImageLines)
        text += line + "\n";
    return text;
}

PackConfig FastConfig(const std::string& product = "Q-Serial")
{
    TestRuntimeDir();
    PackConfig c;
    c.live = false;
    c.productType = product;
    c.address = 0x01;
    c.bootRebootMs = 50;
    c.bootEraseMs = 80;
    c.bootCheckMs = 60;
    c.devEraseMs = 10;
    return c;
}

const std::vector<uint8_t> BootReboot{0x3A, 0x00, 0x00, 0x00, 0x30, 0xD0};
const std::vector<uint8_t> BootErase{0x3A, 0x00, 0x00, 0x00, 0x37, 0xC9};

// The reboot order as the tool sends it; returns the first status frame.
std::vector<uint8_t> Reboot(PortClient& client, uint8_t address)
{
    client.send(WriteRequest(address, 0x9D00, {0x00, 0x30}));
    EXPECT_TRUE(client.quietFor(100));  // not acknowledged
    client.send(BootReboot);
    client.send(WithCrc({address, 0x30}));
    return client.receive(5);
}

// Reboot, erase, and wait for "first write".
void ToFirstWrite(PortClient& client, uint8_t address, uint8_t statusAddress)
{
    ASSERT_EQ(Reboot(client, address), Status(statusAddress, 0x31));
    ASSERT_EQ(client.receive(5), Status(statusAddress, 0x32));
    client.send(BootErase);
    ASSERT_EQ(client.receive(5), Status(statusAddress, 0x33));
}

std::vector<uint8_t> DevPacket(uint32_t index, const std::vector<uint8_t>& record)
{
    std::vector<uint8_t> payload{static_cast<uint8_t>(index >> 24), static_cast<uint8_t>(index >> 16),
                                 static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)};
    payload.insert(payload.end(), record.begin(), record.end());
    return WriteRequest(0x01, 0x9F00, payload, static_cast<uint16_t>(payload.size() / 2));
}

std::vector<uint8_t> DevInfo()
{
    std::vector<uint8_t> p{0x01, 0x02, 0x03, 0x04, 0xAB, 0xCD, 0x00, 0x00, 0x00, 0x26, 0, 0, 0, 0};
    p.insert(p.end(), 16, 0xFF);
    p.insert(p.end(), {0x00, 0x01, 0x00, 0x00});
    return p;
}

} // namespace

TEST(MainBoardUpgrade, WholeImageIsAcceptedAndKeptByteForByte)
{
    VirtualPack pack(FastConfig());
    PortClient client(pack.start());
    ToFirstWrite(client, 0x01, 0x06);  // Q-Serial boot loaders answer from 0x06
    for (size_t i = 0; i + 1 < ImageLines.size(); ++i)
        ASSERT_EQ(client.ask(Record(ImageLines[i]), 5), Status(0x06, 0x34)) << i;
    EXPECT_EQ(client.ask(Record(ImageLines.back()), 5), Status(0x06, 0x36));
    EXPECT_EQ(client.receive(5), Status(0x06, 0x38));
    EXPECT_EQ(pack.imageHex(Target::MainBoard), ImageText());
    EXPECT_EQ(pack.bootState(), BootLoader::State::Application);
    // Back in the application: Modbus again.
    EXPECT_EQ(client.ask(ReadRequest(0x01, 0x0080, 4), 13).size(), 13u);
}

TEST(MainBoardUpgrade, BsiBoardAnswersFromItsOwnAddressAndIgnoresModbusInTheBootLoader)
{
    VirtualPack pack(FastConfig("BSI"));
    PortClient client(pack.start());
    ToFirstWrite(client, 0x01, 0x01);
    client.send(ReadRequest(0x01, 0x0080, 4));
    EXPECT_TRUE(client.quietFor(200));
}

TEST(MainBoardUpgrade, WriteErrorAtRecordNGivesStatus35)
{
    VirtualPack pack(FastConfig());
    pack.setWriteErrorAtRecord(2);
    PortClient client(pack.start());
    ToFirstWrite(client, 0x01, 0x06);
    EXPECT_EQ(client.ask(Record(ImageLines[0]), 5), Status(0x06, 0x34));
    EXPECT_EQ(client.ask(Record(ImageLines[1]), 5), Status(0x06, 0x35));
    // The next run starts again from the reboot frame.
    client.send(WithCrc({0x01, 0x30}));
    EXPECT_EQ(client.receive(5), Status(0x06, 0x31));
}

TEST(MainBoardUpgrade, SilenceAfterRecordNLeavesTheToolWithoutAnswers)
{
    VirtualPack pack(FastConfig());
    pack.setSilenceAfterRecord(1);
    PortClient client(pack.start());
    ToFirstWrite(client, 0x01, 0x06);
    EXPECT_EQ(client.ask(Record(ImageLines[0]), 5), Status(0x06, 0x34));
    client.send(Record(ImageLines[1]));
    EXPECT_TRUE(client.quietFor(300));
    EXPECT_EQ(pack.records(Target::MainBoard).size(), 2u);
}

TEST(MainBoardUpgrade, RebootFrameWithoutTheOrderIsIgnored)
{
    VirtualPack pack(FastConfig());
    PortClient client(pack.start());
    client.send(WithCrc({0x01, 0x30}));
    EXPECT_TRUE(client.quietFor(200));
    EXPECT_EQ(pack.bootState(), BootLoader::State::Application);
}

TEST(DevFirmwareUpgrade, RecordsWithIndicesAndTheCountAreAcknowledged)
{
    VirtualPack pack(FastConfig());
    PortClient client(pack.start());
    const auto info = DevInfo();
    EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E00, info, 17), 8), WriteAck(0x01, 0x9E00, 17));
    EXPECT_EQ(pack.devFirmwareInfo(), info);
    for (uint32_t i = 0; i < ImageLines.size(); ++i) {
        const auto packet = DevPacket(i, Record(ImageLines[i]));
        const uint16_t count = bms::ReadU16BE(packet.data(), 4);
        ASSERT_EQ(client.ask(packet, 8), WriteAck(0x01, 0x9F00, count)) << i;
    }
    const uint32_t n = static_cast<uint32_t>(ImageLines.size());
    EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E05, {0, 0, 0, static_cast<uint8_t>(n)}), 8), WriteAck(0x01, 0x9E05, 2));
    EXPECT_EQ(pack.devRecordCount(), n);
    EXPECT_EQ(pack.devRecordIndices(), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(pack.imageHex(Target::DevFirmware), ImageText());
    EXPECT_TRUE(pack.records(Target::MainBoard).empty());
}

TEST(DevFirmwareUpgrade, WriteErrorCountMismatchAndEraseAreAnswered)
{
    VirtualPack pack(FastConfig());
    pack.setWriteErrorAtRecord(2);
    PortClient client(pack.start());
    EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E00, DevInfo(), 17), 8), WriteAck(0x01, 0x9E00, 17));
    EXPECT_EQ(client.ask(DevPacket(0, Record(ImageLines[0])), 8).size(), 8u);
    EXPECT_EQ(client.ask(DevPacket(1, Record(ImageLines[1])), 5), WithCrc({0x01, 0x90, 0x04}));
    // A record count that does not match what arrived is refused.
    EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E05, {0, 0, 0, 9}), 5), WithCrc({0x01, 0x90, 0x04}));
    EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E80, {0, 0}), 8), WriteAck(0x01, 0x9E80, 1));
    EXPECT_EQ(pack.devEraseCount(), 1u);
    EXPECT_TRUE(pack.records(Target::DevFirmware).empty());
}

TEST(DevFirmwareUpgrade, SilenceAfterRecordN)
{
    VirtualPack pack(FastConfig());
    pack.setSilenceAfterRecord(0);
    PortClient client(pack.start());
    EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E00, DevInfo(), 17), 8).size(), 8u);
    client.send(DevPacket(0, Record(ImageLines[0])));
    EXPECT_TRUE(client.quietFor(300));
    EXPECT_EQ(pack.records(Target::DevFirmware).size(), 1u);
}

// One answer lost or corrupted on the line: the pack has taken the record.
// A dev-firmware record sent again under its index replaces it, so the image
// and the record count come out right; the main board goes on with the next
// record. Each fault acts once.
TEST(UpgradeFaults, LostOrCorruptedAnswerToRecordTwo)
{
    for (const bool dev : {false, true}) {
        for (const bool corrupt : {false, true}) {
            SCOPED_TRACE(std::string(dev ? "dev firmware" : "main board") + (corrupt ? ", corrupted" : ", lost"));
            VirtualPack pack(FastConfig());
            PortClient client(pack.start());
            if (corrupt)
                pack.setCorruptAnswerAtRecord(2);
            else
                pack.setLoseAnswerAtRecord(2);
            const auto faulty = [&](const std::vector<uint8_t>& good, const std::vector<uint8_t>& request) {
                if (corrupt) {
                    std::vector<uint8_t> bad = good;
                    bad.back() ^= 0x5A;
                    EXPECT_EQ(client.ask(request, good.size()), bad);
                } else {
                    client.send(request);
                    EXPECT_TRUE(client.quietFor(200));
                }
            };
            if (dev) {
                ASSERT_EQ(client.ask(WriteRequest(0x01, 0x9E00, DevInfo(), 17), 8).size(), 8u);
                for (uint32_t i = 0; i < ImageLines.size(); ++i) {
                    const auto packet = DevPacket(i, Record(ImageLines[i]));
                    const auto ack = WriteAck(0x01, 0x9F00, bms::ReadU16BE(packet.data(), 4));
                    if (i == 1)
                        faulty(ack, packet);
                    ASSERT_EQ(client.ask(packet, 8), ack) << i;
                }
                const uint8_t n = static_cast<uint8_t>(ImageLines.size());
                EXPECT_EQ(client.ask(WriteRequest(0x01, 0x9E05, {0, 0, 0, n}), 8), WriteAck(0x01, 0x9E05, 2));
                EXPECT_EQ(pack.devRecordIndices(), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
                EXPECT_EQ(pack.imageHex(Target::DevFirmware), ImageText());
            } else {
                ToFirstWrite(client, 0x01, 0x06);
                ASSERT_EQ(client.ask(Record(ImageLines[0]), 5), Status(0x06, 0x34));
                faulty(Status(0x06, 0x34), Record(ImageLines[1]));
                for (size_t i = 2; i + 1 < ImageLines.size(); ++i)
                    ASSERT_EQ(client.ask(Record(ImageLines[i]), 5), Status(0x06, 0x34)) << i;
                EXPECT_EQ(client.ask(Record(ImageLines.back()), 5), Status(0x06, 0x36));
                EXPECT_EQ(pack.imageHex(Target::MainBoard), ImageText());
            }
        }
    }
}

TEST(Images, WrittenToAFileAsIntelHexLines)
{
    VirtualPack pack(FastConfig());
    PortClient client(pack.start());
    ToFirstWrite(client, 0x01, 0x06);
    for (const auto& line : ImageLines)
        client.ask(Record(line), 5);
    const std::string file = TestRuntimeDir() + "/received.hex";
    ASSERT_TRUE(pack.writeImageHex(Target::MainBoard, file, "\r\n"));
    FILE* f = fopen(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string text(4096, '\0');
    text.resize(fread(text.data(), 1, text.size(), f));
    fclose(f);
    std::string expected;
    for (const auto& line : ImageLines)
        expected += line + "\r\n";
    EXPECT_EQ(text, expected);
}
