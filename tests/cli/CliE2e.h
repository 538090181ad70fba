// What the command line's end-to-end tests share: the program run as a
// process with what it printed and how it ended, a still virtual pack, the
// JSON schema of its output, and the fixture that starts a pack for it.
#pragma once

#include "E2eSupport.h"
#include "JsonSchemaCheck.h"
#include "QuickPack.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace bms::test::cli {

struct CliRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;

    // The JSON objects printed, one a line.
    QList<QJsonObject> objects() const
    {
        QList<QJsonObject> list;
        for (const QByteArray& line : out.split('\n'))
            if (!line.trimmed().isEmpty())
                list.append(QJsonDocument::fromJson(line).object());
        return list;
    }
    QJsonObject last() const { return objects().value(objects().size() - 1); }
    std::string why() const { return (out + err).toStdString(); }
};

// How the process is started: its stdout into a file, and what the child
// does before it runs the program (close stdout, limit file sizes); what
// the test does every 10 ms while it runs.
struct CliStart {
    QString stdoutFile;
    std::function<void()> inChild;
    std::function<void()> whileRunning;
    QByteArray input = {}; // on standard input, which then closes
};

inline CliRun RunCli(const QStringList& args, int timeoutMs = 60000, const CliStart& how = {})
{
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    if (!how.stdoutFile.isEmpty())
        p.setStandardOutputFile(how.stdoutFile);
    if (how.inChild)
        p.setChildProcessModifier(how.inChild);
    p.start(QStringLiteral(BMS_CLI), args);
    if (!how.input.isEmpty() && p.waitForStarted())
        p.write(how.input);
    p.closeWriteChannel();
    CliRun run;
    while (how.whileRunning && clock.elapsed() < timeoutMs && !p.waitForFinished(10))
        how.whileRunning();
    if (!p.waitForFinished(std::max<qint64>(0, timeoutMs - clock.elapsed()))) {
        p.kill();
        p.waitForFinished();
    }
    run.ms = clock.elapsed();
    run.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

inline sim::PackConfig StillPack(const std::string& product = "Q-Serial")
{
    sim::PackConfig config = QuickPack();
    config.productType = product;
    return config;
}

// The schema of the JSON output in docs/, which the output is checked
// against, so that neither drifts from the other.
inline const JsonSchemaCheck& Schema()
{
    static const JsonSchemaCheck schema = [] {
        QFile file(QStringLiteral(CLI_JSON_SCHEMA));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << CLI_JSON_SCHEMA;
        return JsonSchemaCheck(QJsonDocument::fromJson(file.readAll()).object());
    }();
    return schema;
}

class CliE2e : public ::testing::Test {
protected:
    void SetUp() override { QtApp(); }
    void startPack(sim::PackConfig config = StillPack())
    {
        pack = std::make_unique<sim::VirtualPack>(std::move(config));
        port = QString::fromStdString(pack->start());
    }
    CliRun cli(QStringList args, int timeoutMs = 60000, const CliStart& how = {})
    {
        args.prepend(port);
        args.prepend(QStringLiteral("--port"));
        return RunCli(args, timeoutMs, how);
    }

    std::unique_ptr<sim::VirtualPack> pack;
    QString port;
    QTemporaryDir dir;
};

} // namespace bms::test::cli
