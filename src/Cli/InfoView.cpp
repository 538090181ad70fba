#include "InfoView.h"

#include "CliHost.h"
#include "PackTable.h"
#include "TextFormat.h"

#include <QRegularExpression>

namespace bms::cli {

namespace {

// A field shown in one control of the window.
struct InfoField {
    const char* key;
    const char* control;
    const char* caption; // text output: caption before the control's text
    bool number;
};

constexpr InfoField kFields[] = {
    {"customer_code", "Customer_code_edit", "Customer code:", false},
    {"rated_cap", "edt4", "Capacity:", true},
    {"barcode", "edt1", "Barcode:", false},
    {"mfr_name", "edt2", "MFR name:", false},
    {"serial_number", "edt_pack_id", "SN:", false},
    {"uid", "edt_uid", "UID:", false},
    {"uid_crc", "lbl_uid_crc", "UID CRC:", false},
};

const QString kRtc = QStringLiteral("lbl_rtc");
const QString kRtcPrefix = QStringLiteral("RTC Time: ");
const QString kSleep = QStringLiteral("lbl_sleep_time");

QString Control(const char* name) { return QString::fromLatin1(name); }

} // namespace

QJsonObject InfoObject(const CliHost& host, bool versions)
{
    QJsonObject o;
    for (const InfoField& f : kFields) {
        const QString control = Control(f.control);
        if (!host.written(control))
            o.insert(QLatin1String(f.key), QJsonValue::Null);
        else if (f.number)
            o.insert(QLatin1String(f.key), host.text(control).toDouble());
        else
            o.insert(QLatin1String(f.key), host.text(control));
    }
    const QString rtc = host.text(kRtc);
    o.insert(QStringLiteral("rtc"), host.written(kRtc) && rtc.startsWith(kRtcPrefix)
                                        ? QJsonValue(rtc.mid(kRtcPrefix.size()))
                                        : QJsonValue(QJsonValue::Null));
    // The information read always shows the customer code; the protocol
    // type it stores is kept in ProtocolType.
    const bool infoRead = host.written(Control(kFields[0].control));
    o.insert(QStringLiteral("protocol_type"), infoRead ? QJsonValue(ProtocolType) : QJsonValue());
    const PackRecord& pack = PackTable[0];
    o.insert(QStringLiteral("hw_version"), versions ? QJsonValue(pack.hw_version) : QJsonValue());
    o.insert(QStringLiteral("hw_version_text"), versions ? QJsonValue(VersionText(pack.hw_version)) : QJsonValue());
    o.insert(QStringLiteral("sw_version"), versions ? QJsonValue(pack.sw_version) : QJsonValue());
    o.insert(QStringLiteral("sw_version_text"), versions ? QJsonValue(VersionText(pack.sw_version)) : QJsonValue());
    // "Sleep Time: <multiplier> X <base> S"
    static const QRegularExpression sleep(QStringLiteral("^Sleep Time: (\\d+) X (\\d+) S$"));
    const QRegularExpressionMatch m = sleep.match(host.text(kSleep));
    const bool haveSleep = host.written(kSleep) && m.hasMatch();
    o.insert(QStringLiteral("sleep_multiplier"), haveSleep ? QJsonValue(m.captured(1).toInt()) : QJsonValue());
    o.insert(QStringLiteral("sleep_base"), haveSleep ? QJsonValue(m.captured(2).toInt()) : QJsonValue());
    return o;
}

QStringList InfoLines(const CliHost& host, bool versions)
{
    QStringList lines;
    auto addFields = [&](const char* firstKey, const char* lastKey) {
        bool inside = false;
        for (const InfoField& f : kFields) {
            inside = inside || qstrcmp(f.key, firstKey) == 0;
            const QString control = Control(f.control);
            if (inside && host.written(control))
                lines.append(QLatin1String(f.caption) + QLatin1Char(' ') + host.text(control)
                             + (f.number ? QStringLiteral(" mAH") : QString()));
            if (qstrcmp(f.key, lastKey) == 0)
                return;
        }
    };
    // In the order of the window: identity, clock, protocol, UID, sleep time.
    addFields("customer_code", "serial_number");
    if (versions)
        lines.append(QStringLiteral("VS: ") + FirmwareText(PackTable[0].hw_version, PackTable[0].sw_version));
    if (host.written(kRtc))
        lines.append(host.text(kRtc));
    else
        lines.append(kRtcPrefix + QStringLiteral("(the clock bytes are not a date)"));
    lines.append(QStringLiteral("Protocol Type: ") + QString::number(ProtocolType));
    addFields("uid", "uid_crc");
    if (host.written(kSleep))
        lines.append(host.text(kSleep));
    return lines;
}

} // namespace bms::cli
