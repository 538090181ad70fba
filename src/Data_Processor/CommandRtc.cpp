#include "RequestBuilder.h"

#include <QDateTime>
#include <QString>

namespace bms {

std::array<uint8_t, 8> RtcFields(const QDateTime& now, int standardOffsetSeconds)
{
    // Round to the nearest whole second, half a second going up.
    const int ms = now.time().msec();
    const QDateTime t = now.addMSecs(ms >= 500 ? 1000 - ms : -ms);

    // The pack numbers the days Sunday = 0, Monday = 1 .. Saturday = 6, the
    // weekday of the date itself whatever the language of the computer.
    const auto weekday = static_cast<uint8_t>(t.date().dayOfWeek() % 7);

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
