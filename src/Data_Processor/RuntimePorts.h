// Where running virtual packs publish their pseudo-terminals: one symbolic
// link per pack in a per-user runtime folder, named after the pack. The port
// list shows these links beside the serial devices of the system.
#pragma once

#include <string>

namespace bms {

// $XDG_RUNTIME_DIR/quorlex-bms, or /tmp/quorlex-bms-<uid> without it.
std::string RuntimePortDir();

} // namespace bms
