#include "Report.h"

#include "ProgressLine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bms::cli {

namespace {

// Writes one line; the error number of a failed write, or 0.
int Write(FILE* stream, const QString& text)
{
    EndProgressLine();
    const QByteArray bytes = text.toUtf8() + '\n';
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    const bool ok = written == static_cast<size_t>(bytes.size()) && std::fflush(stream) == 0;
    if (ok)
        return 0;
    const int error = errno ? errno : EIO;
    std::clearerr(stream);
    return error;
}

void Attach(QJsonObject& object, const char* key, QStringList& list)
{
    object.insert(QLatin1String(key), QJsonArray::fromStringList(list));
    list.clear();
}

} // namespace

QString ErrorKindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::Usage: return QStringLiteral("usage");
    case ErrorKind::Port: return QStringLiteral("port");
    case ErrorKind::Timeout: return QStringLiteral("timeout");
    case ErrorKind::Crc: return QStringLiteral("crc");
    case ErrorKind::Refused: return QStringLiteral("refused");
    case ErrorKind::Io: return QStringLiteral("io");
    case ErrorKind::Interrupted: return QStringLiteral("interrupted");
    case ErrorKind::Database: return QStringLiteral("database");
    }
    return {};
}

void Report::message(const QString& text)
{
    ++told_;
    messages_.append(text);
    lastMessage_ = text;
    if (!json_)
        Write(stderr, text);
}

void Report::error(const QString& text)
{
    ++told_;
    lastError_ = text;
    if (json_)
        errors_.append(text);
    Write(stderr, text);
}

void Report::note(const QString& text)
{
    ++told_;
    if (json_)
        notes_.append(text);
    else
        Write(stderr, text);
}

void Report::lines(const QStringList& text)
{
    if (json_)
        return;
    for (const QString& line : text)
        toStdout(line);
}

void Report::object(QJsonObject object)
{
    if (!json_)
        return;
    Attach(object, "messages", messages_);
    Attach(object, "errors", errors_);
    Attach(object, "notes", notes_);
    toStdout(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void Report::toStdout(const QString& text)
{
    if (outputFailed())
        return;
    if (const int error = Write(stdout, text)) {
        outputProblem_ = QString::fromLocal8Bit(std::strerror(error));
        if (onOutputFailed)
            onOutputFailed(outputProblem_);
    }
}

void Report::diagnostic(const QString& text)
{
    Write(stderr, text);
}

} // namespace bms::cli
