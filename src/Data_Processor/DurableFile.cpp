#include "DurableFile.h"

#include "FileSync.h"

namespace bms {

bool DurableFile::commit()
{
    if (!file_.commit())
        return false;
    // Some file systems cannot sync a folder: durability lost, not the write.
    (void)SyncFolderOf(file_.fileName());
    return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& error)
{
    DurableFile file(path);
    if (file.open()) {
        file.write(bytes);
        if (file.commit())
            return true;
    }
    error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace bms
