#include "Clocks.h"
#include "DisplayTestSupport.h"
#include "FakeHost.h"
#include "PackTable.h"

#include <QLocale>
#include <cstring>
#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

static auto* const qtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

namespace {

// A full information block (76 bytes).
struct InfoBlock {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(76, 0);

    InfoBlock()
    {
        put(0, {0x12, 0xAB, 0x00, 0xFF});        // customer code
        put(4, {0x00, 0x03, 0x0D, 0x40});        // 200000 mAh
        text(8, "BC-0001");                       // barcode
        put(20, {'M', 'F', 'R', 0xE9});           // Latin-1 manufacturer
        text(28, "  AB C");                       // serial number
        put(48, {5, 30, 14, 2, 17, 6, 24, 8});    // clock
        put(58, {0x01, 0x07});                    // protocol type
        put(60, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00, 0x11, 0x22, 0x33});
        put(72, {0x00, 0x03, 0x02, 0x58});        // sleep 3 x 600
    }
    void put(size_t at, std::initializer_list<uint8_t> values) { std::copy(values.begin(), values.end(), bytes.begin() + at); }
    void text(size_t at, const char* s) { std::memcpy(bytes.data() + at, s, std::strlen(s)); }
    std::vector<uint8_t> first(size_t n) const { return {bytes.begin(), bytes.begin() + n}; }
};

class Info : public ::testing::Test {
protected:
    void SetUp() override { ResetPackTable(); }
    void TearDown() override { ResetPackTable(); }
    QString text(const char* name) const { return app.host.text(QString::fromLatin1(name)); }
    void decode(const std::vector<uint8_t>& data)
    {
        PutResponse(data);
        DecodeDeviceInfo();
    }
    TestApp app;
    InfoBlock block;
};

QString Weekday(int y, int m, int d)
{
    return QLocale::system().dayName(QDate(y, m, d).dayOfWeek(), QLocale::ShortFormat);
}

} // namespace

TEST_F(Info, fullBlockFillsEveryBox)
{
    decode(block.bytes);
    EXPECT_EQ(text("Customer_code_edit"), QStringLiteral("12AB00FF"));
    EXPECT_EQ(text("edt4"), QStringLiteral("200000"));
    EXPECT_EQ(text("edt1"), QStringLiteral("BC-0001"));
    EXPECT_EQ(text("edt2"), QString::fromUtf8("MFR\u00E9"));
    EXPECT_EQ(text("edt_pack_id"), QStringLiteral("AB C"));
    EXPECT_EQ(text("lbl_rtc"), QStringLiteral("RTC Time: 2024-06-17 14:30:05 ") + Weekday(2024, 6, 17) + QStringLiteral(" 8"));
    EXPECT_EQ(DeviceClock, (std::array<uint8_t, 8>{5, 30, 14, 2, 17, 6, 24, 8}));
    EXPECT_EQ(ProtocolType, 7);
    EXPECT_EQ(text("edt_uid"), QStringLiteral("0123456789ABCDEF00112233"));
    EXPECT_EQ(text("lbl_uid_crc"), QStringLiteral("09BE"));
    EXPECT_EQ(text("lbl_sleep_time"), QStringLiteral("Sleep Time: 3 X 600 S"));
    EXPECT_FALSE(app.host.enabled.contains(QStringLiteral("btn_uid_save")));

    UidWorkbookOpen = 1;
    decode(block.bytes);
    EXPECT_TRUE(app.host.enabled.value(QStringLiteral("btn_uid_save"), false));
}

