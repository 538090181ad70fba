#include "LogRows.h"

#include <QLocale>
#include <algorithm>
#include <array>

namespace bms {

namespace {

CellValue Text(const QString& s) { return CellValue::Text(s); }
CellValue Text(const char* s) { return CellValue::Text(QString::fromUtf8(s)); }
// Every number is logged with its true value: unsigned 32-bit fields of 2^31
// or more stay positive, signed fields keep their sign.
CellValue Num(double v) { return CellValue::Number(v); }

QString Hex4(uint16_t v)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}

// The system's time format without the time zone that the long format of
// some locales adds.
QString SystemTimeFormat(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            out.append(c);
    }
    return out.trimmed();
}

int Logged(int count) { return std::min(count, kMaxLoggedCount); }

// A column, the register block (0..7) its value comes from and the value.
struct Column {
    const char* header;
    int block;
    double (*value)(const PackRecord&);
};

// Columns 1..38 of the data log; column 1 (the sampling time) is written
// separately, so the table starts with column 2.
const std::array<Column, kFixedLogColumns - 1> kFixedColumns{{
    {"Bat Volt(mV)", 0, [](const PackRecord& p) { return double(p.total_volt) * 10; }},
    {"Current(mA)", 0, [](const PackRecord& p) { return double(p.current); }},
    {"FCC CAP(mAh)", 0, [](const PackRecord& p) { return double(p.fcc_cap); }},
    {"FDC CAP(mAh)", 0, [](const PackRecord& p) { return double(p.fdc_cap); }},
    {"RSOC(0.1%)", 0, [](const PackRecord& p) { return double(p.rsoc); }},
    {"Cycle Life", 0, [](const PackRecord& p) { return double(p.cycles); }},
    {"Max Chg Volt(mV)", 0, [](const PackRecord& p) { return double(p.reg_000D) * 100; }},
    {"Min Dsg Volt(mV)", 0, [](const PackRecord& p) { return double(p.reg_000E) * 100; }},
    {"Max Chg Current(mA)", 0, [](const PackRecord& p) { return double(p.reg_000F) * 100; }},
    {"Max Dsg Current(mA)", 0, [](const PackRecord& p) { return double(p.reg_0010) * 100; }},
    {"Remain Cap(mAh)", 0, [](const PackRecord& p) { return double(p.remain_cap); }},
    {"Max Cell Volt(mV)", 0, [](const PackRecord& p) { return double(p.reg_001D); }},
    {"Max Cell Volt Addr", 0, [](const PackRecord& p) { return double(p.reg_0021); }},
    {"Min Cell Volt(mV)", 0, [](const PackRecord& p) { return double(p.reg_001E); }},
    {"Min Cell Volt Addr", 0, [](const PackRecord& p) { return double(p.reg_0022); }},
    {"Max Cell Tem(°C)", 0, [](const PackRecord& p) { return double(p.temp_001F); }},
    {"Max Cell Tem Addr", 0, [](const PackRecord& p) { return double(p.reg_0023); }},
    {"Min Cell Tem(°C)", 0, [](const PackRecord& p) { return double(p.temp_0020); }},
    {"Min Cell Tem Addr", 0, [](const PackRecord& p) { return double(p.reg_0024); }},
    {"Max Mos Tem(°C)", 0, [](const PackRecord& p) { return double(p.temp_0025); }},
    {"Max Mos Tem Addr", 0, [](const PackRecord& p) { return double(p.reg_0026); }},
    {"SOH(%)", 3, [](const PackRecord& p) { return double(p.soh); }},
    {"ENV Tem(°C)", 0, [](const PackRecord& p) { return double(p.temp_001C); }},
    {"Fault Status0", 1, [](const PackRecord& p) { return double(p.fault_status[0]); }},
    {"Fault Status1", 1, [](const PackRecord& p) { return double(p.fault_status[1]); }},
    {"Fault Status2", 1, [](const PackRecord& p) { return double(p.fault_status[2]); }},
    {"Fault Status3", 1, [](const PackRecord& p) { return double(p.fault_status[3]); }},
    {"Bms Status0", 2, [](const PackRecord& p) { return double(p.bms_status[0]); }},
    {"Bms Status1", 2, [](const PackRecord& p) { return double(p.bms_status[1]); }},
    {"Bms Status2", 2, [](const PackRecord& p) { return double(p.bms_status[2]); }},
    {"Bms Status3", 2, [](const PackRecord& p) { return double(p.bms_status[3]); }},
    {"Module Enable", 3, [](const PackRecord& p) { return double(p.reg_0200); }},
    {"Module Status", 3, [](const PackRecord& p) { return double(p.reg_0201); }},
    {"Function Control", 3, [](const PackRecord& p) { return double(p.reg_0202); }},
    {"Cell Tem Num", 3, [](const PackRecord& p) { return double(p.temp_a_count); }},
    {"MOS Tem Num", 3, [](const PackRecord& p) { return double(p.temp_b_count); }},
    {"Cell String", 3, [](const PackRecord& p) { return double(p.cell_count); }},
}};

