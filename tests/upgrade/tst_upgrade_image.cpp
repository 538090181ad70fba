// The naming rule, the conversion of image lines into records, the line
// reader and the check of a whole image.
#include "Image.h"
#include "ImageCheck.h"
#include "Errors.h"
#include "UpgradeTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace bms;
using bms::test::HexRecord;
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
    EXPECT_EQ(reader.bytes(), QByteArray(":A\r\n:B\n:C\r:D"));
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

TEST(ImageFile, readingWithoutAnOpenImageRaisesTheInputOutputErrorAndAMissingFileDoesNotOpen)
{
    ImageFiles files;
    ImageReader reader;
    EXPECT_FALSE(reader.open(files.path(QStringLiteral("missing.hex"))));
    EXPECT_FALSE(reader.errorString().isEmpty());
    CloseImage();
    EXPECT_EQ(ImageOpen, 0);
    EXPECT_THROW(NextImageLine(), EInOutError);
}

TEST(ImageFile, reopeningStartsAgainFromTheFirstLine)
{
    ImageFiles files;
    const QByteArray image = ":00000001FF\n:00000001FE\n";
    OpenImage(image);
    EXPECT_EQ(ImageOpen, 1);
    EXPECT_EQ(NextImageLine(), QByteArray(":00000001FF"));
    OpenImage(image);
    EXPECT_EQ(NextImageLine(), QByteArray(":00000001FF"));
    CloseImage();
    EXPECT_EQ(ImageOpen, 0);
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
        {QByteArray(":\t1rest"), "column 2: '\\x091' is not"},
        {QByteArray(":\x00\x89rest", 7), "column 2: '\\x00\\x89' is not"},
        {QByteArray(":\\Zrest"), "column 2: '\\x5CZ' is not"},
        {QByteArray("\xEF\xBB:00000001FF"), "column 1: a record starts with ':', not '\\xEF'"},
        {QByteArray("\xEF\xBB\xBF:00000001FF"), "column 1: the file starts with a UTF-8 byte order mark"},
    };
    for (const auto& [content, shown] : cases) {
        const ImageCheckResult result = check(content + "\n", false);
        EXPECT_TRUE(result.problem.contains(QLatin1String(shown))) << result.problem.toStdString();
    }
}

TEST_F(ImageCheckTest, recordSizeLimitsDependOnTheTarget)
{
    auto image = [](int length) { return HexRecord(0, 0, QByteArray(length, '\xAA')) + "\n:00000001FF\n"; };
    EXPECT_TRUE(check(image(236), true).ok()) << check(image(236), true).problem.toStdString();
    const ImageCheckResult dev = check(image(237), true);
    EXPECT_FALSE(dev.ok());
    EXPECT_EQ(dev.line, 1);
    EXPECT_EQ(dev.column, 2);
    EXPECT_TRUE(check(image(249), false).ok());
    EXPECT_FALSE(check(image(250), false).ok());
}

