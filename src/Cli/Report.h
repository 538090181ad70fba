// Where the command line's output goes. Text mode: results on stdout,
// message boxes, errors and memo notes as lines on stderr at once. JSON mode:
// one compact object per line on stdout; message boxes, errors and notes are
// gathered and go out as the fields "messages", "errors" and "notes" of the
// next object. Trace and progress lines always go to stderr.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace bms::cli {

class Report {
public:
    explicit Report(bool json) : json_(json) {}
    bool json() const { return json_; }

    void message(const QString& text); // a message box of the window
    void error(const QString& text);   // the general error handler, or the command line's own
    void note(const QString& text);    // a memo line worth telling

    // Text mode: the lines on stdout. JSON mode: nothing.
    void lines(const QStringList& text);
    // JSON mode: `object` with what was gathered since the last one, on one
    // line. Text mode: nothing.
    void object(QJsonObject object);
    // A line on stderr whatever the mode (trace, progress, questions).
    static void diagnostic(const QString& text);

    // Message boxes seen since the last object (JSON) or ever (text).
    const QStringList& messages() const { return messages_; }
    // Message boxes, errors and notes told so far.
    int told() const { return told_; }

private:
    bool json_;
    QStringList messages_;
    QStringList errors_;
    QStringList notes_;
    int told_ = 0;
};

} // namespace bms::cli
