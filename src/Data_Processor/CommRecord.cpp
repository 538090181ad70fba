#include "CommRecord.h"

#include "ReadRequests.h"

namespace bms {

CommRecord MY_COM;

uint8_t SlaveAddr = 0;
int32_t ReadBlock = 0;
uint8_t Sampling = 0;
int32_t SampleIntervalMs = 0;
int32_t CrcErrorCount = 0;
uint16_t LastWriteReg = 0;
uint16_t LastWriteQty = 0;
uint8_t ParamType = 0;
uint8_t ZeroCurrentCal = 0;
uint8_t ParallelAddr = 0;
uint8_t NotBsi = 0;
uint8_t EraseDevPending = 0;
uint8_t DevFirmwareMode = 0;
uint32_t RecordIndex = 0;

uint8_t UpgradeActive = 0;
uint8_t AwaitingCheck = 0;
uint8_t PortOpen = 0;
uint8_t DataLogging = 0;
uint8_t UidWorkbookOpen = 0;
uint8_t CalWorkbookOpen = 0;

bool MainBoardFramingInForce()
{
    return DevFirmwareMode == 0 && (UpgradeActive == 1 || AwaitingCheck == 1);
}

void ResetProtocolState()
{
    MY_COM = CommRecord{};
    ReadRequests.clear();
    SlaveAddr = 0;
    ReadBlock = 0;
    Sampling = 0;
    SampleIntervalMs = 0;
    CrcErrorCount = 0;
    LastWriteReg = 0;
    LastWriteQty = 0;
    ParamType = 0;
    ZeroCurrentCal = 0;
    ParallelAddr = 0;
    NotBsi = 0;
    EraseDevPending = 0;
    DevFirmwareMode = 0;
    RecordIndex = 0;
    UpgradeActive = 0;
    AwaitingCheck = 0;
    PortOpen = 0;
    DataLogging = 0;
    UidWorkbookOpen = 0;
    CalWorkbookOpen = 0;
}

} // namespace bms