struct BsiColumn {
    const char* header;
    double (*value)(const BsiRecordT&);
};

const std::array<BsiColumn, kBsiLogColumns> kBsiColumns{{
    {"Rrror Bms Status[0]", [](const BsiRecordT& b) { return double(b.member_words[0]); }},
    {"Chg Mos Ctrl[0]", [](const BsiRecordT& b) { return double(b.chg_mos_ctrl); }},
    {"Dsg Mos Ctrl[0]", [](const BsiRecordT& b) { return double(b.dsg_mos_ctrl); }},
    {"Heat Mos Ctrl[0]", [](const BsiRecordT& b) { return double(b.heat_mos_ctrl); }},
    {"Online Tag[0]", [](const BsiRecordT& b) { return double(b.online_tag); }},
    {"PRE SP Tag[0]", [](const BsiRecordT& b) { return double(b.pre_sp_tag); }},
    {"DIFF Volt Normal Tag[0]", [](const BsiRecordT& b) { return double(b.diff_volt_normal); }},
    {"Done SP Tag[0]", [](const BsiRecordT& b) { return double(b.done_sp_tag); }},
    {"Sys State0", [](const BsiRecordT& b) { return double(b.sys_state[0]); }},
    {"Sys State1", [](const BsiRecordT& b) { return double(b.sys_state[1]); }},
    {"Error State0", [](const BsiRecordT& b) { return double(b.error_state[0]); }},
    {"Error State1", [](const BsiRecordT& b) { return double(b.error_state[1]); }},
    {"Error State2", [](const BsiRecordT& b) { return double(b.error_state[2]); }},
    {"Error State3", [](const BsiRecordT& b) { return double(b.error_state[3]); }},
    {"CP Bat Num", [](const BsiRecordT& b) { return double(b.cp_bat_num); }},
    {"Cascad Bat Num", [](const BsiRecordT& b) { return double(b.cascad_bat_num); }},
    {"Parallel Bat Num", [](const BsiRecordT& b) { return double(b.parallel_bat_num); }},
    {"CP Bat Num Set", [](const BsiRecordT& b) { return double(b.cp_bat_num_set); }},
    {"Cascad Bat Num Set", [](const BsiRecordT& b) { return double(b.cascad_bat_num_set); }},
    {"Sys Work State", [](const BsiRecordT& b) { return double(b.sys_work_state); }},
    {"PRE Chg Time", [](const BsiRecordT& b) { return double(b.pre_chg_time); }},
    {"PRE Dsg Time", [](const BsiRecordT& b) { return double(b.pre_dsg_time); }},
    {"Bat Online Num", [](const BsiRecordT& b) { return double(b.bat_online_num); }},
    {"Heater Abnormal", [](const BsiRecordT& b) { return double(b.heater_abnormal); }},
    {"Heater Request Open", [](const BsiRecordT& b) { return double(b.heater_request_open); }},
    {"Dmos On Max Volt(mV)", [](const BsiRecordT& b) { return double(b.dmos_on_max_volt); }},
    {"Status0", [](const BsiRecordT& b) { return double(b.status0); }},
    {"Protocol Type", [](const BsiRecordT& b) { return double(b.bsi_protocol_type); }},
    {"Uid Num", [](const BsiRecordT& b) { return double(b.uid_num); }},
}};

void AddNumbered(CellRow& row, const char* stem, int count, const char* unit)
{
    for (int i = 1; i <= Logged(count); ++i)
        row.push_back(Text(QString::fromUtf8(stem) + QString::number(i) + QString::fromUtf8(unit)));
}

