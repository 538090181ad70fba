// A main-board run that fails once the board has entered its boot loader
// leaves the board there, erased or half-written: it answers no ordinary
// request until an upgrade runs to its end. The run leaves a note of that
// for its port in the runtime folder of the ports, so that the window and a
// later command (`info` of the command line) know it too; a time-out on that
// port then says that the pack waits in its boot loader rather than only
// "communication timeout!". A completed upgrade or any answer of the pack's
// own firmware on that port removes the note.
#pragma once

#include <QString>

namespace bms {

// The memo line (without its time) telling the operator what to do.
QString BootLoaderWaitText();

// The port of the port box, whose notes these are.
QString PortBoxName();

void LeaveBootLoaderNote(const QString& port);
void RemoveBootLoaderNote(const QString& port);
bool BootLoaderNoteLeft(const QString& port);

// After a reply time-out's "communication timeout!" line: when the port of
// the port box has a note, a memo line says that the pack waits in its boot
// loader and the upgrade is to be run again (at most one such line in 10 s).
void NoteBootLoaderWaitOnTimeout();

} // namespace bms
