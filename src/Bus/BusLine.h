// The line a rack's packs share: which addresses to ask, and how long the
// requests and answers take on it at its speed (10 bits a byte: start, 8
// data, stop), from which the time-outs of the bus follow.
#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace bms::bus {

// "1-16,0x20": addresses and ranges, decimal or 0x hexadecimal, 1..255, in
// the order given without repeats. Nothing, with `error` set, when the text
// is not such a list.
std::optional<std::vector<int>> ParseAddressList(const QString& text, QString& error);

// The addresses of the selector's 01..10.
std::vector<int> DefaultAddresses();

// Seconds `bytes` take on the line at `baud`.
double WireSeconds(qint64 bytes, int baud);

// How long a read waits for its answer on the bus: the request (8 bytes),
// the 3.5-character silence and the longest answer the bus asks for (the
// information block, 81 bytes) at the line's speed, and 50 ms for the pack
// to start answering and for a USB box's latency.
int BusReplyTimeoutMs(int baud);

} // namespace bms::bus
