#include "DataFolders.h"

#include <QStandardPaths>

namespace bms {

QString DataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/quorlex-bms");
}

QString SettingsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/quorlex-bms");
}

} // namespace bms
