#include "Stores.h"

#include "FileWrite.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <sys/file.h>
#include <unistd.h>

namespace bms::station {

QString DataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/quorlex-bms");
}

QString DefaultResultsFolder()
{
    return DataFolder() + QStringLiteral("/results");
}

namespace {

// The state of one key: the next new number, the numbers released, and the
// numbers held by live runs with their run ids.
struct SequenceState {
    qint64 next = 1;
    std::set<qint64> free;
    std::map<qint64, QString> held;
};

// Text form, one line each: "next N", "free N", "held N RUNID".
SequenceState Parse(const QByteArray& text)
{
    SequenceState s;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> w = line.trimmed().split(' ');
        if (w.size() >= 2 && w[0] == "next")
            s.next = std::max<qint64>(1, w[1].toLongLong());
        else if (w.size() >= 2 && w[0] == "free")
            s.free.insert(w[1].toLongLong());
        else if (w.size() >= 3 && w[0] == "held")
            s.held[w[1].toLongLong()] = QString::fromLatin1(w[2]);
    }
    return s;
}

QByteArray Format(const SequenceState& s)
{
    QByteArray out = "next " + QByteArray::number(s.next) + '\n';
    for (qint64 n : s.free)
        out += "free " + QByteArray::number(n) + '\n';
    for (const auto& [n, run] : s.held)
        out += "held " + QByteArray::number(n) + ' ' + run.toLatin1() + '\n';
    return out;
}

// Runs `change` on the state of `key` while holding the folder's lock and
// writes the state back when it returns true.
bool Change(const QString& folder, const QString& key, QString& error, const std::function<bool(SequenceState&)>& change)
{
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    const QString lockPath = folder + QStringLiteral("/.lock");
    const int lock = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        error = QStringLiteral("cannot lock %1").arg(lockPath);
        if (lock >= 0)
            ::close(lock);
        return false;
    }
    // Keys are the template's text: letters, digits and punctuation; the
    // file name keeps the safe ones and encodes the rest.
    QString name;
    for (QChar c : key)
        name += c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')
                    ? QString(c)
                    : QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".seq");
    QFile file(path);
    SequenceState state;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1").arg(path);
            ::close(lock);
            return false;
        }
        state = Parse(file.read(16 << 20));
        file.close();
    }
    bool ok = change(state);
    if (ok)
        ok = WriteFileAtomically(path, Format(state), error);
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return ok;
}

} // namespace

std::optional<qint64> FileSerialSequence::reserve(const QString& key, const QString& runId, QString& error)
{
    std::optional<qint64> number;
    Change(folder_, key, error, [&](SequenceState& s) {
        if (!s.free.empty()) {
            number = *s.free.begin();
            s.free.erase(s.free.begin());
        } else {
            number = s.next++;
        }
        s.held[*number] = runId;
        return true;
    });
    return number;
}

bool FileSerialSequence::commit(const QString& key, qint64 number, const QString& runId, QString& error)
{
    return Change(folder_, key, error, [&](SequenceState& s) {
        const auto it = s.held.find(number);
        if (it == s.held.end() || it->second != runId) {
            error = QStringLiteral("the number %1 of %2 is not held by this run").arg(number).arg(key);
            return false;
        }
        s.held.erase(it);
        return true;
    });
}

bool FileSerialSequence::release(const QString& key, qint64 number, const QString& runId, QString& error)
{
    return Change(folder_, key, error, [&](SequenceState& s) {
        const auto it = s.held.find(number);
        if (it == s.held.end() || it->second != runId) {
            error = QStringLiteral("the number %1 of %2 is not held by this run").arg(number).arg(key);
            return false;
        }
        s.held.erase(it);
        s.free.insert(number);
        return true;
    });
}

std::optional<bool> FolderPassHistory::passedBefore(const QString& barcode, const QString& stationId, QString& error)
{
    const QDir dir(folder_);
    if (!dir.exists())
        return false;
    // Record files only (not the temporary files of a write).
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files);
    const QByteArray needle = QJsonDocument(QJsonObject{{QStringLiteral("b"), barcode}}).toJson(QJsonDocument::Compact).mid(5);
    for (const QString& name : files) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly) || file.size() > (64 << 20))
            continue;
        const QByteArray bytes = file.readAll();
        // Most records are of other packs: a cheap look for the barcode first.
        if (!bytes.contains(needle.left(needle.size() - 1)))
            continue;
        const QJsonObject record = QJsonDocument::fromJson(bytes).object();
        if (record.value(QStringLiteral("outcome")).toString() == QLatin1String("PASS")
            && record.value(QStringLiteral("station_id")).toString() == stationId
            && record.value(QStringLiteral("pack")).toObject().value(QStringLiteral("barcode")).toString() == barcode)
            return true;
    }
    (void)error;
    return false;
}

} // namespace bms::station
