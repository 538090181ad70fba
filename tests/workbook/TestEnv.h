// A QCoreApplication (or QApplication) for the whole test program, and a
// fresh workbook folder per test through QUORLEX_BMS_WORKBOOK_DIR.
#pragma once

#include "QtTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace bms::test {

// Points the workbook folder at a temporary directory for one test.
class WorkbookFolderFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        qputenv("QUORLEX_BMS_WORKBOOK_DIR", dir_.path().toUtf8());
    }
    void TearDown() override { qunsetenv("QUORLEX_BMS_WORKBOOK_DIR"); }
    QString folder() const { return dir_.path(); }
    QStringList files(const QString& pattern) const
    {
        QStringList names = QDir(dir_.path()).entryList({pattern}, QDir::Files, QDir::Name);
        for (QString& n : names)
            n = dir_.filePath(n);
        return names;
    }

private:
    QTemporaryDir dir_;
};

// Runs a logging child program with its workbooks in `folder` until it
// reports row `rows` complete ("row N" lines on its output), then kills it
// with SIGKILL. Returns the last row it reported complete.
inline int RunChildUntilKilled(const QString& program, const QStringList& arguments, const QString& folder, int rows)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUORLEX_BMS_WORKBOOK_DIR", folder);
    child.setProcessEnvironment(env);
    child.start(program, arguments);
    EXPECT_TRUE(child.waitForStarted(10000));
    int last = 0;
    QByteArray pending;
    QElapsedTimer clock;
    clock.start();
    while (last < rows && clock.elapsed() < 60000 && child.state() == QProcess::Running) {
        child.waitForReadyRead(1000);
        pending += child.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("row "))
                last = line.mid(4).toInt();
        }
    }
    child.kill(); // SIGKILL
    EXPECT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAllStandardError().toStdString();
    return last;
}

} // namespace bms::test
