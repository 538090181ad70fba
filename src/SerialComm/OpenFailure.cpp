#include "OpenFailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bms {

namespace {

bool ProcessHasGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    return false;
}

bool DatabaseListsUser(const group& entry)
{
    const passwd* user = getpwuid(getuid());
    if (!user)
        return false;
    if (user->pw_gid == entry.gr_gid)
        return true;
    for (char** member = entry.gr_mem; member && *member; ++member)
        if (std::strcmp(*member, user->pw_name) == 0)
            return true;
    return false;
}

// A process of this user (or any process, for root) with the device open:
// /proc/<pid>/fd of other users' processes cannot be read.
QString FindHolder(const QString& device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QString self = QString::number(getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        if (pid == self || pid.toInt() <= 0)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() != target)
                continue;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                                                : QStringLiteral("?");
            return QStringLiteral("%1, process %2").arg(name, pid);
        }
    }
    return {};
}

} // namespace

OpenFailureFacts GatherOpenFailureFacts(const QString& device, int cause)
{
    OpenFailureFacts facts;
    facts.device = device;
    facts.cause = cause;
    struct stat info {};
    if (!device.isEmpty() && ::stat(QFile::encodeName(device).constData(), &info) == 0) {
        if (const group* entry = getgrgid(info.st_gid)) {
            facts.group = QString::fromLocal8Bit(entry->gr_name);
            facts.memberListed = DatabaseListsUser(*entry);
        }
        facts.memberInSession = ProcessHasGroup(info.st_gid);
    }
    if (cause == EBUSY)
        facts.holder = FindHolder(device);
    return facts;
}

QString OpenFailureNote(const OpenFailureFacts& f)
{
    const QString head = QStringLiteral("Note: %1 ").arg(f.device);
    switch (f.cause) {
    case 0:
        return {};
    case EACCES:
    case EPERM:
        if (f.group.isEmpty() || f.group == QLatin1String("root"))
            return head + QStringLiteral("may not be opened by this user (permission denied).");
        if (f.memberListed && !f.memberInSession)
            return head + QStringLiteral("belongs to group %1, which you joined after logging in: "
                                         "log out and in again to use it.")
                              .arg(f.group);
        return head + QStringLiteral("may only be opened by members of group %1 (permission denied). "
                                     "Join it with \"sudo usermod -aG %1 $USER\", then log out and in again.")
                          .arg(f.group);
    case EBUSY:
        if (f.holder.isEmpty())
            return head + QStringLiteral("is in use by another program; close the port there first.");
        return head + QStringLiteral("is in use by another program (%1); close the port there first.").arg(f.holder);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return head + QStringLiteral("does not exist: is the communication box plugged in?");
    default:
        return head + QStringLiteral("cannot be opened: %1.").arg(QString::fromLocal8Bit(std::strerror(f.cause)));
    }
}

} // namespace bms
