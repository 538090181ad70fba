// The communication record and the protocol's module variables. One instance
// each lives for the whole run; every field is zero at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace bms {

// Longest frame the pack can announce: address, function, byte count,
// 255 data bytes and the CRC.
constexpr int kMaxFrame = 260;

struct CommRecord {
    std::array<uint8_t, kMaxFrame> RxBuf{};    // frame being assembled or last assembled
    std::array<uint8_t, kMaxFrame> SubRxBuf{}; // frame carried inside a code-81 response
    std::vector<uint8_t> TxBuf;                // last ordinary request, and upgrade packets
    std::vector<uint8_t> UpgTxBuf;             // boot-loader frames and upgrade payloads
    uint8_t RxState = 0;  // 1 address, 2 function, 4 count/length, 5 rest, 6 two closing bytes
    uint16_t SubRxLen = 0;
    uint16_t RxLen = 0;   // bytes stored in RxBuf
    uint16_t RxCount = 0;
    uint16_t RxNeed = 0;
    uint8_t RespFunc = 0;
};

extern CommRecord MY_COM;

// Protocol variables shared by the subsystems.
extern uint8_t SlaveAddr;
extern int32_t ReadBlock;
extern uint8_t Sampling;
extern int32_t SampleIntervalMs;
extern int32_t CrcErrorCount;
extern uint16_t LastWriteReg;
extern uint16_t LastWriteQty;
extern uint8_t ParamType;
extern uint8_t ZeroCurrentCal;
extern uint8_t ParallelAddr;
extern uint8_t NotBsi;
extern uint8_t EraseDevPending;
extern uint8_t DevFirmwareMode;
extern uint32_t RecordIndex;

// Flags of the upgrade run, the link and the workbooks.
extern uint8_t UpgradeActive;
extern uint8_t AwaitingCheck;
extern uint8_t PortOpen;
extern uint8_t DataLogging;
extern uint8_t UidWorkbookOpen;
extern uint8_t CalWorkbookOpen;

// True while received bytes are framed as main-board boot-loader frames.
bool MainBoardFramingInForce();

// Puts the record and every variable back to its start-up value (tests use it).
void ResetProtocolState();

} // namespace bms
