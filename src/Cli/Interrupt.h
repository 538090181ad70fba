// Ctrl-C, SIGTERM and SIGHUP (a closed terminal) as events of the event
// loop: the signal handler only writes the signal's number to a pipe; a
// socket notifier on the other end calls the handler on the user-interface
// thread, where it may end things cleanly and write the files.
// SIGPIPE and SIGXFSZ are ignored, so that a reader that went away or a file
// size limit shows as a failed write that the program reports, rather than
// ending it on the spot with its files unwritten.
#pragma once

#include <QString>
#include <functional>

namespace bms::cli {

void InstallInterruptHandler(std::function<void(int signal)> handler);
// Puts the default signal actions back.
void RemoveInterruptHandler();

// "SIGINT", "SIGTERM", "SIGHUP".
QString SignalName(int signal);

} // namespace bms::cli
