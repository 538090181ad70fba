// Receive assembly and response dispatch: received chunks are fed byte by
// byte into a state machine that finds frames in either framing; complete
// frames stop the reply time-out, are CRC-checked, noted in the memo and
// handed to the consumer that their code selects (see Hooks.h).
#pragma once

#include "CommRecord.h" // MainBoardFramingInForce

#include <cstdint>

namespace bms {

// The serial port's receive event: feeds every byte of the chunk.
void cm1ReceiveData(const uint8_t* buffer, uint16_t length);


void FeedByte(uint8_t b);
void FeedByteMainBoard(uint8_t b);
void DispatchResponse();
void ReportWriteSuccess();
void ReportWriteFailure();

} // namespace bms
