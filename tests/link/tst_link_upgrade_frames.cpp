// Requests of the upgrade run (commands 48, 55, 58, the upgrade packet) and
// the clock-setting request.
#include "LinkTestSupport.h"

#include "Errors.h"
#include "RequestBuilder.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

using namespace bms;
using namespace bms::test;

namespace {

class UpgradeFrameTest : public LinkTest {
protected:
    void SetBox(const char* name, const QString& value) { app.host.texts[QString::fromLatin1(name)] = value; }
    const Bytes& Sent() const { return app.link.frames.back(); }
};

TEST_F(UpgradeFrameTest, enterBootSendsThreeFramesWithPausesAndArmsOnceAtTheEnd)
{
    std::vector<bool> armedAtSend;
    app.link.onSend = [this, &armedAtSend](const Bytes&) { armedAtSend.push_back(app.tmr2.enabled()); };
    BuildRequest(cmd_enter_boot);
    ASSERT_EQ(app.link.frames.size(), 3u);
    EXPECT_EQ(BytesToHex(app.link.frames[0]), "06109D000001020030CCBD");
    EXPECT_EQ(BytesToHex(app.link.frames[1]), "3A00000030D0");
    EXPECT_EQ(BytesToHex(app.link.frames[2]), "06300204");
    EXPECT_EQ(app.pauses, (std::vector<int>{300, 50}));
    EXPECT_EQ(armedAtSend, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(app.tmr2.enabled());
    EXPECT_EQ(app.tmr2.interval(), 500);
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(UpgradeFrameTest, firmwareInfoForTheMainBoardIsTheEraseBootCommand)
{
    DevFirmwareMode = 0;
    BuildRequest(cmd_write_fw_info);
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(BytesToHex(Sent()), "3A00000037C9");
    EXPECT_FALSE(app.tmr2.enabled());
}

TEST_F(UpgradeFrameTest, firmwareInfoForTheDeviceIsAThirtyFourBytePacket)
{
    DevFirmwareMode = 1;
    SetBox("edt_firmware_version", QStringLiteral("01020304"));
    SetBox("edt_firmware_model", QStringLiteral("A5B6"));
    SetBox("edt_firmware_packpag", QStringLiteral("3"));
    BuildRequest(cmd_write_fw_info);
    ASSERT_EQ(app.link.frames.size(), 1u);
    Bytes expected{0x06, 0x10, 0x9E, 0x00, 0x00, 0x11, 0x22, 0x01, 0x02, 0x03, 0x04, 0xA5, 0xB6,
                   0x00, 0x00, 0x00, 0x26, 0x00, 0x00, 0x00, 0x00};
    expected.insert(expected.end(), 16, 0xFF);
    expected.insert(expected.end(), {0x00, 0x01, 0x00, 0x02});
    EXPECT_EQ(BytesToHex(Sent()), BytesToHex(WithCrc(expected)));
    EXPECT_EQ(Sent().size(), 43u);
    EXPECT_EQ(LastWriteReg, 0x9E00);
    EXPECT_EQ(LastWriteQty, 17);
    EXPECT_FALSE(app.tmr2.enabled());
    EXPECT_EQ(MY_COM.TxBuf, Sent());
}

TEST_F(UpgradeFrameTest, packageNumberAboveFiveFallsBackToPackageOneAlsoWhenItExceeds16Bits)
{
    DevFirmwareMode = 1;
    EraseDevPending = 1; // version and model are 0 and their boxes not read
    SetBox("edt_firmware_version", QStringLiteral("not hex"));
    const struct {
        const char* text;
        uint16_t index;
        bool refused;
    } rows[] = {{"0", 0xFFFF, false}, {"1", 0, false}, {"5", 4, false}, {"6", 0, true}, {"10005", 0, true}};
    for (const auto& row : rows) {
        app.host.messages.clear();
        SetBox("edt_firmware_packpag", QString::fromLatin1(row.text));
        BuildRequest(cmd_write_fw_info);
        const Bytes& p = Sent();
        ASSERT_EQ(p.size(), 43u);
        EXPECT_EQ(p[7] | p[8] | p[9] | p[10] | p[11] | p[12], 0) << row.text;
        EXPECT_EQ(ReadU16BE(p.data(), 39), row.index) << row.text;
        if (row.refused) {
            EXPECT_EQ(app.host.messages,
                      QStringList{QStringLiteral("You entered value exceeded, error, upgrade package 1 by default")});
            EXPECT_EQ(app.host.text(QStringLiteral("edt_firmware_packpag")), QStringLiteral("1"));
        } else {
            EXPECT_TRUE(app.host.messages.isEmpty()) << row.text;
        }
    }
    SetBox("edt_firmware_packpag", QStringLiteral("G"));
    app.link.frames.clear();
    EXPECT_THROW(BuildRequest(cmd_write_fw_info), EConvertError);
    EXPECT_TRUE(app.link.frames.empty());
}

TEST_F(UpgradeFrameTest, firmwareSizeCarriesTheRecordCountOnlyForTheDevice)
{
    RecordIndex = 0x01020304;
    DevFirmwareMode = 0;
    BuildRequest(cmd_write_fw_size);
    EXPECT_TRUE(app.link.frames.empty());
    DevFirmwareMode = 1;
    BuildRequest(cmd_write_fw_size);
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(BytesToHex(Sent()), BytesToHex(WithCrc({0x06, 0x10, 0x9E, 0x05, 0x00, 0x02, 0x04, 0x01, 0x02, 0x03, 0x04})));
    EXPECT_EQ(LastWriteReg, 0x9E05);
    EXPECT_EQ(LastWriteQty, 2);
    EXPECT_FALSE(app.tmr2.enabled());
}

TEST_F(UpgradeFrameTest, upgradePacketRoundsTheCountDownAndRefusesOversizedPayloads)
{
    Bytes payload(247);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i);
    SendUpgradePacket(0x9F00, payload.data(), 15);
    Bytes expected{0x06, 0x10, 0x9F, 0x00, 0x00, 0x07, 0x0F};
    expected.insert(expected.end(), payload.begin(), payload.begin() + 15);
    EXPECT_EQ(BytesToHex(Sent()), BytesToHex(WithCrc(expected)));
    EXPECT_EQ(LastWriteQty, 7);

    SendUpgradePacket(0x9F00, payload.data(), 246);
    EXPECT_EQ(Sent().size(), 255u);
    EXPECT_TRUE(CrcMatches(Sent().data(), 255));
    EXPECT_EQ(Sent()[6], 246);

    app.link.frames.clear();
    LastWriteReg = 0;
    LastWriteQty = 0;
    EXPECT_THROW(SendUpgradePacket(0x9F00, payload.data(), 247), Error);
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_EQ(LastWriteReg, 0);
    EXPECT_EQ(LastWriteQty, 0);

    // A payload taken from the transmit buffer itself survives its resizing.
    SendUpgradePacket(0x9F00, payload.data(), 4);
    const Bytes before = MY_COM.TxBuf;
    SendUpgradePacket(0x9F01, MY_COM.TxBuf.data(), 8);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 8, Sent().begin() + 7));
}

