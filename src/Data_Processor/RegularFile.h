// Opening a file that comes from outside (a firmware image, a journal, a
// data log) for reading. Only a regular file is opened, or a symbolic link
// to one: a named pipe would block the open until a writer comes (and the
// thread with it), a device can be endless (/dev/zero) or act when opened (a
// serial line raises its control lines). They are refused from their status
// without being opened, and the open itself never waits (O_NONBLOCK), so a
// path swapped for a pipe in between is refused from the opened file's
// status instead.
#pragma once

#include <QString>

namespace bms {

// The open descriptor (O_RDONLY, close-on-exec), or -1 with the reason in
// `error` ("it is a named pipe (FIFO), not a file", or the system's).
int OpenRegularFile(const QString& path, QString& error);

} // namespace bms
