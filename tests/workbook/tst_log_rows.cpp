// Row layouts of the three workbooks, without any workbook.
#include "LogRows.h"

#include <gtest/gtest.h>

using namespace bms;

namespace {

QString T(const char* utf8) { return QString::fromUtf8(utf8); }

QString TextAt(const CellRow& row, int column)
{
    const CellValue& v = row.at(size_t(column - 1));
    EXPECT_TRUE(v.isText()) << "column " << column;
    return v.text;
}

double NumberAt(const CellRow& row, int column)
{
    const CellValue& v = row.at(size_t(column - 1));
    EXPECT_TRUE(v.isNumber()) << "column " << column;
    return v.number;
}

const QDateTime kWhen(QDate(2026, 3, 4), QTime(5, 6, 7));

} // namespace

TEST(LogRows, packWithoutCellsOrSensorsGives38ColumnsAnd67WithBsi)
{
    PackRecord pack;
    BsiRecordT sys;
    EXPECT_EQ(DataLogHeaderRow(pack, false).size(), 38u);
    EXPECT_EQ(DataLogRow(pack, sys, false, kWhen).size(), 38u);
    const CellRow header = DataLogHeaderRow(pack, true);
    const CellRow row = DataLogRow(pack, sys, true, kWhen);
    ASSERT_EQ(header.size(), 67u);
    ASSERT_EQ(row.size(), 67u);
    EXPECT_EQ(TextAt(header, 1), "Sampling Time");
    EXPECT_EQ(TextAt(header, 2), "Bat Volt(mV)");
    EXPECT_EQ(TextAt(header, 17), T("Max Cell Tem(°C)"));
    EXPECT_EQ(TextAt(header, 17).at(13).unicode(), 0x00B0);
    EXPECT_EQ(TextAt(header, 25), "Fault Status0");
    EXPECT_EQ(TextAt(header, 32), "Bms Status3");
    EXPECT_EQ(TextAt(header, 38), "Cell String");
    EXPECT_EQ(TextAt(header, 39), "Rrror Bms Status[0]");
    EXPECT_EQ(TextAt(header, 47), "Sys State0");
    EXPECT_EQ(TextAt(header, 52), "Error State3");
    EXPECT_EQ(TextAt(header, 67), "Uid Num");
    EXPECT_EQ(TextAt(row, 1), SampleTimeText(kWhen));
    EXPECT_TRUE(TextAt(row, 1).endsWith(" 05:06:07"));
    for (int c = 2; c <= 67; ++c)
        EXPECT_EQ(NumberAt(row, c), 0) << c;
}

TEST(LogRows, sixteenCellsFourAndTwoSensorsFillColumns39To60)
{
    PackRecord pack;
    pack.cell_count = 16;
    pack.temp_a_count = 4;
    pack.temp_b_count = 2;
    for (int i = 0; i < 16; ++i) {
        pack.cell_volt[size_t(i)] = uint16_t(3000 + i);
        pack.temp_a[size_t(i)] = int16_t(100 + i);
        pack.temp_b[size_t(i)] = int16_t(200 + i);
    }
    const CellRow header = DataLogHeaderRow(pack, true);
    const CellRow row = DataLogRow(pack, BsiRecordT{}, true, kWhen);
    ASSERT_EQ(header.size(), 60u + 29u);
    ASSERT_EQ(row.size(), 60u + 29u);
    EXPECT_EQ(TextAt(header, 39), "Cell Volt1(mV)");
    EXPECT_EQ(TextAt(header, 54), "Cell Volt16(mV)");
    EXPECT_EQ(TextAt(header, 55), T("Cell Tem1(°C)"));
    EXPECT_EQ(TextAt(header, 58), T("Cell Tem4(°C)"));
    EXPECT_EQ(TextAt(header, 59), T("MOS Tem1(°C)"));
    EXPECT_EQ(TextAt(header, 60), T("MOS Tem2(°C)"));
    EXPECT_EQ(TextAt(header, 61), "Rrror Bms Status[0]");
    EXPECT_EQ(NumberAt(row, 39), 3000);
    EXPECT_EQ(NumberAt(row, 54), 3015);
    EXPECT_EQ(NumberAt(row, 55), 100);
    EXPECT_EQ(NumberAt(row, 58), 103);
    EXPECT_EQ(NumberAt(row, 59), 200);
    EXPECT_EQ(NumberAt(row, 60), 201);
    EXPECT_EQ(NumberAt(row, 36), 4);
    EXPECT_EQ(NumberAt(row, 37), 2);
    EXPECT_EQ(NumberAt(row, 38), 16);
}