// Every record is judged by the Intel-HEX definition before anything is
// sent: each fault below reached the boot loader and erased the board.
TEST_F(ImageCheckTest, faultsAgainstTheIntelHexDefinitionAreRefusedAtTheirLineAndColumn)
{
    // The example of the definition: four data records and the end record.
    const QByteArray l1 = ":10010000214601360121470136007EFE09D2190140";
    const QByteArray l2 = ":100110002146017E17C20001FF5F16002148011928";
    const QByteArray l3 = ":10012000194E79234623965778239EDA3F01B2CAA7";
    const QByteArray l4 = ":100130003F0156702B5E712B722B732146013421C7";
    const QByteArray eof = ":00000001FF";
    const auto lines = [](std::initializer_list<QByteArray> list) {
        QByteArray text;
        for (const QByteArray& line : list)
            text += line + "\r\n";
        return text;
    };
    struct Case {
        const char* name;
        QByteArray image;
        int line, column; // 0, 0: accepted
    };
    const Case cases[] = {
        {"the definition's example", lines({l1, l2, l3, l4, eof}), 0, 0},
        {"every record type, lower case, blanks after a record, empty lines at the end",
         lines({":020000021000EC", ":0400000300003800C1", ":020000040800F2", ":0400000508000000EF", l1.toLower() + " \t",
                eof}) + "\r\n\n",
         0, 0},
        {"a segment's last byte written", lines({":02FFFE00AABB9C", eof}), 0, 0},
        {"wrong checksum", lines({l1, l2.left(42) + "9", eof}), 2, 42},
        {"record not starting with ':'", lines({l1, " " + l2, eof}), 2, 1},
        {"S-record line", lines({"S00F000068656C6C6F202020202000003C", l1, eof}), 1, 1},
        {"not hexadecimal", lines({l1, l2.left(19) + "G" + l2.mid(20), eof}), 2, 20},
        {"line shorter than its length", lines({l1, l2.left(30), eof}), 2, 31},
        {"characters after the checksum", lines({l1 + ":00000001FF", eof}), 1, 44},
        {"record type 06", lines({l1, ":00000006FA", eof}), 2, 8},
        {"end record with a data byte", lines({l1, ":0100000100FE"}), 2, 2},
        {"address record of one byte", lines({":0100000408F3", l1, eof}), 1, 2},
        {"no end-of-file record", lines({l1, l2}), 3, 0},
        {"records after the end-of-file record", lines({l1, eof, l2}), 3, 1},
        {"empty line before the end", lines({l1, "", l2, eof}), 2, 0},
        {"end-of-file record alone", lines({eof}), 1, 0},
        {"data running past its 64 KiB segment", lines({":02FFFF00AABB9B", eof}), 1, 4},
        {"the same bytes written twice", lines({l1, l2, l1, eof}), 3, 4},
        {"the same bytes again behind an extended address", lines({":020000040800F2", l1, ":020000040800F2", l1, eof}), 4, 4},
    };
    for (const Case& c : cases) {
        for (bool dev : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (dev ? " (dev firmware)" : " (main board)"));
            const ImageCheckResult r = check(c.image, dev);
            EXPECT_EQ(r.ok(), c.line == 0) << r.problem.toStdString();
            EXPECT_EQ(r.line, c.line) << r.problem.toStdString();
            EXPECT_EQ(r.column, c.column) << r.problem.toStdString();
            if (c.line > 0) {
                EXPECT_TRUE(r.problem.contains(QStringLiteral("line %1").arg(c.line))) << r.problem.toStdString();
                EXPECT_TRUE(r.problem.endsWith(QStringLiteral("Nothing was sent to the device."))) << r.problem.toStdString();
            } else {
                EXPECT_EQ(r.records, c.image.count(':'));
            }
        }
    }
}

TEST_F(ImageCheckTest, namedPipesFoldersAndDevicesAreRefusedWithoutWaiting)
{
    const QString fifo = files.path(QStringLiteral("pipe.hex"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const std::pair<QString, const char*> cases[] = {
        {fifo, "named pipe"},
        {files.path(QString()), "folder"},
        {QStringLiteral("/dev/null"), "device"},
    };
    for (const auto& [path, kind] : cases) {
        const ImageCheckResult r = CheckImage(path, false);
        EXPECT_TRUE(r.problem.contains(QLatin1String(kind))) << r.problem.toStdString();
        ImageReader reader;
        EXPECT_FALSE(reader.open(path));
    }
}

TEST_F(ImageCheckTest, emptyLineBeforeTheEndIsRefusedForBothTargets)
{
    // The dev-firmware transfer would end at the empty line, without the
    // end-of-file record; the main board would ask for a record the image
    // does not give.
    const QByteArray image = ":0400000001020304F2\n\n:00000001FF\n";
    for (bool dev : {false, true}) {
        const ImageCheckResult result = check(image, dev);
        EXPECT_FALSE(result.ok());
        EXPECT_TRUE(result.problem.contains(QStringLiteral("line 2"))) << result.problem.toStdString();
    }
}

TEST_F(ImageCheckTest, emptyOrMissingImagesAreRefused)
{
    EXPECT_FALSE(check("", false).ok());
    EXPECT_FALSE(check("\n:00000001FF\n", true).ok());
    EXPECT_FALSE(CheckImage(files.path(QStringLiteral("none.hex")), false).ok());
    EXPECT_FALSE(CheckImage(QString(), true).ok());
}

} // namespace
