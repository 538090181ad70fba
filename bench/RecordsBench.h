// Shared by the records benchmarks: a folder to work in, a throw-away
// PostgreSQL cluster (scripts/pg-test-cluster) when no URL is given, and
// elapsed time.
#pragma once

#include "Database.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace bms::bench {

inline double Ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// CPU time of this process so far, in ms.
inline double ProcessCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// CPU time of a local PostgreSQL server so far, in ms: its postmaster, its
// live processes and those that have ended. `url` names the server by its
// socket folder (host=DIR), whose data/postmaster.pid gives the postmaster;
// -1 for any other server.
inline double ServerCpuMs(const QString& url)
{
    const qsizetype at = url.indexOf(QLatin1String("host="));
    if (at < 0)
        return -1;
    QFile pidFile(url.mid(at + 5).section(QLatin1Char('&'), 0, 0) + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray postmaster = pidFile.readLine().trimmed();
    const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    double ms = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // After the name: state, ppid, ... utime (12), stime (13), cutime (14), cstime (15).
        if (f.size() < 14)
            continue;
        const bool isPostmaster = pid.toLatin1() == postmaster;
        if (!isPostmaster && f[1] != postmaster)
            continue;
        ms += (f[11].toDouble() + f[12].toDouble()) * tick;
        if (isPostmaster)
            ms += (f[13].toDouble() + f[14].toDouble()) * tick;
    }
    return ms;
}

// A cluster of its own for the benchmark's lifetime, unless `url` is given.
class BenchCluster {
public:
    explicit BenchCluster(QString url) : url_(std::move(url))
    {
        if (!url_.isEmpty())
            return;
        state_ = dir_.filePath(QStringLiteral("pg.url"));
        if (run(QStringLiteral("start"))) {
            QFile f(state_);
            if (f.open(QIODevice::ReadOnly))
                url_ = QString::fromUtf8(f.readAll()).trimmed();
        }
    }
    ~BenchCluster()
    {
        if (!state_.isEmpty())
            run(QStringLiteral("destroy"));
    }
    const QString& url() const { return url_; }

private:
    bool run(const QString& command)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(BMS_PG_CLUSTER), {command, state_});
        return p.waitForFinished(120000) && p.exitCode() == 0;
    }
    QTemporaryDir dir_;
    QString state_;
    QString url_;
};

} // namespace bms::bench
