#include "RecordImport.h"

#include "FileSync.h"
#include "Record.h"
#include "RecordStore.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace bms::records {

namespace {

QString KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("not a regular file");
}

} // namespace

QString NotARegularFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat link {};
    if (::lstat(name.constData(), &link) != 0)
        return SystemError();
    const bool symlink = S_ISLNK(link.st_mode);
    struct stat target {};
    if (::stat(name.constData(), &target) != 0) {
        if (symlink && errno == ELOOP)
            return QStringLiteral("a symbolic link loop");
        if (symlink && errno == ENOENT)
            return QStringLiteral("a symbolic link to nothing");
        return SystemError();
    }
    if (S_ISREG(target.st_mode))
        return {};
    return symlink ? QStringLiteral("a symbolic link to ") + KindOf(target.st_mode) : KindOf(target.st_mode);
}

std::optional<ImportCounts> ImportFolder(RecordStore& store, const QString& folder,
                                         const std::function<void(ImportProblem, const QString&)>& tell, QString& error)
{
    const QDir dir(folder);
    ImportCounts counts;
    // System: FIFOs, sockets, devices and dangling links are listed too.
    const QStringList names = dir.entryList({QStringLiteral("*.json")},
                                            QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        if (const QString why = NotARegularFile(path); !why.isEmpty()) {
            tell(ImportProblem::Skipped, QStringLiteral("%1: skipped: %2").arg(path, why));
            ++counts.skipped;
            continue;
        }
        QString problem;
        const std::optional<QJsonObject> record = ReadRecordFile(path, problem);
        std::optional<RunRows> rows;
        if (record) {
            rows = SplitRecord(*record, problem);
            if (!rows)
                problem = path + QStringLiteral(": ") + problem;
        }
        if (!rows) {
            // A file that is not a record is refused on its own.
            tell(ImportProblem::Refused, problem);
            ++counts.refused;
            continue;
        }
        bool added = false;
        if (!store.store(*rows, added, error))
            return std::nullopt;
        if (added) {
            ++counts.imported;
            continue;
        }
        const std::optional<bool> same = store.sameAsStored(*rows, error);
        if (!same)
            return std::nullopt;
        if (*same) {
            ++counts.alreadyKept;
        } else {
            tell(ImportProblem::Conflict,
                 QStringLiteral("%1: run %2 is kept already with other content; this file was not imported").arg(path, rows->runId));
            ++counts.conflicts;
        }
    }
    return counts;
}

} // namespace bms::records
