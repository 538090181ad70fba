// Shared by the records benchmarks: a folder to work in, a throw-away
// PostgreSQL cluster (scripts/pg-test-cluster) when no URL is given, and
// elapsed time.
#pragma once

#include "Database.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>

namespace bms::bench {

inline double Ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
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
