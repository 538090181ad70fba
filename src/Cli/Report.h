// Where the command line's output goes. Text mode: results on stdout,
// message boxes, errors and memo notes as lines on stderr at once. JSON mode:
// one compact object per line on stdout; message boxes, errors and notes are
// gathered and go out as the fields "messages", "errors" and "notes" of the
// next object (always present, empty when there was nothing); errors also go
// to stderr. Trace and progress lines always go to stderr.
//
// A write to stdout that fails (a full disk, a closed pipe) is remembered:
// nothing more is written there, and onOutputFailed is told once.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace bms::cli {

// How a command failed: the "kind" of the JSON error object.
enum class ErrorKind {
    Usage,       // bad usage or bad input; nothing sent
    Port,        // the port could not be opened
    Timeout,     // the pack did not answer in time
    Crc,         // an answer failed its CRC check
    Refused,     // the pack refused a request, or did not take a value
    Io,          // stdout or a log file could not be written
    Interrupted, // a signal ended the command
    Database,    // a records database could not be used
};

// "usage", "port", "timeout", "crc", "refused", "io", "interrupted",
// "database".
QString ErrorKindName(ErrorKind kind);

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
    // The last error and the last message box told (empty when none).
    const QString& lastError() const { return lastError_; }
    const QString& lastMessage() const { return lastMessage_; }

    // Why a write to stdout failed; empty while every write has arrived.
    const QString& outputProblem() const { return outputProblem_; }
    bool outputFailed() const { return !outputProblem_.isEmpty(); }
    std::function<void(const QString& problem)> onOutputFailed;

private:
    void toStdout(const QString& text);

    bool json_;
    QStringList messages_;
    QStringList errors_;
    QStringList notes_;
    QString lastError_;
    QString lastMessage_;
    QString outputProblem_;
    int told_ = 0;
};

} // namespace bms::cli