TEST_F(Info, textBoxesStopAtZeroAndSerialDropsOnlyLeadingSpaces)
{
    block.put(8, {'A', 'B', 0, 'C', 'D', 0, 0, 0, 0, 0, 0, 0});
    block.put(28, {' ', ' ', ' ', 'X', ' ', ' ', 'Y', ' '});
    decode(block.bytes);
    EXPECT_EQ(text("edt1"), QStringLiteral("AB"));
    EXPECT_EQ(text("edt_pack_id"), QStringLiteral("X  Y "));

    block.put(28, {0, 'Z'});
    decode(block.bytes);
    EXPECT_EQ(text("edt_pack_id"), QString());

    block.put(28, {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '});
    std::fill(block.bytes.begin() + 36, block.bytes.begin() + 48, ' ');
    decode(block.bytes);
    EXPECT_EQ(text("edt_pack_id"), QString());
}

TEST_F(Info, shortBlockFillsOnlyWholeFieldsButAlwaysTheCustomerCode)
{
    app.host.texts["edt_pack_id"] = QStringLiteral("old sn");
    app.host.texts["lbl_rtc"] = QStringLiteral("old rtc");
    app.host.texts["lbl_sleep_time"] = QStringLiteral("old sleep");
    decode(block.first(47)); // serial number one byte short
    EXPECT_EQ(text("edt2"), QString::fromUtf8("MFR\u00E9"));
    EXPECT_EQ(text("edt_pack_id"), QStringLiteral("old sn"));
    EXPECT_EQ(text("lbl_rtc"), QStringLiteral("old rtc"));
    EXPECT_EQ(DeviceClock, (std::array<uint8_t, 8>{}));

    decode(block.first(74)); // sleep base missing
    EXPECT_EQ(text("edt_pack_id"), QStringLiteral("AB C"));
    EXPECT_EQ(text("lbl_sleep_time"), QStringLiteral("old sleep"));
    EXPECT_EQ(text("lbl_uid_crc"), QStringLiteral("09BE"));

    // The customer code shows only the bytes the response carried, never
    // what an earlier frame left behind them; the rest stays.
    app.host.texts["edt4"] = QStringLiteral("keep");
    const std::pair<size_t, const char*> carried[] = {{2, "12AB"}, {0, ""}};
    for (const auto& [bytes, shown] : carried) {
        PutResponse(block.first(bytes));
        std::fill_n(MY_COM.RxBuf.begin() + 3 + bytes + 2, 4, uint8_t{0xEE}); // stale bytes after the CRC
        DecodeDeviceInfo();
        EXPECT_EQ(text("Customer_code_edit"), QString::fromLatin1(shown)) << bytes;
    }
    EXPECT_EQ(text("edt4"), QStringLiteral("keep"));
}

TEST_F(Info, clockBytesThatAreNoDateKeepTheLabelAndTheRestIsStillRead)
{
    const std::array<std::array<uint8_t, 8>, 6> notDates = {{
        {5, 30, 14, 2, 0, 6, 24, 8},  // day 0
        {5, 30, 14, 2, 17, 0, 24, 8}, // month 0
        {5, 60, 14, 2, 17, 6, 24, 8}, // minute 60
        {5, 30, 14, 2, 31, 2, 24, 8}, // 31 February
        {5, 30, 25, 2, 17, 6, 24, 8}, // hour 25
        {60, 30, 14, 2, 17, 13, 24, 8}, // month 13
    }};
    for (const auto& clock : notDates) {
        app.host.texts["lbl_rtc"] = QStringLiteral("RTC Time: before");
        app.host.texts.remove(QStringLiteral("lbl_sleep_time"));
        std::copy(clock.begin(), clock.end(), block.bytes.begin() + 48);
        ReadBlock = 8;
        PutResponse(block.bytes);
        DecodeTelemetry();
        EXPECT_EQ(text("lbl_rtc"), QStringLiteral("RTC Time: before")) << int(clock[4]) << "/" << int(clock[5]);
        EXPECT_EQ(DeviceClock, clock);
        EXPECT_EQ(text("lbl_sleep_time"), QStringLiteral("Sleep Time: 3 X 600 S"));
        EXPECT_EQ(ReadBlock, 0);
    }
}

TEST_F(Info, clockShowsLeapDayAndSignedZone)
{
    block.put(48, {59, 59, 23, 4, 29, 2, 28, 0xF8});
    decode(block.bytes);
    EXPECT_EQ(text("lbl_rtc"), QStringLiteral("RTC Time: 2028-02-29 23:59:59 ") + Weekday(2028, 2, 29) + QStringLiteral(" -8"));

    block.put(48, {0, 0, 0, 0, 1, 1, 255, 0x80});
    decode(block.bytes);
    EXPECT_EQ(text("lbl_rtc"), QStringLiteral("RTC Time: 2255-01-01 00:00:00 ") + Weekday(2255, 1, 1) + QStringLiteral(" -128"));
}

TEST(Clocks, zoneHoursTruncateTowardZero)
{
    EXPECT_EQ(ZoneHours(8 * 3600), 8);
    EXPECT_EQ(ZoneHours(-(3 * 3600 + 1800)), -3);
    EXPECT_EQ(ZoneHours(5 * 3600 + 45 * 60), 5);
    EXPECT_EQ(ZoneHours(-1800), 0);
    EXPECT_EQ(ZoneHours(0), 0);
}

TEST(Clocks, labelTextsUseFixedDigitsAndTheLocaleWeekday)
{
    const QDateTime when(QDate(2024, 6, 17), QTime(9, 5, 3));
    EXPECT_EQ(SystemTimeText(when, -(3 * 3600 + 1800)),
              QStringLiteral("System Time: 2024-06-17 09:05:03 ") + Weekday(2024, 6, 17) + QStringLiteral(" -3"));
    EXPECT_EQ(StatusBarClockText(QTime(9, 5, 3)), QStringLiteral("System Time: 09:05:03"));

    test::TestApp app;
    tmr3Timer();
    EXPECT_TRUE(app.host.panels.value(3).startsWith(QStringLiteral("System Time: ")));
    EXPECT_EQ(app.host.panels.value(3).size(), 21);
}

TEST(Clocks, unixSecondsAndDateTimeValuesRoundTrip)
{
    EXPECT_DOUBLE_EQ(UnixDateToDateTime(0), 25569.0);
    EXPECT_DOUBLE_EQ(UnixDateToDateTime(86400 / 2), 25569.5);
    for (int64_t s : {int64_t{0}, int64_t{1718634605}, int64_t{-86399}, int64_t{9000000000}})
        EXPECT_EQ(DateTimeToUnixDate(UnixDateToDateTime(s)), s);
}
