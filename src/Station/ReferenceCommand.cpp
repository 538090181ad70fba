#include "ReferenceCommand.h"

#include <QDeadlineTimer>
#include <QThread>
#include <csignal>
#include <unistd.h>
#include <utility>

namespace bms::station {

namespace {

// What a group is given between SIGTERM and SIGKILL.
constexpr int kGraceMs = 300;

} // namespace

ReferenceCommand::ReferenceCommand(const QString& command, Done done) : done_(std::move(done))
{
    // Its own group, so that everything the shell starts can be ended with it.
    process_.setChildProcessModifier([] { ::setpgid(0, 0); });
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &context_, [this] { read(); });
    QObject::connect(&process_, &QProcess::finished, &context_, [this](int code, QProcess::ExitStatus status) {
        read();
        if (status != QProcess::NormalExit || code != 0)
            return end(false, QStringLiteral("the reference command ended with status %1").arg(code));
        end(true, QString::fromLocal8Bit(output_));
    });
    QObject::connect(&process_, &QProcess::errorOccurred, &context_, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            end(false, QStringLiteral("the reference command could not be started"));
    });
    process_.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    group_ = process_.processId();
    // Also from this side: the group is there whichever process gets first.
    if (group_ > 0)
        ::setpgid(static_cast<pid_t>(group_), static_cast<pid_t>(group_));
}

ReferenceCommand::~ReferenceCommand()
{
    done_ = nullptr;
    endGroup();
}

void ReferenceCommand::read()
{
    if (!done_)
        return;
    output_ += process_.readAllStandardOutput();
    if (output_.size() > kMaxOutput) {
        // Nothing more is read; the group ends with this object, once the
        // step has ended on the error.
        process_.closeReadChannel(QProcess::StandardOutput);
        output_.clear();
        end(false, QStringLiteral("the reference command wrote more than %1 KiB").arg(kMaxOutput / 1024));
    }
}

void ReferenceCommand::end(bool ok, const QString& outputOrWhy)
{
    if (const Done done = std::exchange(done_, nullptr))
        done(ok, outputOrWhy);
}

void ReferenceCommand::endGroup()
{
    if (group_ <= 0)
        return;
    const pid_t group = static_cast<pid_t>(group_);
    // Nothing left of the group: nothing to end (the usual case, a command
    // that printed its number and ended).
    if (process_.state() == QProcess::NotRunning && ::kill(-group, 0) != 0) {
        group_ = 0;
        return;
    }
    ::kill(-group, SIGTERM);
    if (process_.state() != QProcess::NotRunning)
        process_.waitForFinished(kGraceMs);
    const QDeadlineTimer grace(kGraceMs);
    while (::kill(-group, 0) == 0 && !grace.hasExpired())
        QThread::msleep(10);
    ::kill(-group, SIGKILL);
    if (process_.state() != QProcess::NotRunning)
        process_.waitForFinished(1000);
    group_ = 0;
}

} // namespace bms::station
