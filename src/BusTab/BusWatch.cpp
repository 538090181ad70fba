#include "BusWatch.h"

#include "StationConfig.h"

#include <csignal>

namespace bms::bustab {

BusWatch::BusWatch(QObject* parent) : QObject(parent)
{
    kill_.setSingleShot(true);
    kill_.setInterval(5000);
    connect(&kill_, &QTimer::timeout, this, [this] { process_.kill(); });
    connect(&process_, &QProcess::readyReadStandardOutput, this, &BusWatch::readLines);
    connect(&process_, &QProcess::readyReadStandardError, this, [this] {
        const QList<QByteArray> lines = process_.readAllStandardError().trimmed().split('\n');
        if (!lines.isEmpty() && !lines.last().isEmpty())
            lastError_ = QString::fromUtf8(lines.last());
    });
    connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        kill_.stop();
        readLines();
        const int exit = endExit_.value_or(status == QProcess::NormalExit ? code : -1);
        const QString problem = !endError_.isEmpty() ? endError_
            : !lastError_.isEmpty()                  ? lastError_
                                                     : QStringLiteral("the bus watch ended");
        Q_EMIT ended(exit, exit == 0 ? QString() : problem);
    });
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            Q_EMIT ended(-1, QStringLiteral("%1 did not start: %2").arg(process_.program(), process_.errorString()));
    });
}

BusWatch::~BusWatch()
{
    // The window is going away: the watch goes with it.
    disconnect(&process_, nullptr, this, nullptr);
    if (running()) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

QString BusWatch::program()
{
    return stationtab::FindStationCli(QString());
}

bool BusWatch::start(const QString& port, int baud, const QString& logPath, QString& error)
{
    if (running())
        return true;
    const QString cli = program();
    if (cli.isEmpty()) {
        error = QStringLiteral("quorlex-bms-cli, which watches the bus, is not found (set QUORLEX_BMS_CLI)");
        return false;
    }
    QStringList args{QStringLiteral("--json"), QStringLiteral("--port"), port, QStringLiteral("--baud"),
                     QString::number(baud), QStringLiteral("bus"), QStringLiteral("watch")};
    if (!logPath.isEmpty())
        args << QStringLiteral("--log") << logPath;
    endExit_.reset();
    endError_.clear();
    lastError_.clear();
    process_.start(cli, args);
    process_.closeWriteChannel();
    return true;
}

void BusWatch::stop()
{
    if (!running())
        return;
    ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
    kill_.start();
}

void BusWatch::readLines()
{
    while (process_.canReadLine()) {
        const bus::BusEvent e = bus::ReadBusEvent(process_.readLine());
        switch (e.kind) {
        case bus::BusEvent::Kind::Scan: Q_EMIT scanned(e.scan); break;
        case bus::BusEvent::Kind::Pack: Q_EMIT reading(e.pack); break;
        case bus::BusEvent::Kind::Sweep: Q_EMIT swept(e.sweep); break;
        case bus::BusEvent::Kind::End:
            endExit_ = e.exit;
            endError_ = e.error;
            break;
        case bus::BusEvent::Kind::Unknown: break;
        }
    }
}

} // namespace bms::bustab
