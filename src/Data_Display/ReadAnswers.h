// What the tool does with the outcome of a read: an answer is matched to the
// request it answers (ReadRequests.h) and decoded as that request's block, a
// refusal is reported and moves the rotation on, an answer that cannot be
// matched is dropped with a memo line, and a read that is never answered is
// reported by the time-out. Every outcome also goes to Hooks.readOutcome, and
// every decoded block to Hooks.blockAnswered.
//
// The rotation (ReadBlock) moves on only for the block it currently asks for;
// a late answer to an earlier block stores its values and leaves it alone.
#pragma once

namespace bms {

// The function-4 answer in MY_COM.RxBuf. The block it was decoded as (0..7,
// 8 the information read; the caller then refreshes the displays, logs a row
// and, for 8, shows ShowInformationReadMessage), or -1 when it was dropped.
int TakeReadAnswer();

// The exception answer (function 0x84) in MY_COM.RxBuf: a memo line names the
// refused register, its block and the exception code; the rotation moves on
// as if the block had been read (after the information read: to block 0).
void TakeReadRefusal();

// The reply time-out fired: reports the newest read if it is unanswered, and
// an information read still outstanding (ReadBlock 8) restarts the rotation
// at block 0, so that polling goes on.
void ReadTimedOut();

} // namespace bms
