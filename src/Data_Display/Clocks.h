// Clock texts: the status-bar clock, the "System Time: " label of the RTC
// group and the pack's own clock from the device information. Dates, times
// and short weekday names follow the system locale; digits stay 0..9.
#pragma once

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace bms {

// "yyyy-MM-dd hh:mm:ss" + " " + the system locale's short weekday name.
QString DateTimeWithWeekday(const QDateTime& when);

// "System Time: hh:mm:ss" for the fourth status-bar panel.
QString StatusBarClockText(const QTime& now);
// The status-bar clock handler: writes panel 3 with the current local time.
void tmr3Timer();

// Whole hours of a standard-time offset (seconds east of UTC), truncated
// toward zero: UTC+8 gives 8, UTC-3:30 gives -3.
int ZoneHours(int standardOffsetSeconds);
// "System Time: " + date, time and weekday + " " + zone hours.
QString SystemTimeText(const QDateTime& local, int standardOffsetSeconds);
// The same for now, with the system zone's standard-time offset (daylight
// saving is not taken into account).
QString SystemTimeTextNow();

// The date and time of the eight clock bytes (seconds, minutes, hours,
// weekday, day, month, year - 2000, zone hours), or nothing when day or month
// is 0, minutes are 60 or more, or the bytes form no valid date and time.
std::optional<QDateTime> DeviceClockDateTime(const std::array<uint8_t, 8>& clock);
// "RTC Time: " + date, time and weekday + " " + signed zone byte, or nothing.
std::optional<QString> DeviceClockText(const std::array<uint8_t, 8>& clock);

// Date-time value (days since 1899-12-30) of a count of Unix seconds.
double UnixDateToDateTime(int64_t seconds);
// Unix seconds of a date-time value, rounded to the nearest second.
int64_t DateTimeToUnixDate(double value);

} // namespace bms
