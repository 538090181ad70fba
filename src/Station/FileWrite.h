// Writing a file whole or not at all: the bytes go to a temporary file
// beside it, are synced, and the temporary file is renamed over the name,
// whose folder is then synced. A crash leaves the old file or the new one,
// never half of one.
#pragma once

#include <QByteArray>
#include <QString>

namespace bms::station {

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& error);

} // namespace bms::station
