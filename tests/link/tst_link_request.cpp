// Golden frames and input checks of the request builder.
#include "LinkTestSupport.h"

#include "Convert.h"
#include "Errors.h"
#include "PackTable.h"
#include "RequestBuilder.h"

using namespace bms;
using namespace bms::test;

namespace {

class RequestTest : public LinkTest {
protected:
    RequestTest() { ResetPackTable(); }
    ~RequestTest() override { ResetPackTable(); }

    void SetBox(const char* name, const QString& value) { app.host.texts[QString::fromLatin1(name)] = value; }
    const Bytes& Sent() const { return app.link.frames.back(); }
    bool TimeoutArmed() const { return app.tmr2.enabled() && app.tmr2.interval() == 500; }
    // Builds the command and expects exactly one frame equal to `expected`
    // with the reply time-out armed.
    void ExpectSends(uint8_t command, const Bytes& expected)
    {
        app.link.frames.clear();
        app.tmr2.setEnabled(false);
        BuildRequest(command);
        ASSERT_EQ(app.link.frames.size(), 1u) << int(command);
        EXPECT_EQ(BytesToHex(Sent()), BytesToHex(expected)) << int(command);
        EXPECT_TRUE(TimeoutArmed()) << int(command);
    }
    // Builds the command and expects the message, nothing sent, tmr2 as it was.
    void ExpectRefused(uint8_t command, const QString& message)
    {
        app.link.frames.clear();
        app.host.messages.clear();
        app.tmr2.setEnabled(false);
        app.tmr2.setInterval(1234);
        BuildRequest(command);
        EXPECT_TRUE(app.link.frames.empty()) << int(command);
        EXPECT_EQ(app.host.messages, QStringList{message}) << int(command);
        EXPECT_FALSE(app.tmr2.enabled());
        EXPECT_EQ(app.tmr2.interval(), 1234);
    }
};

TEST_F(RequestTest, readBlockZeroAtAddressSixIsTheKnownFrame)
{
    ReadBlock = 0;
    ExpectSends(cmd_read_block, {0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E, 0x51, 0xB7});
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(RequestTest, readBlocksTakeCountsOfBlocksFourToSixFromThePackTable)
{
    PackTable[0].temp_a_count = 3;
    PackTable[0].temp_b_count = 2;
    PackTable[0].cell_count = 16;
    const struct {
        int block;
        uint16_t reg, qty;
    } rows[] = {{1, 0x0080, 4}, {2, 0x0100, 4}, {3, 0x0200, 6}, {4, 0x0400, 3},
                {5, 0x0480, 2}, {6, 0x0500, 16}, {7, 0x2000, 40}};
    for (const auto& row : rows) {
        ReadBlock = row.block;
        ExpectSends(cmd_read_block, WithCrc({0x06, 0x04, uint8_t(row.reg >> 8), uint8_t(row.reg), 0x00, uint8_t(row.qty)}));
    }
    ReadBlock = 8;
    app.link.frames.clear();
    BuildRequest(cmd_read_block);
    EXPECT_TRUE(app.link.frames.empty());
}

TEST_F(RequestTest, everyCallResetsReceptionAndUnknownNumbersSendNothing)
{
    app.tmr2.setInterval(500);
    app.tmr2.setEnabled(true);
    for (uint8_t command : {uint8_t{84}, uint8_t{0}, uint8_t{255}}) {
        MY_COM.RxState = 5;
        MY_COM.RxLen = 77;
        MY_COM.RxBuf.fill(0xAA);
        BuildRequest(command);
        EXPECT_EQ(MY_COM.RxState, 1);
        EXPECT_EQ(MY_COM.RxLen, 0);
        EXPECT_EQ(MY_COM.RxBuf[0], 0);
        EXPECT_EQ(MY_COM.RxBuf[100], 0);
        EXPECT_EQ(MY_COM.RxBuf[101], 0xAA);
    }
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_TRUE(app.tmr2.enabled());
    EXPECT_EQ(app.tmr2.interval(), 500);
    EXPECT_TRUE(app.host.messages.isEmpty());

    // Refused input resets reception too.
    MY_COM.RxState = 5;
    ExpectRefused(cmd_cal_voltage, QStringLiteral("Please enter voltage value!"));
    EXPECT_EQ(MY_COM.RxState, 1);
}

TEST_F(RequestTest, voltageCalibrationAcceptsOnlyStrictlyBetweenBounds)
{
    ExpectRefused(cmd_cal_voltage, QStringLiteral("Please enter voltage value!"));
    SetBox("edtv1", QStringLiteral("1000"));
    ExpectRefused(cmd_cal_voltage, QStringLiteral("Input voltage data error!"));
    SetBox("edtv1", QStringLiteral("5000"));
    ExpectRefused(cmd_cal_voltage, QStringLiteral("Input voltage data error!"));
    SetBox("edtv1", QStringLiteral("1001"));
    ExpectSends(cmd_cal_voltage, {0x06, 0x10, 0x05, 0x00, 0x00, 0x01, 0x02, 0x03, 0xE9, 0x14, 0x1E});
    EXPECT_EQ(LastWriteReg, 0x0500);
    EXPECT_EQ(LastWriteQty, 1);
    SetBox("edtv1", QStringLiteral("4999"));
    ExpectSends(cmd_cal_voltage, WithCrc({0x06, 0x10, 0x05, 0x00, 0x00, 0x01, 0x02, 0x13, 0x87}));
}

TEST_F(RequestTest, currentCalibrationSendsZeroWithoutReadingTheBoxWhenZeroing)
{
    ZeroCurrentCal = 1;
    ExpectSends(cmd_cal_current, {0x06, 0x10, 0x00, 0x15, 0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x28, 0xE8});
    EXPECT_EQ(LastWriteReg, 0x0015);
    EXPECT_EQ(LastWriteQty, 2);

    ZeroCurrentCal = 0;
    ExpectRefused(cmd_cal_current, QStringLiteral("Please enter the current value!"));
    SetBox("edtc", QStringLiteral("0"));
    ExpectRefused(cmd_cal_current, QStringLiteral("Input current data error!"));
    SetBox("edtc", QStringLiteral("500000"));
    ExpectRefused(cmd_cal_current, QStringLiteral("Input current data error!"));
    SetBox("edtc", QStringLiteral("499999"));
    ExpectSends(cmd_cal_current, WithCrc({0x06, 0x10, 0x00, 0x15, 0x00, 0x02, 0x04, 0x00, 0x07, 0xA1, 0x1F}));
}

TEST_F(RequestTest, barcodeNeedsTwelveDigitsSentAsAscii)
{
    SetBox("edt1", QStringLiteral("12345678901"));
    ExpectRefused(cmd_set_barcode, QStringLiteral("Please enter 12 bits 0~9 data!"));
    SetBox("edt1", QStringLiteral("1234567890123"));
    ExpectRefused(cmd_set_barcode, QStringLiteral("Please enter 12 bits 0~9 data!"));
    SetBox("edt1", QStringLiteral("700000000097"));
    ExpectSends(cmd_set_barcode, WithCrc({0x06, 0x10, 0x9D, 0x05, 0x00, 0x06, 0x0C, 0x37, 0x30, 0x30, 0x30, 0x30,
                                          0x30, 0x30, 0x30, 0x30, 0x30, 0x39, 0x37}));
    EXPECT_EQ(LastWriteReg, 0x9D05);
    EXPECT_EQ(LastWriteQty, 6);
}

TEST_F(RequestTest, conversionErrorsRaiseAndSendNothing)
{
    const struct {
        uint8_t command;
        const char* box;
        const char* text;
    } rows[] = {{cmd_set_barcode, "edt1", "12345678901a"}, {cmd_cal_voltage, "edtv1", "12a"},
                {cmd_set_edit3_word, "Edit3", ""},            {cmd_set_series_parallel, "cbb_pretype", "x"},
                {cmd_set_sleep_time, "edt_sleep_time_mul", "1.5"}};
    SetBox("edt_sleep_time_base", QStringLiteral("1"));
    for (const auto& row : rows) {
        SetBox(row.box, QString::fromLatin1(row.text));
        LastWriteReg = 0x1234;
        app.tmr2.setEnabled(false);
        EXPECT_THROW(BuildRequest(row.command), EConvertError) << int(row.command);
        EXPECT_TRUE(app.link.frames.empty());
        EXPECT_FALSE(app.tmr2.enabled());
        EXPECT_EQ(LastWriteReg, 0x1234);
    }
}

TEST_F(RequestTest, capacityAndIntervalUseThePacksOwnFunctions)
{
    ExpectRefused(cmd_set_rated_capacity, QStringLiteral("Please enter the capacity value!"));
    SetBox("edt4", QStringLiteral("1000"));
    ExpectRefused(cmd_set_rated_capacity, QStringLiteral("Input capacity data error!(input range: 1000~500000)"));
    SetBox("edt4", QStringLiteral("500000"));
    ExpectRefused(cmd_set_rated_capacity, QStringLiteral("Input capacity data error!(input range: 1000~500000)"));
    SetBox("edt4", QStringLiteral("100000"));
    ExpectSends(cmd_set_rated_capacity, WithCrc({0x06, 0x14, 0x00, 0x04, 0x00, 0x01, 0x86, 0xA0}));

    ExpectRefused(cmd_set_upload_interval, QStringLiteral("Please enter the interval time(unit: s)!"));
    for (const char* bad : {"4", "86401", "-5"}) {
        SetBox("edt_interval", QString::fromLatin1(bad));
        ExpectRefused(cmd_set_upload_interval, QStringLiteral("Input data error! (input range 5-86400s)"));
    }
    SetBox("edt_interval", QStringLiteral("5"));
    ExpectSends(cmd_set_upload_interval, WithCrc({0x06, 0x52, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05}));
    SetBox("edt_interval", QStringLiteral("86400"));
    ExpectSends(cmd_set_upload_interval, WithCrc({0x06, 0x52, 0x00, 0x04, 0x00, 0x01, 0x51, 0x80}));
    EXPECT_EQ(LastWriteReg, 0); // neither is recorded
}

TEST_F(RequestTest, remainCapacityAcceptsZeroToFiveHundredThousand)
{
    ExpectRefused(cmd_set_remain_capacity, QStringLiteral("Please enter the remain capacity value!"));
    for (const char* bad : {"500001", "-1"}) {
        SetBox("edt_rcap", QString::fromLatin1(bad));
        ExpectRefused(cmd_set_remain_capacity, QStringLiteral("Input remain capacity data error!(input range: 0-500000"));
    }
    SetBox("edt_rcap", QStringLiteral("0"));
    ExpectSends(cmd_set_remain_capacity, WithCrc({0x06, 0x10, 0x00, 0x19, 0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00}));
    SetBox("edt_rcap", QStringLiteral("500000"));
    ExpectSends(cmd_set_remain_capacity, WithCrc({0x06, 0x10, 0x00, 0x19, 0x00, 0x02, 0x04, 0x00, 0x07, 0xA1, 0x20}));
    EXPECT_EQ(LastWriteReg, 0);
}

TEST_F(RequestTest, readInfoSetsTheInformationBlockInFlight)
{
    ReadBlock = 3;
    ExpectSends(cmd_read_info, WithCrc({0x06, 0x04, 0x9D, 0x01, 0x00, 0x26}));
    EXPECT_EQ(ReadBlock, 8);
}

TEST_F(RequestTest, packIdIsPaddedOnTheLeftToTwentyBytes)
{
    ExpectRefused(cmd_set_pack_id, QStringLiteral("Please enter 1-20 data!"));
    // Too long, or characters the register has no byte for: nothing goes out
    // (such a character used to go out as 0x00 and wipe the serial number).
    for (const QString& text : {QString(21, QLatin1Char('A')), QStringLiteral("日本"), QStringLiteral("SN-\u00e9"),
                                QStringLiteral("AB\tC")}) {
        SetBox("edt_pack_id", text);
        ExpectRefused(cmd_set_pack_id, QStringLiteral("Please enter 1-20 data!"));
    }

    SetBox("edt_pack_id", QStringLiteral("AB"));
    Bytes expected{0x06, 0x1B, 0x00, 0x14};
    expected.insert(expected.end(), 18, 0x20);
    expected.push_back(0x41);
    expected.push_back(0x42);
    ExpectSends(cmd_set_pack_id, WithCrc(expected));
    EXPECT_EQ(Sent().size(), 26u);

    SetBox("edt_pack_id", QStringLiteral("ABCDEFGHIJ0123456789"));
    BuildRequest(cmd_set_pack_id);
    EXPECT_EQ(Sent()[4], 'A');
    EXPECT_EQ(Sent()[23], '9');
}

TEST_F(RequestTest, parameterWriteTakesValueAndIndexFromTheRowOfItsType)
{
    ParamType = 1;
    SetBox("edt_cell_volt_param", QStringLiteral("3300"));
    SetBox("cbb_cell_volt_param", QStringLiteral("ALL"));
    ExpectSends(cmd_set_param, WithCrc({0x06, 0x10, 0x9C, 0xFA, 0x00, 0x02, 0x04, 0x01, 0xFF, 0x0C, 0xE4}));
    EXPECT_EQ(LastWriteReg, 0x9CFA);
    EXPECT_EQ(LastWriteQty, 2);
    SetBox("cbb_cell_volt_param", QStringLiteral("16"));
    ExpectSends(cmd_set_param, WithCrc({0x06, 0x10, 0x9C, 0xFA, 0x00, 0x02, 0x04, 0x01, 0x0F, 0x0C, 0xE4}));

    ParamType = 2; // signed value, only its low two bytes go out
    SetBox("edt_cell_temp_param", QStringLiteral("-5"));
    SetBox("cbb_cell_temp_param", QStringLiteral("3"));
    ExpectSends(cmd_set_param, WithCrc({0x06, 0x10, 0x9C, 0xFA, 0x00, 0x02, 0x04, 0x02, 0x02, 0xFF, 0xFB}));

    ParamType = 0;
    ExpectSends(cmd_set_param, WithCrc({0x06, 0x10, 0x9C, 0xFA, 0x00, 0x05, 0x0A, 0x00, 0x00,
                                        0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Sent().size(), 19u);
    EXPECT_EQ(LastWriteQty, 5);

    ParamType = 9;
    SetBox("edt_lifetime_charge_energy_param", QStringLiteral("305419896"));
    ExpectSends(cmd_set_param, WithCrc({0x06, 0x10, 0x9C, 0xFA, 0x00, 0x03, 0x06, 0x09, 0x00, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Sent().size(), 15u);

    ParamType = 3; // value box empty
    ExpectRefused(cmd_set_param, QStringLiteral("Please enter the value!"));
    ParamType = 1; // index box empty
    SetBox("cbb_cell_volt_param", QString());
    ExpectRefused(cmd_set_param, QStringLiteral("Please enter the value!"));
    ParamType = 12; // no value source at all
    SetBox("edt_rsoc", QStringLiteral("50"));
    ExpectRefused(cmd_set_param, QStringLiteral("Please enter the value!"));
}

TEST_F(RequestTest, seriesParallelGoesToParallelAddrWithoutPausing)
{
    ParallelAddr = 5;
    SetBox("cbb_pretype", QStringLiteral("3"));
    app.host.colours[QStringLiteral("shp_sp_reset")] = ColGrey;
    ExpectSends(cmd_set_series_parallel, WithCrc({0x05, 0x10, 0x9D, 0x1D, 0x00, 0x01, 0x02, 0x00, 0x06}));
    EXPECT_EQ(LastWriteReg, 0x9D1D);
    EXPECT_EQ(LastWriteQty, 1);
    // The 500 ms after each request is the sweep's own wait, which keeps
    // the event loop running: the builder does not block.
    EXPECT_TRUE(app.pauses.empty());

    app.host.colours[QStringLiteral("shp_sp_reset")] = ColLime;
    ExpectSends(cmd_set_series_parallel, WithCrc({0x05, 0x10, 0x9D, 0x1D, 0x00, 0x01, 0x02, 0x00, 0x01}));

    SetBox("cbb_pretype", QStringLiteral("200")); // the doubled role would not fit the code byte
    app.host.colours[QStringLiteral("shp_sp_reset")] = ColGrey;
    ExpectRefused(cmd_set_series_parallel, QStringLiteral("Input data error!(input range: 0~127)"));

    SetBox("cbb_pretype", QString());
    ExpectRefused(cmd_set_series_parallel, QStringLiteral("Please choose the value!"));
    EXPECT_TRUE(app.pauses.empty());
}

TEST_F(RequestTest, protocolTypeSleepTimeAndFixedWrites)
{
    ExpectRefused(cmd_set_protocol_type, QStringLiteral("Please choose the value!"));
    SetBox("cbb_protocol_type", QStringLiteral("300")); // the type travels in one byte
    ExpectRefused(cmd_set_protocol_type, QStringLiteral("Input data error!(input range: 0~255)"));
    SetBox("cbb_protocol_type", QStringLiteral("44"));
    ExpectSends(cmd_set_protocol_type, WithCrc({0x06, 0x10, 0x9D, 0x1E, 0x00, 0x01, 0x02, 0x00, 0x2C}));
    EXPECT_EQ(LastWriteReg, 0x9D1E);
    EXPECT_EQ(LastWriteQty, 1);

    SetBox("edt_sleep_time_mul", QStringLiteral("3"));
    ExpectRefused(cmd_set_sleep_time, QStringLiteral("Please enter value!"));
    SetBox("edt_sleep_time_base", QStringLiteral("600"));
    ExpectSends(cmd_set_sleep_time, WithCrc({0x06, 0x10, 0x9D, 0x25, 0x00, 0x02, 0x04, 0x00, 0x03, 0x02, 0x58}));
    EXPECT_EQ(LastWriteReg, 0x9D25);
    EXPECT_EQ(LastWriteQty, 2);

    LastWriteReg = 0;
    SetBox("Edit3", QStringLiteral("10"));
    ExpectSends(cmd_set_edit3_word, WithCrc({0x06, 0x10, 0x9D, 0x27, 0x00, 0x01, 0x02, 0x00, 0x0A}));
    ExpectSends(cmd_set_customer_code,
                {0x06, 0x10, 0x9D, 0x01, 0x00, 0x02, 0x04, 0x00, 0x00, 0x5E, 0x00, 0xE4, 0xE1});
    EXPECT_EQ(LastWriteReg, 0);
    ExpectSends(cmd_erase_dev_firmware, {0x06, 0x10, 0x9E, 0x80, 0x00, 0x01, 0x02, 0x00, 0x00, 0xE0, 0x69});
    EXPECT_EQ(LastWriteReg, 0x9E80); // its answer reports the erase
    EXPECT_EQ(LastWriteQty, 1);

    // During an upgrade run the record write stays the pending one.
    LastWriteReg = 0x9F00;
    UpgradeActive = 1;
    ExpectSends(cmd_erase_dev_firmware, {0x06, 0x10, 0x9E, 0x80, 0x00, 0x01, 0x02, 0x00, 0x00, 0xE0, 0x69});
    EXPECT_EQ(LastWriteReg, 0x9F00);
}

} // namespace
