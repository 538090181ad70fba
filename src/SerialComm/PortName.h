// Port names: how a name typed or picked by the operator is stored in
// CommName, and which device file a stored name opens on Linux.
//
// Stored form (NormaliseCommName): a name starting with "/" is a path and is
// stored as is; a name containing the device-namespace prefix "\\.\" anywhere
// is stored as is; any other name loses every ":" and gets "\\.\" in front
// (COM3: -> \\.\COM3, ttyUSB0 -> \\.\ttyUSB0).
//
// Device path (CommDevicePath), from the stored form:
//   - a leading "\\.\" is dropped;
//   - a path starting with "/" is used as is (/dev/ttyUSB0, a virtual pack's
//     link in the runtime folder);
//   - COMn (n >= 1, any case) is the n-th legacy serial port /dev/ttyS(n-1);
//   - any other non-empty name is a device under /dev (ttyUSB0 -> /dev/ttyUSB0);
//   - an empty name gives an empty path, which does not open.
#pragma once

#include <QString>

namespace bms {

// The value CommName stores when set to `value` (see above).
QString NormaliseCommName(const QString& value);

// The device file a stored CommName opens.
QString CommDevicePath(const QString& commName);

// The port a name given to a command names: a path as it is; the name of a
// running virtual pack ("demo" or "virtual-pack-demo") as its link in the
// runtime port folder (RuntimePortDir); anything else as it is, for the
// port box (ttyUSB0, COM3).
QString ResolvePortName(const QString& name);

} // namespace bms
