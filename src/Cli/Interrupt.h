// Ctrl-C and SIGTERM as events of the event loop: the signal handler only
// writes a byte to a pipe; a socket notifier on the other end calls the
// handler on the user-interface thread, where it may end things cleanly.
#pragma once

#include <functional>

namespace bms::cli {

void InstallInterruptHandler(std::function<void()> handler);
// Puts the default signal actions back.
void RemoveInterruptHandler();

} // namespace bms::cli
