// Why a serial port did not open, in words an operator can act on.
//
// The port component reports every failed open as "Error opening serial
// port" and carries the device path and the errno value (ECommsError). The
// window adds one memo line from these:
//   - EACCES: the device's group (usually dialout) and how to join it, or,
//     when the user has joined it since logging in, that a new login is due;
//   - EBUSY: another program holds the port, named when it can be found;
//   - ENOENT: no such device: is the box plugged in?
//   - anything else: the system's own text.
#pragma once

#include <QString>

namespace bms {

// What is known about a failed open; GatherOpenFailureFacts fills it from the
// system, tests fill it by hand.
struct OpenFailureFacts {
    QString device;          // the device file that was tried
    int cause = 0;           // errno of the open, 0 when nothing was tried
    QString group;           // the device's group, empty when unknown
    bool memberListed = false;   // the group database lists the user in `group`
    bool memberInSession = false; // this process already has `group`
    QString holder;          // "name, process N" of a program holding it, or empty
};

// Looks up the device's group, the user's membership and (for EBUSY) a
// process of this user that has the device open.
OpenFailureFacts GatherOpenFailureFacts(const QString& device, int cause);

// The memo line for the facts, without a time stamp; empty when there is
// nothing to add to the message box.
QString OpenFailureNote(const OpenFailureFacts& facts);

} // namespace bms
