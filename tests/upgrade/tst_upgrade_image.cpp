// The naming rule, the conversion of image lines into records, the line
// reader and the check of a whole image.
#include "Image.h"
#include "ImageCheck.h"
#include "Errors.h"
#include "UpgradeTestSupport.h"

#include <gtest/gtest.h>

using namespace bms;
using bms::test::ImageFiles;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(NamingRule, versionAndTypeStandBeforeTheExtension)
{
    const FirmwareName name = NamingRule(QStringLiteral("/home/op/fw/pack_01020304ABCD.hex"));
    EXPECT_EQ(name.version, QStringLiteral("01020304"));
    EXPECT_EQ(name.type, QStringLiteral("ABCD"));
}

TEST(NamingRule, shortNamesClampTheStartAndStopAtTheEnd)
{
    // 12 characters: the version is the first 8, the type characters 5..8.
    FirmwareName name = NamingRule(QStringLiteral("ABCDEFGH.hex"));
    EXPECT_EQ(name.version, QStringLiteral("ABCDEFGH"));
    EXPECT_EQ(name.type, QStringLiteral("EFGH"));
    // 6 characters: both copies start at the first character and stop at the end.
    name = NamingRule(QStringLiteral("AB.hex"));
    EXPECT_EQ(name.version, QStringLiteral("AB.hex"));
    EXPECT_EQ(name.type, QStringLiteral("AB.h"));
    name = NamingRule(QString());
    EXPECT_TRUE(name.version.isEmpty());
    EXPECT_TRUE(name.type.isEmpty());
}

TEST(LineToRecord, intelHexDataAndEndRecordsConvertToTheirBytes)
{
    EXPECT_EQ(LineToRecord(":0400000001020304F2"), Bytes({0x3A, 0x04, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF2}));
    EXPECT_EQ(LineToRecord(":00000001FF"), Bytes({0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF}));
}

TEST(LineToRecord, trailingCharactersAreIgnoredAndLowerCaseIsAccepted)
{
    EXPECT_EQ(LineToRecord(":00000001ffXYZ 12"), Bytes({0x3A, 0x00, 0x00, 0x00, 0x01, 0xFF}));
    EXPECT_EQ(LineToRecord(":02abcd00e0f1a5;"), Bytes({0x3A, 0x02, 0xAB, 0xCD, 0x00, 0xE0, 0xF1, 0xA5}));
    // Nothing is validated: another lead character and a wrong checksum pass.
    EXPECT_EQ(LineToRecord("S0000000100"), Bytes({'S', 0x00, 0x00, 0x00, 0x01, 0x00}));
}

TEST(LineToRecord, badPairsAndShortLinesRaiseTheConversionError)
{
    EXPECT_THROW(LineToRecord(""), EConvertError);
    EXPECT_THROW(LineToRecord(":0"), EConvertError);
    EXPECT_THROW(LineToRecord(":G0000001FF"), EConvertError);
    EXPECT_THROW(LineToRecord(":0000000 FF"), EConvertError);
    // L = 4 needs 19 characters; the last checksum digit is missing.
    EXPECT_THROW(LineToRecord(":0400000001020304F"), EConvertError);
    try {
        LineToRecord(":0400000001020Z04F2");
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("'0Z' at column 14"))) << e.message().toStdString();
    }
}

TEST(ImageReader, linesEndAtCrLfOrCrLfAndEndOfFileGivesEmptyLines)
{
    ImageFiles files;
    const QString path = files.write(QStringLiteral("a.hex"), ":A\r\n:B\n:C\r:D");
    ImageReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(reader.nextLine(), QByteArray(":A"));
    EXPECT_EQ(reader.nextLine(), QByteArray(":B"));
    EXPECT_EQ(reader.nextLine(), QByteArray(":C"));
    EXPECT_EQ(reader.nextLine(), QByteArray(":D"));
    EXPECT_EQ(reader.lineNumber(), 4);
    EXPECT_EQ(reader.nextLine(), QByteArray());
    EXPECT_EQ(reader.nextLine(), QByteArray());
}

TEST(ImageReader, overlongLineKeepsItsRecordAndTheNextLineStaysIntact)
{
    ImageFiles files;
    const QString path = files.write(QStringLiteral("long.hex"), ":00000001FF" + QByteArray(100000, 'x') + "\n:00000001FE\n");
    ImageReader reader;
    ASSERT_TRUE(reader.open(path));
    const QByteArray first = reader.nextLine();
    EXPECT_EQ(first.size(), ImageReader::kMaxLineKept);
    EXPECT_EQ(LineToRecord(first), LineToRecord(":00000001FF"));
    EXPECT_EQ(reader.nextLine(), QByteArray(":00000001FE"));
}

