#include "RequestBuilder.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace bms {

std::array<uint8_t, 8> RtcFields(const QDateTime& now, int standardOffsetSeconds, const QLocale& locale)
{
    // Round to the nearest whole second, half a second going up.
    const int ms = now.time().msec();
    const QDateTime t = now.addMSecs(ms >= 500 ? 1000 - ms : -ms);

    // The pack numbers the days Monday = 1 .. Saturday = 6 and everything
    // else 0, recognised by the Chinese short day names.
    static const char16_t* const kDayNames[] = {u"周一", u"周二", u"周三", u"周四", u"周五", u"周六"};
    const QString name = locale.toString(t.date(), QStringLiteral("ddd"));
    uint8_t weekday = 0;
    for (int i = 0; i < 6; ++i)
        if (name == QString::fromUtf16(kDayNames[i]))
            weekday = static_cast<uint8_t>(i + 1);

    // Whole hours of the standard-time offset, truncated toward zero.
    const int zone = standardOffsetSeconds / 3600;

    const QDate d = t.date();
    const QTime tm = t.time();
    return {static_cast<uint8_t>(tm.second()), static_cast<uint8_t>(tm.minute()), static_cast<uint8_t>(tm.hour()),
            weekday,
            static_cast<uint8_t>(d.day()), static_cast<uint8_t>(d.month()), static_cast<uint8_t>(d.year() % 100),
            static_cast<uint8_t>(static_cast<int8_t>(zone))};
}

} // namespace bms
