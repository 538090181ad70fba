// Every request the tool sends is built here from a one-byte command number:
// the builder reads the input boxes it needs through the UI interface, checks
// them, frames the request, queues it on the serial port and arms the reply
// time-out.
#pragma once

#include <array>
#include <cstdint>

class QDateTime;

namespace bms {

// Command numbers.
enum Command : uint8_t {
    cmd_read_block = 4,
    cmd_cal_voltage = 16,
    cmd_cal_current = 17,
    cmd_set_barcode = 19,
    cmd_set_rated_capacity = 20,
    cmd_read_info = 23,
    cmd_set_pack_id = 27,
    cmd_set_param = 28,
    cmd_enter_boot = 48,
    cmd_write_fw_info = 55,
    cmd_set_remain_capacity = 57,
    cmd_write_fw_size = 58,
    cmd_set_upload_interval = 82,
    cmd_set_rtc = 83,
    cmd_set_function_module = 84, // no frame: builds and sends nothing
    cmd_set_series_parallel = 86,
    cmd_set_protocol_type = 88,
    cmd_set_sleep_time = 89,
    cmd_set_customer_code = 217,
    cmd_set_edit3_word = 219,
    cmd_erase_dev_firmware = 220,
};

// Builds and sends the request for `command`. Refused input shows its message
// box and sends nothing; a box that is not a number raises EConvertError.
void BuildRequest(uint8_t command);

// An upgrade packet is the payload plus 9 bytes of header and CRC, and may
// not exceed 255 bytes in all.
constexpr int kUpgradePacketOverhead = 9;
constexpr int kMaxUpgradePacket = 255;

// Builds an upgrade packet (function 16 to `reg` carrying `payload`) in
// MY_COM.TxBuf, records LastWriteReg/LastWriteQty and writes it to the port.
// The reply time-out is not armed. A payload longer than 246 bytes raises
// bms::Error and nothing is recorded or sent.
void SendUpgradePacket(uint16_t reg, const uint8_t* payload, uint8_t length);

// The eight data bytes of the clock-setting request for the local time `now`:
// second, minute, hour, weekday, day, month, year % 100, zone. `now` is
// rounded to the nearest whole second; the zone is the standard-time offset
// (daylight saving not applied) in whole hours, truncated toward zero; the
// weekday is that of the date, Sunday 0 .. Saturday 6.
std::array<uint8_t, 8> RtcFields(const QDateTime& now, int standardOffsetSeconds);

} // namespace bms
