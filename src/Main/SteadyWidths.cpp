#include "SteadyWidths.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <vector>

namespace bms {

namespace {

struct Texts {
    const char* control;
    QStringList samples;
};

// The caption followed by `digits` hexadecimal digits, each digit in turn:
// the widest of them is the widest the label can get.
QStringList HexTexts(const QString& caption, int digits)
{
    QStringList list;
    for (const QChar digit : QStringLiteral("0123456789ABCDEF"))
        list.append(caption + QString(digits, digit));
    return list;
}

// A clock label: caption, date, time, the system locale's short weekday name
// and the zone number.
QStringList ClockTexts(const QString& caption, const QString& zone)
{
    QStringList list;
    for (int day = 1; day <= 7; ++day)
        list.append(caption + QStringLiteral("8888-88-88 88:88:88 ") + QLocale::system().dayName(day, QLocale::ShortFormat)
                    + QLatin1Char(' ') + zone);
    return list;
}

std::vector<Texts> ChangingTexts()
{
    std::vector<Texts> list = {
        {"opencom", {QStringLiteral("Open Port"), QStringLiteral("Close Port")}},
        {"cybtn", {QStringLiteral("Start Sampling"), QStringLiteral("Close Sampling")}},
        {"lbl30", {QStringLiteral("Standby"), QStringLiteral("Charging..."), QStringLiteral("Discharging...")}},
        {"lbl33", {QStringLiteral("Charge MOS:off"), QStringLiteral("Charge MOS:on")}},
        {"lbl34", {QStringLiteral("Discharge MOS:off"), QStringLiteral("Discharge MOS:on")}},
        {"lbl_addr_read", HexTexts(QStringLiteral("Addr: "), 2)},
        {"lbl_uid_crc", HexTexts(QString(), 4)},
        {"lbl_sp_reset", {QStringLiteral("Reset"), QStringLiteral("None")}},
        {"lblc", {QStringLiteral("Current:-2147483648")}},
        {"lblv1", {QStringLiteral(" Cell 1 Voltage:65535 mV")}},
        {"lblv2", {QStringLiteral(" Cell 2 Voltage:65535 mV")}},
        {"lbl_protocol_type", {QStringLiteral("Protocol Type: 255")}},
        {"lbl_sleep_time", {QStringLiteral("Sleep Time: 65535 X 65535 S")}},
        {"lbl_curtime", ClockTexts(QStringLiteral("System Time: "), QStringLiteral("-12"))},
        {"lbl_rtc", ClockTexts(QStringLiteral("RTC Time: "), QStringLiteral("-128"))},
        {"Label44", {QStringLiteral("4294967295")}},
        {"stat1_panel0", {QStringLiteral("Offline!"), QStringLiteral("Connected to the communication box!")}},
        {"stat1_panel1", {QStringLiteral("Ready!"), QStringLiteral("Sampling!")}},
        {"stat1_panel3", {QStringLiteral("System Time: 88:88:88")}},
    };
    const struct {
        const char* control;
        const char* caption;
    } words[] = {
        {"lbl10", "bms status 0:"},         {"lbl11", "bms status 1:"},     {"lbl12", "bms status 2:"},
        {"lbl16", "bms status 3:"},         {"lbl_secProtect", "fault status 0:"}, {"lbl_fault", "fault status 1:"},
        {"lbl_rebootTime", "fault status 2:"}, {"lbl_currentRev", "fault status 3:"},
    };
    for (const auto& word : words)
        list.push_back({word.control, HexTexts(QString::fromLatin1(word.caption), 4)});
    return list;
}

template <class Widget>
int WidestHint(Widget* w, const QStringList& samples)
{
    const QString keep = w->text();
    int width = w->sizeHint().width();
    for (const QString& sample : samples) {
        w->setText(sample);
        width = qMax(width, w->sizeHint().width());
    }
    w->setText(keep);
    return width;
}

} // namespace

void KeepWidthsSteady(QWidget* root)
{
    for (const Texts& texts : ChangingTexts()) {
        QWidget* w = root->findChild<QWidget*>(QString::fromLatin1(texts.control));
        int width = 0;
        if (auto* label = qobject_cast<QLabel*>(w))
            width = WidestHint(label, texts.samples);
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            width = WidestHint(button, texts.samples);
        if (width > 0)
            w->setMinimumWidth(qMax(w->minimumWidth(), width));
    }
}

} // namespace bms
