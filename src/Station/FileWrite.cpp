#include "FileWrite.h"

#include "FileSync.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace bms::station {

namespace {

QString Why(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& error)
{
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                                              + QStringLiteral(".%1.tmp").arg(::getpid()));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Why(QStringLiteral("cannot create"), QString::fromLocal8Bit(temp));
        return false;
    }
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (!written)
        error = Why(QStringLiteral("cannot write"), QString::fromLocal8Bit(temp));
    if (::close(fd) != 0 && written) {
        error = Why(QStringLiteral("cannot write"), QString::fromLocal8Bit(temp));
        ::unlink(temp.constData());
        return false;
    }
    if (!written) {
        ::unlink(temp.constData());
        return false;
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        error = Why(QStringLiteral("cannot rename to"), path);
        ::unlink(temp.constData());
        return false;
    }
    // The new name is durable once its folder is synced.
    SyncFolderOf(path);
    return true;
}

} // namespace bms::station
