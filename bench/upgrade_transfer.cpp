// Record transfer of a whole upgrade run through the serial port component,
// the response dispatcher and the virtual pack with its line timing at
// 115200 baud, for the main board and the dev firmware. The transfer runs
// from the moment the first record is sent to the answer to the last one,
// so the run's own fixed pauses (500 ms before the first record, 2000 ms
// after the erase acknowledgement) fall outside it. Its time is compared
// with the time the bytes of every record and every answer need on the wire
// at 10 bits per byte.
//
// Usage: bench_upgrade_transfer [data records, default 2000]
#include "CommRecord.h"
#include "FakeHost.h"
#include "Receive.h"
#include "SerialComm.h"
#include "UpgradeBenchImage.h"
#include "UpgradeHooks.h"
#include "UpgradeRun.h"
#include "UpgradeTab.h"
#include "VirtualPack.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint32_t kBaud = 115200;

struct Result {
    bool complete = false;
    int records = 0;
    double transferMs = 0;
    double wireMs = 0;
};

Result Run(bool dev, uint32_t readInterval, uint32_t baud, const QString& imagePath, const QList<QByteArray>& lines)
{
    using namespace bms;
    test::TestApp app(true); // real pauses, as the run makes them
    SlaveAddr = 0x06;
    app.host.setText(QStringLiteral("edt_firmware_packpag"), QStringLiteral("1"));
    ResetUpgradeRun();

    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.baud = baud;
    config.bootRebootMs = 100;
    config.bootEraseMs = 100;
    config.bootCheckMs = 100;
    sim::VirtualPack pack(config);
    TComm comm;
    // The window's port settings without software flow control, which would
    // drop the bytes 0x11 and 0x13 of binary answers.
    ApplyCm1Design(comm);
    comm.setOutx_XonXoffFlow(false);
    comm.setInx_XonXoffFlow(false);
    comm.setCommName(QString::fromStdString(pack.start()));
    comm.setBaudRate(kBaud);
    comm.setReadIntervalTimeout(readInterval);
    comm.OnReceiveData = [](const uint8_t* buffer, uint16_t length) { cm1ReceiveData(buffer, length); };
    comm.OpenComm();
    App.cm1 = &comm;
    PortOpen = 1;

    QElapsedTimer clock;
    app.tmr4.OnTimer = [] { tmr4Timer(); };
    Hooks.upgradeStep = [](UpgradeStep step) { RunUpgradeStep(step); };
    UpgradeHooks.setProgress = [&clock](const QString&, int value, int) {
        if (value == 1)
            clock.start();
    };

    if (dev)
        rbtn_upgrade_wifiClick();
    else
        rbtn_upgrade_main_boardClick();
    opbtnClick(imagePath);
    upbtnClick();

    const QString done = dev ? QStringLiteral("Write Complete!") : QStringLiteral("Waiting For Check!");
    Result result;
    QDeadlineTimer deadline(300000);
    QTimer wake;
    wake.start(5);
    while (UpgradeActive && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    result.transferMs = clock.isValid() ? static_cast<double>(clock.nsecsElapsed()) / 1e6 : 0;
    result.complete = app.host.text(QStringLiteral("lbl35")) == done;
    result.records = static_cast<int>(RecordIndex);

    result.wireMs = bms::bench::WireMs(lines, dev, kBaud);

    comm.CloseComm();
    App.cm1 = nullptr;
    pack.stop();
    ResetUpgradeRun();
    UpgradeHooks = UpgradeHooksT{};
    if (!result.complete)
        std::fprintf(stderr, "run ended with \"%s\"\n", qPrintable(app.host.text(QStringLiteral("lbl35"))));
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    const int dataRecords = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    QTemporaryDir dir;
    QList<QByteArray> lines;
    const QString path = bms::bench::PrepareUpgradeImage(dir, dataRecords, lines);
    if (path.isEmpty())
        return 1;

    std::printf("upgrade record transfer at %u baud, %lld records (%d data records of 16 bytes)\n", kBaud,
                static_cast<long long>(lines.size()), dataRecords);
    std::printf("%-14s %-26s %8s %12s %12s %8s %14s\n", "target", "setting", "records", "transfer ms", "wire ms",
                "ratio", "ms per record");
    int failures = 0;
    // The main window's port completes a read 1 ms after the last byte; the
    // second pair of rows shows the same run with reads handed on at once,
    // the last pair the software alone: the pack without line timing.
    struct Setting {
        uint32_t interval;
        uint32_t baud;
        const char* name;
    };
    const Setting settings[] = {{1, kBaud, "read 1 ms after last byte"},
                                {bms::kReadIntervalImmediate, kBaud, "read at once"},
                                {1, 0, "read 1 ms, no line timing"}};
    for (const auto& [interval, baud, name] : settings) {
        for (bool dev : {false, true}) {
            const Result r = Run(dev, interval, baud, path, lines);
            if (!r.complete || r.records != lines.size())
                ++failures;
            std::printf("%-14s %-26s %8d %12.1f %12.1f %8.3f %14.3f%s\n", dev ? "dev firmware" : "main board", name,
                        r.records, r.transferMs, r.wireMs, r.wireMs > 0 ? r.transferMs / r.wireMs : 0.0,
                        r.records ? r.transferMs / r.records : 0.0, r.complete ? "" : "  (incomplete)");
        }
    }
    return failures == 0 ? 0 : 1;
}