TEST(ImageFile, openingAMissingFileRaisesTheInputOutputErrorAndLeavesTheFlagClear)
{
    ImageFiles files;
    DlgFileName = files.path(QStringLiteral("missing.hex"));
    ImageOpen = 0;
    EXPECT_THROW(OpenImage(), EInOutError);
    EXPECT_EQ(ImageOpen, 0);
    EXPECT_THROW(NextImageLine(), EInOutError);
    DlgFileName.clear();
}

TEST(ImageFile, reopeningStartsAgainFromTheFirstLine)
{
    ImageFiles files;
    DlgFileName = files.write(QStringLiteral("b.hex"), ":00000001FF\n:00000001FE\n");
    OpenImage();
    EXPECT_EQ(ImageOpen, 1);
    EXPECT_EQ(NextImageLine(), QByteArray(":00000001FF"));
    OpenImage();
    EXPECT_EQ(NextImageLine(), QByteArray(":00000001FF"));
    CloseImage();
    EXPECT_EQ(ImageOpen, 0);
    DlgFileName.clear();
}

class ImageCheckTest : public ::testing::Test {
protected:
    ImageCheckResult check(const QByteArray& content, bool dev)
    {
        return CheckImage(files.write(QStringLiteral("img.hex"), content), dev);
    }
    ImageFiles files;
};

TEST_F(ImageCheckTest, goodImageCountsItsRecordsForBothTargets)
{
    const QByteArray image = ":020000040800F2\r\n:0400000001020304F2\r\n:00000001FF\r\n";
    EXPECT_EQ(check(image, false).records, 3);
    EXPECT_TRUE(check(image, false).ok());
    EXPECT_EQ(check(image, true).records, 3);
    // Empty lines after the last record do no harm to the main board.
    EXPECT_TRUE(check(image + "\r\n\r\n", false).ok());
}

TEST_F(ImageCheckTest, badLineIsRefusedWithItsLineNumber)
{
    const ImageCheckResult result = check(":0400000001020304F2\n:04000000010G0304F2\n:00000001FF\n", false);
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.problem.contains(QStringLiteral("line 2"))) << result.problem.toStdString();
    EXPECT_TRUE(result.problem.contains(QStringLiteral("'0G'"))) << result.problem.toStdString();
}

TEST_F(ImageCheckTest, bytesOfABinaryFileAreShownEscapedInTheRefusal)
{
    // Bytes at the length pair -> as the message shows them.
    const std::pair<QByteArray, const char*> cases[] = {
        {QByteArray(":\t1rest"), "'\\x091' at column 2"},
        {QByteArray(":\x00\x89rest", 7), "'\\x00\\x89' at column 2"},
        {QByteArray(":\\Zrest"), "'\\x5CZ' at column 2"},
    };
    for (const auto& [content, shown] : cases) {
        const ImageCheckResult result = check(content + "\n", false);
        EXPECT_TRUE(result.problem.contains(QLatin1String(shown))) << result.problem.toStdString();
    }
}

TEST_F(ImageCheckTest, recordSizeLimitsDependOnTheTarget)
{
    auto line = [](int length) {
        return ":" + QByteArray::number(length, 16).rightJustified(2, '0') + "000000" + QByteArray(2 * length, 'A') + "00\n";
    };
    EXPECT_TRUE(check(line(236), true).ok());
    const ImageCheckResult dev = check(line(237), true);
    EXPECT_FALSE(dev.ok());
    EXPECT_TRUE(dev.problem.contains(QStringLiteral("line 1"))) << dev.problem.toStdString();
    EXPECT_TRUE(check(line(249), false).ok());
    EXPECT_FALSE(check(line(250), false).ok());
}

TEST_F(ImageCheckTest, emptyLineBeforeTheEndIsRefusedOnlyForTheMainBoard)
{
    const QByteArray image = ":0400000001020304F2\n\n:00000001FF\n";
    const ImageCheckResult main = check(image, false);
    EXPECT_FALSE(main.ok());
    EXPECT_TRUE(main.problem.contains(QStringLiteral("line 2"))) << main.problem.toStdString();
    // The dev-firmware transfer ends at the empty line: one record.
    const ImageCheckResult dev = check(image, true);
    EXPECT_TRUE(dev.ok());
    EXPECT_EQ(dev.records, 1);
}

TEST_F(ImageCheckTest, emptyOrMissingImagesAreRefused)
{
    EXPECT_FALSE(check("", false).ok());
    EXPECT_FALSE(check("\n:00000001FF\n", true).ok());
    EXPECT_FALSE(CheckImage(files.path(QStringLiteral("none.hex")), false).ok());
    EXPECT_FALSE(CheckImage(QString(), true).ok());
}

} // namespace
