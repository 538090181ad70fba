// The tool's own folders, from the XDG base directories (QStandardPaths):
//   data      $XDG_DATA_HOME/quorlex-bms, else ~/.local/share/quorlex-bms
//             (the records database, the results of station runs, workbooks)
//   settings  $XDG_CONFIG_HOME/quorlex-bms, else ~/.config/quorlex-bms
// (The folder where virtual packs publish their ports is RuntimePortDir.)
#pragma once

#include <QString>

namespace bms {

QString DataFolder();
QString SettingsFolder();

} // namespace bms
