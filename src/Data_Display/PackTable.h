// The decoded state of the pack: PackTable (entry 0 the addressed pack,
// entries 1..16 members of a parallel system) and BsiRecord (the
// parallel-system block). Every field starts at zero and keeps its last
// received value.
#pragma once

#include <array>
#include <cstdint>

namespace bms {

class BlockFreshness;

struct PackRecord {
    uint8_t version_major = 0;
    uint8_t version_minor = 0;
    uint16_t sw_version = 0;
    uint16_t hw_version = 0;
    uint16_t reg_000D = 0; // max charge voltage, 100 mV
    uint16_t reg_000E = 0; // min discharge voltage, 100 mV
    uint16_t reg_000F = 0; // max charge current, 100 mA
    uint16_t reg_0010 = 0; // max discharge current, 100 mA
    uint32_t fcc_cap = 0;
    uint32_t fdc_cap = 0;
    int32_t current = 0;
    uint16_t total_volt = 0; // 10 mV
    uint16_t rsoc = 0;       // 0.1 %
    uint32_t remain_cap = 0;
    uint16_t cycles = 0;
    int16_t temp_001C = 0; // temperatures: 0.1 K received minus 2731
    uint16_t reg_001D = 0;
    uint16_t reg_001E = 0;
    int16_t temp_001F = 0;
    int16_t temp_0020 = 0;
    uint16_t reg_0021 = 0;
    uint16_t reg_0022 = 0;
    uint16_t reg_0023 = 0;
    uint16_t reg_0024 = 0;
    int16_t temp_0025 = 0;
    uint16_t reg_0026 = 0;
    uint8_t pack_flags = 0;
    std::array<uint16_t, 4> fault_status{};
    std::array<uint16_t, 4> bms_status{};
    uint16_t reg_0200 = 0;
    uint16_t reg_0201 = 0;
    uint16_t reg_0202 = 0;
    uint16_t soh = 0;
    uint8_t temp_b_count = 0;
    uint8_t temp_a_count = 0;
    uint16_t cell_count = 0;
    std::array<uint16_t, 16> cell_volt{};
    std::array<int16_t, 16> temp_a{};
    std::array<int16_t, 16> temp_b{};
    std::array<uint8_t, 12> member_info{};
};

struct BsiRecordT {
    uint8_t uid_num = 0;
    std::array<uint8_t, 2> sys_state{};
    std::array<uint8_t, 4> error_state{};
    uint16_t online_tag = 0;
    uint16_t pre_sp_tag = 0;
    uint16_t diff_volt_normal = 0;
    uint16_t done_sp_tag = 0;
    uint8_t cp_bat_num = 0;
    uint8_t cascad_bat_num = 0;
    uint8_t parallel_bat_num = 0; // no response fills it
    uint8_t cp_bat_num_set = 0;
    uint8_t cascad_bat_num_set = 0;
    uint8_t sys_work_state = 0;
    uint16_t pre_chg_time = 0; // no response fills it
    uint16_t pre_dsg_time = 0; // no response fills it
    uint8_t bat_online_num = 0;
    uint32_t heater_abnormal = 0;
    uint16_t heater_request_open = 0;
    uint16_t dmos_on_max_volt = 0; // 10 mV
    uint16_t status0 = 0;
    uint8_t bsi_protocol_type = 0; // no response fills it
    uint16_t chg_mos_ctrl = 0;
    uint16_t dsg_mos_ctrl = 0;
    uint16_t heat_mos_ctrl = 0;
    std::array<uint16_t, 16> member_words{};
};

extern std::array<PackRecord, 17> PackTable;
extern BsiRecordT BsiRecord;

// Kept from the last device-information read.
extern std::array<uint8_t, 8> DeviceClock;
extern uint8_t ProtocolType;

// Decodes the function-4 frame in MY_COM.RxBuf for the block in ReadBlock
// (8: device information, then its message) and advances ReadBlock.
void DecodeTelemetry();
// Stores the fields of the function-4 frame in MY_COM.RxBuf as `block`
// (8: device information) and leaves ReadBlock alone.
void DecodeTelemetryBlock(int32_t block);
// "Get the information completely!" after an information read, unless the
// read follows an identity write that refreshes the panel quietly (barcode,
// clock, protocol type, sleep time) or the calibration workbook is open.
// Shown last, once the rotation has moved on and the displays are refreshed:
// polling goes on while the box is open.
void ShowInformationReadMessage();
void DecodeDeviceInfo();
// The controls DecodeDeviceInfo fills, with their texts at program start;
// "Save UID" disabled.
void ShowNoDeviceInfo();

// Writes the fixed captions of both grids.
void SetupGridLabels();
// Refreshes grids and labels from PackTable entry 0 and BsiRecord. With
// `freshness`, the grid values its blocks do not count as fresh are grey and
// every value gets its tooltip in engineering units.
void ShowTelemetry(const BlockFreshness* freshness = nullptr);
// Only the grey and the tooltips of the grid values (a read was refused or
// went unanswered).
void ShowGridStates(const BlockFreshness& freshness);
void ShowAlarmBits();
void ShowProtectionBits();
void ShowParallelProgress();

// Puts PackTable, BsiRecord, DeviceClock and ProtocolType back to zero.
void ResetPackTable();

// Another pack may be on the line (a port was opened): everything decoded
// from the last one is forgotten (ResetPackTable) and its displays are as at
// program start: empty grid values, an empty Information group, the start
// texts of the state labels, lime squares.
void ShowNoPack();

} // namespace bms
