#include "RegularFile.h"

#include "FileSync.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bms {

namespace {

// What a path names when it is not a regular file, for the refusal.
QString NotARegularFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a named pipe (FIFO), not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a file");
    return QStringLiteral("it is not a regular file");
}

} // namespace

int OpenRegularFile(const QString& path, QString& error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(name.constData(), &status) != 0) {
        error = SystemError();
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        error = NotARegularFile(status.st_mode);
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError();
        return -1;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = NotARegularFile(status.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace bms
