#include "FileSync.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace bms {

std::function<void(const QString& folder)> FolderSynced;

namespace {

bool SyncPath(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

bool SyncFolderOf(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!SyncPath(folder, O_RDONLY | O_DIRECTORY))
        return false;
    if (FolderSynced)
        FolderSynced(folder);
    return true;
}

bool SyncFile(const QString& path) { return SyncPath(path, O_RDONLY); }

QString SystemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool RemoveDurably(const QString& path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return false;
    (void)SyncFolderOf(path);
    return true;
}

} // namespace bms
