// The command line's upgrade of an image of 2,000 data records at 115200
// baud against the virtual pack with its line timing, for both targets:
// quorlex-bms-cli runs as a process and reports the time from the first
// record sent to the answer to the last one (transfer_seconds), which is
// compared with the time the bytes need on the wire, and with that time plus
// the 3.5-character silence before each answer.
//
// Usage: bench_cli_upgrade [data records, default 2000]
#include "UpgradeBenchImage.h"
#include "VirtualPack.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint32_t kBaud = 115200;

// Transfer milliseconds of one run, or a negative value.
double Run(bool dev, const QString& image)
{
    bms::sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.baud = kBaud;
    config.bootRebootMs = 100;
    config.bootEraseMs = 100;
    config.bootCheckMs = 100;
    bms::sim::VirtualPack pack(config);
    QProcess cli;
    cli.start(QStringLiteral(BMS_CLI),
              {QStringLiteral("--port"), QString::fromStdString(pack.start()), QStringLiteral("--baud"),
               QString::number(kBaud), QStringLiteral("--json"), QStringLiteral("--yes"), QStringLiteral("upgrade"),
               QStringLiteral("--target"), dev ? QStringLiteral("dev") : QStringLiteral("main"), image});
    if (!cli.waitForFinished(600000) || cli.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", cli.readAllStandardError().constData());
        return -1;
    }
    const QJsonObject result = QJsonDocument::fromJson(cli.readAllStandardOutput().trimmed()).object();
    return result.value(QStringLiteral("transfer_seconds")).toDouble(-1) * 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int dataRecords = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    QList<QByteArray> lines;
    const QString path = bms::bench::PrepareUpgradeImage(dir, dataRecords, lines);
    if (path.isEmpty())
        return 1;

    std::printf("quorlex-bms-cli upgrade at %u baud, %lld records (%d data records of 16 bytes)\n", kBaud,
                static_cast<long long>(lines.size()), dataRecords);
    std::printf("%-14s %12s %12s %8s %14s %20s\n", "target", "transfer ms", "wire ms", "ratio", "ms per record",
                "ratio with 3.5-char");
    int failures = 0;
    for (bool dev : {false, true}) {
        const double transfer = Run(dev, path);
        const double wire = bms::bench::WireMs(lines, dev, kBaud);
        if (transfer < 0)
            ++failures;
        const double least = wire + bms::bench::TurnaroundMs(lines, kBaud);
        std::printf("%-14s %12.1f %12.1f %8.3f %14.3f %20.3f\n", dev ? "dev firmware" : "main board", transfer, wire,
                    transfer / wire, transfer / static_cast<double>(lines.size()), transfer / least);
    }
    return failures == 0 ? 0 : 1;
}
