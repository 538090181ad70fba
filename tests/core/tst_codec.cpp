#include "Codec.h"
#include "Convert.h"
#include "Errors.h"

#include <gtest/gtest.h>

using namespace bms;

TEST(Crc16, KnownValuesAndEmptyRanges)
{
    const uint8_t read[] = {0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E};
    EXPECT_EQ(Crc16(read, 6), 0xB751);
    const char* check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0x4B37);
    EXPECT_EQ(Crc16(read, 0), 0xFFFF);
    EXPECT_EQ(Crc16(read, -3), 0xFFFF);

    std::vector<uint8_t> frame(read, read + 6);
    AppendCrc(frame);
    EXPECT_EQ(frame, (std::vector<uint8_t>{0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E, 0x51, 0xB7}));
    EXPECT_TRUE(CrcMatches(frame.data(), 8));
    frame[3] ^= 1;
    EXPECT_FALSE(CrcMatches(frame.data(), 8));
    EXPECT_FALSE(CrcMatches(frame.data(), 1));
}

TEST(BigEndian, WritersAndReaders)
{
    uint8_t buf[8] = {};
    EXPECT_EQ(WriteU16BE(0x9D05, buf, 2), 4);
    EXPECT_EQ(buf[2], 0x9D);
    EXPECT_EQ(buf[3], 0x05);
    EXPECT_EQ(WriteU32BE(0xFFFFFFFE, buf, 4), 8);
    EXPECT_EQ(static_cast<int32_t>(ReadU32BE(buf, 4)), -2);
    EXPECT_EQ(ReadU16BE(buf, 2), 0x9D05);
}

TEST(HexText, PairsLoneDigitsAndSeparators)
{
    EXPECT_EQ(HexTextToBytes("0A 1b-F"), (std::vector<uint8_t>{0x0A, 0x1B, 0x0F}));
    EXPECT_EQ(HexTextToBytes(""), std::vector<uint8_t>{});
    EXPECT_EQ(HexTextToBytes("zz"), std::vector<uint8_t>{});
    // A lone digit takes the character after it along.
    EXPECT_EQ(HexTextToBytes("A-BC"), (std::vector<uint8_t>{0x0A, 0xBC}));
    EXPECT_EQ(BytesToHex(std::vector<uint8_t>{0x00, 0xAB, 0x0F}), "00AB0F");
}

TEST(Convert, IntegersAndTheirErrors)
{
    EXPECT_EQ(StrToInt("19200"), 19200);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt(" 7"), 7);
    EXPECT_EQ(HexToInt("0A"), 10);
    EXPECT_EQ(HexToInt("FA"), 250);
    EXPECT_EQ(HexToUInt32("FFFFFFFF"), 0xFFFFFFFFu);
    try {
        StrToInt("19200x");
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("'19200x' is not a valid integer value"));
    }
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("99999999999"), EConvertError);
    EXPECT_THROW(HexToInt("G1"), EConvertError);
}

TEST(Convert, ErrorMessageFullStopRule)
{
    EXPECT_EQ(FormatErrorMessage("Error opening serial port"), "Error opening serial port.");
    EXPECT_EQ(FormatErrorMessage("File handle is not a comm handle "), "File handle is not a comm handle ");
    EXPECT_EQ(FormatErrorMessage("Exit!"), "Exit!");
    EXPECT_EQ(FormatErrorMessage("'x' is not a valid integer value"), "'x' is not a valid integer value.");
}
