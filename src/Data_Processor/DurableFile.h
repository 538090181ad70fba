// A file written whole or not at all, and durably: the bytes go to a
// temporary file beside it (QSaveFile), which commit() syncs and renames
// over the name; then the folder is synced, since a new or renamed name is
// durable only once its folder is. A crash leaves the old file or the new
// one, never half of one; a file given up before commit() leaves nothing.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace bms {

class DurableFile {
public:
    explicit DurableFile(const QString& path) : file_(path) {}

    bool open() { return file_.open(QIODevice::WriteOnly); }
    // A failure is kept and told by commit().
    void write(const QByteArray& bytes) { file_.write(bytes); }
    // False when the bytes did not all reach the disk; the old file, if
    // any, then stays as it was.
    bool commit();
    QString errorString() const { return file_.errorString(); }

private:
    QSaveFile file_;
};

// Writes `bytes` as the file `path` (as above). False with "cannot write
// PATH: reason" in `error`.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& error);

} // namespace bms