bool Answered(uint16_t blocks, int block) { return (blocks >> block) & 1u; }

// The value, or an empty cell when its block was not answered for this row.
CellValue NumOf(uint16_t blocks, int block, double value) { return Answered(blocks, block) ? Num(value) : CellValue{}; }

template <typename Array>
void AddValues(CellRow& row, const Array& values, int count, uint16_t blocks, int block)
{
    for (int i = 0; i < Logged(count); ++i)
        row.push_back(NumOf(blocks, block, double(values[size_t(i)])));
}

} // namespace

QString SampleTimeText(const QDateTime& when)
{
    const QLocale locale = QLocale::system();
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + when.time().toString(QStringLiteral("HH:mm:ss"));
}

QString UidTimeText(const QDateTime& when)
{
    const QLocale locale = QLocale::system();
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
        + locale.toString(when.time(), SystemTimeFormat(locale));
}

CellRow DeviceLineRow(const PackRecord& pack)
{
    return {
        Text("protocol soft version"), Num(pack.version_major),
        Text("protocol type"), Num(pack.version_minor),
        Text("software version"), Text(Hex4(pack.sw_version)),
        Text("hardware version"), Text(Hex4(pack.hw_version)),
    };
}

CellRow DataLogHeaderRow(const PackRecord& pack, bool bsi)
{
    CellRow row;
    row.reserve(kFixedLogColumns + 3 * kMaxLoggedCount + kBsiLogColumns);
    row.push_back(Text("Sampling Time"));
    for (const Column& c : kFixedColumns)
        row.push_back(Text(c.header));
    AddNumbered(row, "Cell Volt", pack.cell_count, "(mV)");
    AddNumbered(row, "Cell Tem", pack.temp_a_count, "(°C)");
    AddNumbered(row, "MOS Tem", pack.temp_b_count, "(°C)");
    if (bsi) {
        for (const BsiColumn& c : kBsiColumns)
            row.push_back(Text(c.header));
    }
    return row;
}

CellRow DataLogRow(const PackRecord& pack, const BsiRecordT& sys, bool bsi, const QDateTime& when, uint16_t answered)
{
    CellRow row;
    row.reserve(kFixedLogColumns + 3 * kMaxLoggedCount + kBsiLogColumns);
    row.push_back(Text(SampleTimeText(when)));
    for (const Column& c : kFixedColumns)
        row.push_back(NumOf(answered, c.block, c.value(pack)));
    AddValues(row, pack.cell_volt, pack.cell_count, answered, 6);
    AddValues(row, pack.temp_a, pack.temp_a_count, answered, 4);
    AddValues(row, pack.temp_b, pack.temp_b_count, answered, 5);
    if (bsi) {
        for (const BsiColumn& c : kBsiColumns)
            row.push_back(NumOf(answered, 7, c.value(sys)));
    }
    return row;
}

CellRow BusLogHeaderRow(const PackRecord& pack)
{
    CellRow row = DataLogHeaderRow(pack, false);
    row.insert(row.begin() + 1, {Text("Address"), Text("Serial")});
    return row;
}

CellRow BusLogRow(const PackRecord& pack, int address, const QString& serial, const QDateTime& when,
                  uint16_t answered)
{
    CellRow row = DataLogRow(pack, BsiRecordT{}, false, when, answered);
    row.insert(row.begin() + 1, {Num(address), Text(serial)});
    return row;
}

CellRow UidHeaderRow() { return {Text("时间"), Text("SN"), Text("QRcode")}; }

CellRow UidRow(const QDateTime& when, const QString& barcode, const QString& uid)
{
    return {Text(UidTimeText(when)), Text(barcode),
            Text(QStringLiteral("{\"UID\": \"") + uid + QStringLiteral("\"}"))};
}

CellRow CalibrationHeaderRow()
{
    return {Text("时间"), Text("NO"), Text("条形码"), Text("实际电流"), Text("校准电流"), Text("确认校准")};
}

CellRow CalibrationBeginCells(const QDateTime& when, int number, const QString& barcode)
{
    return {Text(SampleTimeText(when)), Num(number), Text(barcode)};
}

CellRow CalibrationCompleteCells(int32_t current, const QString& reference)
{
    return {Num(current), Text(reference), Text("确认")};
}

} // namespace bms