TEST_F(UpgradeFrameTest, rtcFieldsRoundToTheSecondAndTruncateTheZone)
{
    // Monday 4 March 2024, 23:59:59.600 rounds up into Tuesday.
    const QDateTime late(QDate(2024, 3, 4), QTime(23, 59, 59, 600), QTimeZone(-5 * 3600));
    auto f = RtcFields(late, -5 * 3600);
    EXPECT_EQ(f, (std::array<uint8_t, 8>{0, 0, 0, 2, 5, 3, 24, 0xFB}));

    const QDateTime monday(QDate(2024, 3, 4), QTime(13, 45, 29, 499), QTimeZone(19800));
    f = RtcFields(monday, 19800);
    EXPECT_EQ(f, (std::array<uint8_t, 8>{29, 45, 13, 1, 4, 3, 24, 5}));
    // The weekday of the date, Sunday 0 .. Saturday 6, in every language of
    // the computer.
    for (const QLocale& locale : {QLocale(QLocale::Chinese, QLocale::China), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        for (int day = 0; day < 7; ++day)
            EXPECT_EQ(RtcFields(monday.addDays(day), 8 * 3600)[3], (day + 1) % 7) << locale.name().toStdString();
    }
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(RtcFields(monday, -12600)[7], 0xFD); // UTC-3:30 gives -3
    EXPECT_EQ(RtcFields(monday, 8 * 3600)[7], 8);
}

TEST_F(UpgradeFrameTest, rtcRequestWritesEightClockBytesFromNow)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDateTime before = QDateTime::currentDateTime();
    BuildRequest(cmd_set_rtc);
    QLocale::setDefault(QLocale::c());
    ASSERT_EQ(app.link.frames.size(), 1u);
    const Bytes& f = Sent();
    ASSERT_EQ(f.size(), 17u);
    EXPECT_EQ(BytesToHex(Bytes(f.begin(), f.begin() + 7)), "06109D19000408");
    EXPECT_TRUE(CrcMatches(f.data(), 17));
    EXPECT_EQ(f[13], before.date().year() % 100);
    EXPECT_LE(f[9], 23);
    // The real weekday under an English locale (midnight may pass meanwhile).
    const int weekdayBefore = before.date().dayOfWeek() % 7;
    const int weekdayAfter = QDateTime::currentDateTime().addSecs(1).date().dayOfWeek() % 7;
    EXPECT_TRUE(f[10] == weekdayBefore || f[10] == weekdayAfter) << int(f[10]);
    EXPECT_EQ(LastWriteReg, 0x9D19);
    EXPECT_EQ(LastWriteQty, 4);
    EXPECT_TRUE(app.tmr2.enabled());
}

} // namespace
