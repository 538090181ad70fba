#include "PackTable.h"

namespace bms {

std::array<PackRecord, 17> PackTable{};
BsiRecordT BsiRecord{};
std::array<uint8_t, 8> DeviceClock{};
uint8_t ProtocolType = 0;

void ResetPackTable()
{
    PackTable = {};
    BsiRecord = BsiRecordT{};
    DeviceClock = {};
    ProtocolType = 0;
}

} // namespace bms