TEST(LogRows, valuesKeepSignScaleAndFullUnsignedRange)
{
    PackRecord pack;
    pack.total_volt = 5321;           // 10 mV
    pack.current = -12345;
    pack.fcc_cap = 0x80000000u;       // 2^31
    pack.fdc_cap = 0xFFFFFFFFu;
    pack.remain_cap = 0x90000000u;
    pack.reg_000D = 600;              // 100 mV
    pack.temp_001F = -105;
    pack.temp_0020 = -400;
    pack.temp_0025 = 32767;
    pack.temp_001C = -1;
    pack.rsoc = 65535;
    pack.cell_count = 1;
    pack.cell_volt[0] = 65535;
    pack.temp_a_count = 1;
    pack.temp_a[0] = -273;
    BsiRecordT sys;
    sys.heater_abnormal = 0xFEDCBA98u;
    sys.member_words[0] = 0xFFFF;
    const CellRow row = DataLogRow(pack, sys, true, kWhen);
    EXPECT_EQ(NumberAt(row, 2), 53210);
    EXPECT_EQ(NumberAt(row, 3), -12345);
    EXPECT_EQ(NumberAt(row, 4), 2147483648.0);
    EXPECT_EQ(NumberAt(row, 5), 4294967295.0);
    EXPECT_EQ(NumberAt(row, 6), 65535);
    EXPECT_EQ(NumberAt(row, 8), 60000);
    EXPECT_EQ(NumberAt(row, 12), 2415919104.0);
    EXPECT_EQ(NumberAt(row, 17), -105);
    EXPECT_EQ(NumberAt(row, 19), -400);
    EXPECT_EQ(NumberAt(row, 21), 32767);
    EXPECT_EQ(NumberAt(row, 24), -1);
    EXPECT_EQ(NumberAt(row, 39), 65535);
    EXPECT_EQ(NumberAt(row, 40), -273);
    EXPECT_EQ(NumberAt(row, 41), 65535);              // first BSI column
    EXPECT_EQ(NumberAt(row, 40 + 24), 4275878552.0);  // "Heater Abnormal"
}

TEST(LogRows, countsAbove16AreLoggedAs16Columns)
{
    PackRecord pack;
    pack.cell_count = 40;
    pack.temp_a_count = 17;
    pack.temp_b_count = 255;
    const CellRow header = DataLogHeaderRow(pack, false);
    const CellRow row = DataLogRow(pack, BsiRecordT{}, false, kWhen);
    ASSERT_EQ(header.size(), 38u + 48u);
    ASSERT_EQ(row.size(), 38u + 48u);
    EXPECT_EQ(TextAt(header, 54), "Cell Volt16(mV)");
    EXPECT_EQ(TextAt(header, 70), T("Cell Tem16(°C)"));
    EXPECT_EQ(TextAt(header, 86), T("MOS Tem16(°C)"));
    // The counts themselves are logged as received.
    EXPECT_EQ(NumberAt(row, 36), 17);
    EXPECT_EQ(NumberAt(row, 37), 255);
    EXPECT_EQ(NumberAt(row, 38), 40);
}

TEST(LogRows, deviceLineShowsVersionsAsNumbersAndHexTexts)
{
    PackRecord pack;
    pack.version_major = 3;
    pack.version_minor = 17;
    pack.sw_version = 0x0abc;
    pack.hw_version = 0xF00D;
    const CellRow row = DeviceLineRow(pack);
    ASSERT_EQ(row.size(), 8u);
    EXPECT_EQ(TextAt(row, 1), "protocol soft version");
    EXPECT_EQ(NumberAt(row, 2), 3);
    EXPECT_EQ(TextAt(row, 3), "protocol type");
    EXPECT_EQ(NumberAt(row, 4), 17);
    EXPECT_EQ(TextAt(row, 5), "software version");
    EXPECT_EQ(TextAt(row, 6), "0x0ABC");
    EXPECT_EQ(TextAt(row, 7), "hardware version");
    EXPECT_EQ(TextAt(row, 8), "0xF00D");
}

TEST(LogRows, uidAndCalibrationRowsHoldTheirTexts)
{
    const CellRow uidHeader = UidHeaderRow();
    ASSERT_EQ(uidHeader.size(), 3u);
    EXPECT_EQ(TextAt(uidHeader, 1), T("时间"));
    EXPECT_EQ(TextAt(uidHeader, 2), "SN");
    EXPECT_EQ(TextAt(uidHeader, 3), "QRcode");
    const CellRow uid = UidRow(kWhen, "BC1234567890", "00112233445566778899AABB");
    EXPECT_EQ(TextAt(uid, 2), "BC1234567890");
    EXPECT_EQ(TextAt(uid, 3), "{\"UID\": \"00112233445566778899AABB\"}");
    EXPECT_TRUE(TextAt(uid, 1).startsWith(QLocale::system().toString(kWhen.date(), QLocale::ShortFormat) + " "));

    const CellRow calHeader = CalibrationHeaderRow();
    const char* expected[] = {"时间", "NO", "条形码", "实际电流", "校准电流", "确认校准"};
    ASSERT_EQ(calHeader.size(), 6u);
    for (int c = 1; c <= 6; ++c)
        EXPECT_EQ(TextAt(calHeader, c), T(expected[c - 1]));
    const CellRow begin = CalibrationBeginCells(kWhen, 1, "BC1");
    EXPECT_EQ(TextAt(begin, 1), SampleTimeText(kWhen));
    EXPECT_EQ(NumberAt(begin, 2), 1);
    EXPECT_EQ(TextAt(begin, 3), "BC1");
    const CellRow complete = CalibrationCompleteCells(-20000, "20000");
    EXPECT_EQ(NumberAt(complete, 1), -20000);
    EXPECT_EQ(TextAt(complete, 2), "20000");
    EXPECT_EQ(TextAt(complete, 3), T("确认"));
}
