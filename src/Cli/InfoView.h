// The information block as the window's Information group, RTC, protocol,
// UID and sleep-time labels show it after "Read Info", taken from those
// controls: as JSON and as text lines.
#pragma once

#include <QJsonObject>
#include <QStringList>

namespace bms::cli {

class CliHost;

// Keys customer_code, rated_cap, barcode, mfr_name, serial_number, rtc,
// protocol_type, uid, uid_crc, sleep_multiplier, sleep_base, and the
// firmware versions of block 0 hw_version, hw_version_text, sw_version,
// sw_version_text when `versions` (block 0 was read after the information
// block; else null). A field the answer was too short for, or that was not
// read, is null; rtc is null when the clock bytes are not a date. Call
// host.forgetWrites() before the read.
QJsonObject InfoObject(const CliHost& host, bool versions = false);
QStringList InfoLines(const CliHost& host, bool versions = false);

} // namespace bms::cli
