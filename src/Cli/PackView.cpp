#include "PackView.h"

#include "CliHost.h"

#include "Indicators.h"
#include "PackTable.h"
#include "TextFormat.h"

#include <QJsonArray>
#include <algorithm>

namespace bms::cli {

namespace {

// A named field of a record and the block that carries it. The registers
// the pack table names by number are named by their meaning (the data log's
// captions): max_chg_volt is register 0x000D, and so on.
template <class Record>
struct Field {
    const char* key;
    int block;
    QJsonValue (*value)(const Record&);
};

template <auto Member, class Record>
QJsonValue Scalar(const Record& r)
{
    return QJsonValue(static_cast<qint64>(r.*Member));
}

// An array member: every entry, or the first `count` of them.
template <auto Member, class Record>
QJsonValue Array(const Record& r, size_t count)
{
    QJsonArray a;
    const auto& values = r.*Member;
    for (size_t i = 0; i < std::min(count, values.size()); ++i)
        a.append(static_cast<qint64>(values[i]));
    return a;
}

template <auto Member, class Record>
QJsonValue Whole(const Record& r)
{
    return Array<Member>(r, (r.*Member).size());
}

using P = PackRecord;
using B = BsiRecordT;

const Field<P> kPackFields[] = {
    {"version_major", 0, Scalar<&P::version_major>},
    {"version_minor", 0, Scalar<&P::version_minor>},
    {"sw_version", 0, Scalar<&P::sw_version>},
    {"sw_version_text", 0, [](const P& p) { return QJsonValue(VersionText(p.sw_version)); }},
    {"hw_version", 0, Scalar<&P::hw_version>},
    {"hw_version_text", 0, [](const P& p) { return QJsonValue(VersionText(p.hw_version)); }},
    {"max_chg_volt", 0, Scalar<&P::reg_000D>},
    {"min_dsg_volt", 0, Scalar<&P::reg_000E>},
    {"max_chg_current", 0, Scalar<&P::reg_000F>},
    {"max_dsg_current", 0, Scalar<&P::reg_0010>},
    {"fcc_cap", 0, Scalar<&P::fcc_cap>},
    {"fdc_cap", 0, Scalar<&P::fdc_cap>},
    {"current", 0, Scalar<&P::current>},
    {"total_volt", 0, Scalar<&P::total_volt>},
    {"rsoc", 0, Scalar<&P::rsoc>},
    {"remain_cap", 0, Scalar<&P::remain_cap>},
    {"cycles", 0, Scalar<&P::cycles>},
    {"env_temp", 0, Scalar<&P::temp_001C>},
    {"max_cell_volt", 0, Scalar<&P::reg_001D>},
    {"min_cell_volt", 0, Scalar<&P::reg_001E>},
    {"max_cell_temp", 0, Scalar<&P::temp_001F>},
    {"min_cell_temp", 0, Scalar<&P::temp_0020>},
    {"max_cell_volt_addr", 0, Scalar<&P::reg_0021>},
    {"min_cell_volt_addr", 0, Scalar<&P::reg_0022>},
    {"max_cell_temp_addr", 0, Scalar<&P::reg_0023>},
    {"min_cell_temp_addr", 0, Scalar<&P::reg_0024>},
    {"max_mos_temp", 0, Scalar<&P::temp_0025>},
    {"max_mos_temp_addr", 0, Scalar<&P::reg_0026>},
    {"pack_flags", 0, Scalar<&P::pack_flags>},
    {"fault_status", 1, Whole<&P::fault_status>},
    {"bms_status", 2, Whole<&P::bms_status>},
    {"module_enable", 3, Scalar<&P::reg_0200>},
    {"module_status", 3, Scalar<&P::reg_0201>},
    {"function_control", 3, Scalar<&P::reg_0202>},
    {"soh", 3, Scalar<&P::soh>},
    {"temp_b_count", 3, Scalar<&P::temp_b_count>},
    {"temp_a_count", 3, Scalar<&P::temp_a_count>},
    {"cell_count", 3, Scalar<&P::cell_count>},
    {"temp_a", 4, [](const P& p) { return Array<&P::temp_a>(p, p.temp_a_count); }},
    {"temp_b", 5, [](const P& p) { return Array<&P::temp_b>(p, p.temp_b_count); }},
    {"cell_volt", 6, [](const P& p) { return Array<&P::cell_volt>(p, p.cell_count & 0xFFu); }},
};

const Field<B> kBsiFields[] = {
    {"uid_num", 7, Scalar<&B::uid_num>},
    {"sys_state", 7, Whole<&B::sys_state>},
    {"error_state", 7, Whole<&B::error_state>},
    {"online_tag", 7, Scalar<&B::online_tag>},
    {"pre_sp_tag", 7, Scalar<&B::pre_sp_tag>},
    {"diff_volt_normal", 7, Scalar<&B::diff_volt_normal>},
    {"done_sp_tag", 7, Scalar<&B::done_sp_tag>},
    {"cp_bat_num", 7, Scalar<&B::cp_bat_num>},
    {"cascad_bat_num", 7, Scalar<&B::cascad_bat_num>},
    {"parallel_bat_num", 7, Scalar<&B::parallel_bat_num>},
    {"cp_bat_num_set", 7, Scalar<&B::cp_bat_num_set>},
    {"cascad_bat_num_set", 7, Scalar<&B::cascad_bat_num_set>},
    {"sys_work_state", 7, Scalar<&B::sys_work_state>},
    {"pre_chg_time", 7, Scalar<&B::pre_chg_time>},
    {"pre_dsg_time", 7, Scalar<&B::pre_dsg_time>},
    {"bat_online_num", 7, Scalar<&B::bat_online_num>},
    {"heater_abnormal", 7, Scalar<&B::heater_abnormal>},
    {"heater_request_open", 7, Scalar<&B::heater_request_open>},
    {"dmos_on_max_volt", 7, Scalar<&B::dmos_on_max_volt>},
    {"status0", 7, Scalar<&B::status0>},
    {"bsi_protocol_type", 7, Scalar<&B::bsi_protocol_type>},
    {"chg_mos_ctrl", 7, Scalar<&B::chg_mos_ctrl>},
    {"dsg_mos_ctrl", 7, Scalar<&B::dsg_mos_ctrl>},
    {"heat_mos_ctrl", 7, Scalar<&B::heat_mos_ctrl>},
    {"member_words", 7, Whole<&B::member_words>},
};

// Every field; null where its block was not answered.
template <class Record, size_t N>
void Insert(QJsonObject& o, const Field<Record> (&fields)[N], const Record& r, const std::set<int>& blocks)
{
    for (const Field<Record>& f : fields)
        o.insert(QLatin1String(f.key), blocks.count(f.block) ? f.value(r) : QJsonValue());
}

// Labels shown below the grid, in the window's reading order.
const char* const kLabels[] = {
    "edt3", "Edit1", "lbl_protocol_type", "lbl30", "lbl33", "lbl34", "lbl10", "lbl11", "lbl12", "lbl16",
    "lbl_secProtect", "lbl_fault", "lbl_rebootTime", "lbl_currentRev",
};

// Rows 1..8 of a grid as caption/value pairs side by side.
void GridLines(QStringList& lines, const CliHost& host, const QString& grid, int pairs, int width)
{
    for (int row = 1; row <= 8; ++row) {
        QString line;
        for (int pair = 0; pair < pairs; ++pair) {
            const QString cell = host.cell(grid, 2 * pair, row).trimmed() + QLatin1Char(' ')
                + host.cell(grid, 2 * pair + 1, row);
            line += pair + 1 < pairs ? cell.leftJustified(width) : cell;
        }
        lines.append(line);
    }
}

// Captions of the indicators lit in `colour`.
QString Lit(const CliHost& host, std::span<const IndicatorInfo> indicators, uint32_t colour)
{
    QStringList names;
    for (const IndicatorInfo& i : indicators)
        if (host.colour(QString::fromLatin1(i.square)) == colour)
            names.append(QString::fromUtf8(i.caption).simplified());
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
}

} // namespace

QJsonObject TelemetryObject(const std::set<int>& blocks)
{
    QJsonObject o;
    Insert(o, kPackFields, PackTable[0], blocks);
    QJsonObject bsi;
    Insert(bsi, kBsiFields, BsiRecord, blocks);
    o.insert(QStringLiteral("bsi"), blocks.count(7) ? QJsonValue(bsi) : QJsonValue());
    return o;
}

QStringList TelemetryLines(const CliHost& host, bool bsi)
{
    QStringList lines;
    GridLines(lines, host, QStringLiteral("strngrd1"), 4, 22);
    for (const char* label : kLabels) {
        // The window's label shows the information block's protocol type,
        // which a telemetry read does not fetch; block 0 carries the same
        // number in the low byte of its first register.
        if (qstrcmp(label, "lbl_protocol_type") == 0)
            lines.append(QStringLiteral("Protocol Type: ") + QString::number(PackTable[0].version_minor));
        else
            lines.append(host.text(QString::fromLatin1(label)));
    }
    lines.append(QStringLiteral("Alarms: ") + Lit(host, AlarmIndicators(), ColYellow));
    lines.append(QStringLiteral("Protections: ") + Lit(host, ProtectionIndicators(), ColRed));
    if (bsi)
        GridLines(lines, host, QStringLiteral("strgrid_bsi"), 3, 32);
    return lines;
}

QString RotationLine(const CliHost& host, const std::set<int>& blocks, const QDateTime& when)
{
    const PackRecord& p = PackTable[0];
    QStringList parts{when.toString(QStringLiteral("hh:mm:ss.zzz"))};
    const QString grid = QStringLiteral("strngrd1");
    if (blocks.count(0)) {
        for (int row : {1, 2, 6, 5})
            parts.append(host.cell(grid, 6, row) + host.cell(grid, 7, row));
    }
    if (blocks.count(6) && (p.cell_count & 0xFF) > 0) {
        const auto cells = std::span(p.cell_volt).first(std::min<size_t>(p.cell_count & 0xFFu, 16));
        const auto [lo, hi] = std::minmax_element(cells.begin(), cells.end());
        parts.append(QStringLiteral("Cells:%1..%2mV").arg(*lo).arg(*hi));
    }
    if (blocks.count(4) && p.temp_a_count > 0) {
        const auto temps = std::span(p.temp_a).first(std::min<size_t>(p.temp_a_count, 16));
        const auto [lo, hi] = std::minmax_element(temps.begin(), temps.end());
        parts.append(QStringLiteral("Tem:%1..%2'C").arg(*lo).arg(*hi));
    }
    if (blocks.count(2))
        parts.append(host.text(QStringLiteral("lbl30")));
    if (blocks.count(1)) {
        QStringList words;
        for (uint16_t w : p.fault_status)
            words.append(HexText(w, 4));
        parts.append(QStringLiteral("fault:") + words.join(QLatin1Char('/')));
    }
    if (blocks.empty())
        parts.append(QStringLiteral("no answer"));
    return parts.join(QStringLiteral("  "));
}

} // namespace bms::cli
