// A line's meter as the reference of a calibration: `/bin/sh -c COMMAND`
// run in a process group of its own, its standard output (at most 64 KiB)
// the reading. Whatever it started goes with it: when the object goes (the
// step ended, timed out or was aborted) every process of the group still
// there is ended, SIGTERM first and SIGKILL for what is left a moment later.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <functional>

namespace bms::station {

class ReferenceCommand {
public:
    static constexpr qint64 kMaxOutput = 64 * 1024;

    // `done` runs once, from the event loop: the output, or why there is
    // none (it did not start, ended with a status, wrote too much).
    using Done = std::function<void(bool ok, const QString& outputOrWhy)>;
    ReferenceCommand(const QString& command, Done done);
    ~ReferenceCommand();
    ReferenceCommand(const ReferenceCommand&) = delete;
    ReferenceCommand& operator=(const ReferenceCommand&) = delete;

private:
    void read();
    void end(bool ok, const QString& outputOrWhy);
    void endGroup();

    QObject context_;
    QProcess process_;
    Done done_;
    QByteArray output_;
    qint64 group_ = 0;
};

} // namespace bms::station
