// The serial ports the port box offers, as full device paths that TComm's
// CommName takes as they are:
//   - every terminal the kernel lists in /sys/class/tty that belongs to a
//     device (has a "device" link): /dev/ttyUSB0, /dev/ttyACM0, /dev/ttyS0...
//     A legacy ttyS entry whose "type" attribute is 0 (no UART behind the
//     placeholder) is left out;
//   - every link a running virtual pack has published in the runtime folder
//     (RuntimePorts.h) whose target exists; dangling links are left out.
// The list is sorted in case-insensitive text order, so /dev/ttyS10 comes
// before /dev/ttyS3.
#pragma once

#include "RuntimePorts.h"

#include <QString>
#include <QStringList>

namespace bms {

// Where the ports are looked for; tests point these at fake folders.
struct PortListSources {
    QString sysfsTtyDir = QStringLiteral("/sys/class/tty");
    QString devDir = QStringLiteral("/dev");
    QString runtimeDir = QString::fromStdString(RuntimePortDir());
};

// The sorted port paths; empty when none can be found or read.
QStringList ListSerialPorts(const PortListSources& sources = {});

// Replaces the items of `target` by the sorted port paths and returns true;
// leaves `target` untouched and returns false when neither the system's
// terminal list nor the runtime folder can be read. Callers select the last
// item afterwards.
bool FillPortList(QStringList& target, const PortListSources& sources = {});

} // namespace bms
