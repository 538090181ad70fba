#include "Report.h"

#include "ProgressLine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace bms::cli {

namespace {

void Write(FILE* stream, const QString& text)
{
    EndProgressLine();
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void Attach(QJsonObject& object, const char* key, QStringList& list)
{
    if (!list.isEmpty())
        object.insert(QLatin1String(key), QJsonArray::fromStringList(list));
    list.clear();
}

} // namespace

void Report::message(const QString& text)
{
    ++told_;
    messages_.append(text);
    if (!json_)
        Write(stderr, text);
}

void Report::error(const QString& text)
{
    ++told_;
    if (json_)
        errors_.append(text);
    else
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
        Write(stdout, line);
}

void Report::object(QJsonObject object)
{
    if (!json_)
        return;
    Attach(object, "messages", messages_);
    Attach(object, "errors", errors_);
    Attach(object, "notes", notes_);
    Write(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void Report::diagnostic(const QString& text)
{
    Write(stderr, text);
}

} // namespace bms::cli
