// Shared by the records tests: a fresh data folder per test (the PC's
// database is $XDG_DATA_HOME/quorlex-bms/station.db), the command line run
// as a process, and counts read straight from a database.
#pragma once

#include "Database.h"
#include "QtTestSupport.h"
#include "RecordSamples.h"

#include <QJsonDocument>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace bms::test {

struct CliResult {
    int code = -1;
    QString out, err;
    QJsonObject last() const // the last JSON line of --json output
    {
        const QStringList lines = out.trimmed().split(QLatin1Char('\n'));
        return QJsonDocument::fromJson(lines.value(lines.size() - 1).toUtf8()).object();
    }
};

class RecordsFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString dataHome() const { return dir_.filePath(QStringLiteral("data")); }
    QString localPath() const { return dataHome() + QStringLiteral("/quorlex-bms/station.db"); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        env.remove(QStringLiteral("QUORLEX_BMS_LINE_DB"));
        return env;
    }

    CliResult cli(const QStringList& args, int timeoutMs = 60000) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(BMS_CLI), args);
        CliResult r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // Writes `runs` as record files into a new folder `name`; its path.
    QString recordFolder(const QString& name, const std::vector<SampleRun>& runs) const
    {
        const QString folder = path(name);
        QDir().mkpath(folder);
        for (const SampleRun& run : runs)
            EXPECT_TRUE(WriteRecordFile(folder + QStringLiteral("/%1.json").arg(SampleRunId(run.number)), SampleRecord(run)));
        return folder;
    }

private:
    QTemporaryDir dir_;
};

// One number from a query on `db` (-1 when it fails).
inline qint64 Scalar(records::Database& db, const QString& sql)
{
    QSqlQuery& q = db.prepared(sql);
    QString error;
    if (!db.exec(q, error) || !q.next())
        return -1;
    const qint64 v = q.value(0).toLongLong();
    q.finish();
    return v;
}

} // namespace bms::test
