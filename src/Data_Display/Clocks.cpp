#include "Clocks.h"

#include "App.h"

#include <QLocale>
#include <QTimeZone>
#include <cmath>

namespace bms {

namespace {
constexpr double kUnixEpochDays = 25569.0; // 1970-01-01 in days since 1899-12-30
constexpr double kSecondsPerDay = 86400.0;
} // namespace

QString DateTimeWithWeekday(const QDateTime& when)
{
    // The numeric part is formatted without the locale so digits stay 0..9;
    // only the weekday name is the locale's.
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) +
           QLocale::system().dayName(when.date().dayOfWeek(), QLocale::ShortFormat);
}

QString StatusBarClockText(const QTime& now)
{
    return QStringLiteral("System Time: ") + now.toString(QStringLiteral("hh:mm:ss"));
}

void tmr3Timer()
{
    if (App.ui)
        App.ui->setPanel(3, StatusBarClockText(QTime::currentTime()));
}

int ZoneHours(int standardOffsetSeconds)
{
    // The bias in minutes (UTC = local + bias) divided by -60, truncated.
    const int biasMinutes = -standardOffsetSeconds / 60;
    return biasMinutes / -60;
}

QString SystemTimeText(const QDateTime& local, int standardOffsetSeconds)
{
    return QStringLiteral("System Time: ") + DateTimeWithWeekday(local) + QLatin1Char(' ') +
           QString::number(ZoneHours(standardOffsetSeconds));
}

QString SystemTimeTextNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    // Outside daylight-saving time the offset in force is the standard one;
    // only then is the system zone's file left unread (this runs at every
    // answer of the pack, and the zone's lookup re-reads several files).
    const int standard = now.isDaylightTime() ? QTimeZone::systemTimeZone().standardTimeOffset(now) : now.offsetFromUtc();
    return SystemTimeText(now, standard);
}

std::optional<QDateTime> DeviceClockDateTime(const std::array<uint8_t, 8>& clock)
{
    const int seconds = clock[0], minutes = clock[1], hours = clock[2];
    const int day = clock[4], month = clock[5], year = 2000 + clock[6];
    if (day == 0 || month == 0 || minutes >= 60)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hours, minutes, seconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    // Through Unix seconds and back as the date-time value: the clock is
    // taken as it stands, without any zone conversion.
    const QDateTime asUtc(date, time, Qt::UTC);
    const double value = UnixDateToDateTime(asUtc.toSecsSinceEpoch());
    return QDateTime::fromSecsSinceEpoch(DateTimeToUnixDate(value), Qt::UTC);
}

std::optional<QString> DeviceClockText(const std::array<uint8_t, 8>& clock)
{
    const auto when = DeviceClockDateTime(clock);
    if (!when)
        return std::nullopt;
    return QStringLiteral("RTC Time: ") + DateTimeWithWeekday(*when) + QLatin1Char(' ') +
           QString::number(static_cast<int8_t>(clock[7]));
}

double UnixDateToDateTime(int64_t seconds)
{
    return static_cast<double>(seconds) / kSecondsPerDay + kUnixEpochDays;
}

int64_t DateTimeToUnixDate(double value)
{
    return std::llround((value - kUnixEpochDays) * kSecondsPerDay);
}

} // namespace bms
