// Record transfer of a whole upgrade run through the serial port component,
// the response dispatcher and the virtual pack with its line timing at
// 115200 baud, for the main board and the dev firmware. The transfer runs
// from the moment the first record is sent to the answer to the last one,
// so the run's own fixed pauses (500 ms before the first record, 2000 ms
// after the erase acknowledgement) fall outside it. Its time is compared
// with the time the bytes of every record and every answer need on the wire
// at 10 bits per byte. Beside it, the longest time the event loop went
// without handling a 5 ms timer during the whole run (reboot request, pauses
// and transfer): what the window's painting would have to wait.
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
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint32_t kBaud = 115200;

struct Result {
    bool complete = false;
    int records = 0;
    double transferMs = 0;
    double wireMs = 0;
    double stallMs = 0;
};

// How the port reads during the run.
enum class Reads {
    Window,   // opened with the 1 ms read interval; the run switches it as the window does
    Interval, // the 1 ms read interval throughout
    AtOnce,   // handed on as soon as bytes are in throughout (the command line)
};

Result Run(bool dev, Reads reads, uint32_t baud, const QString& imagePath, const QList<QByteArray>& lines)
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
    comm.setReadIntervalTimeout(reads == Reads::AtOnce ? bms::kReadIntervalImmediate : 1);
    if (reads == Reads::Window) {
        UpgradeHooks.transferReads = [&comm](bool immediate) {
            comm.setReadIntervalTimeout(immediate ? bms::kReadIntervalImmediate : 1);
        };
    }
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

    // The longest gap between two ticks of a 5 ms timer, less the period.
    QElapsedTimer lastTick;
    double longestGapMs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, static_cast<double>(lastTick.nsecsElapsed()) / 1e6);
        lastTick.start();
    });
    lastTick.start();
    ticker.start(5);
    upbtnClick();

    const QString done = dev ? QStringLiteral("Write Complete!") : QStringLiteral("Waiting For Check!");
    Result result;
    QDeadlineTimer deadline(300000);
    QTimer wake;
    wake.start(5);
    while (UpgradeActive && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    result.transferMs = clock.isValid() ? static_cast<double>(clock.nsecsElapsed()) / 1e6 : 0;
    // Without line timing the dev firmware's record count may be answered
    // before the loop looks.
    const QString ending = app.host.text(QStringLiteral("lbl35"));
    result.complete = ending == done || (dev && ending == QLatin1String("Writed firmware information successfully!"));
    result.records = static_cast<int>(RecordIndex);
    ticker.stop();
    result.stallMs = std::max(0.0, longestGapMs - 5);

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
    std::printf("%-14s %-26s %8s %12s %12s %8s %14s %12s\n", "target", "setting", "records", "transfer ms", "wire ms",
                "ratio", "ms per record", "stall ms");
    int failures = 0;
    // The window's port completes a read 1 ms after the last byte, and its
    // upgrade runs read as soon as bytes are in (first pair of rows); the
    // second pair keeps the 1 ms read interval through the run, the third
    // reads at once throughout (the command line), the last pair shows the
    // software alone: the pack without line timing.
    struct Setting {
        Reads reads;
        uint32_t baud;
        const char* name;
    };
    const Setting settings[] = {{Reads::Window, kBaud, "window"},
                                {Reads::Interval, kBaud, "read 1 ms after last byte"},
                                {Reads::AtOnce, kBaud, "read at once"},
                                {Reads::Window, 0, "window, no line timing"}};
    for (const auto& [reads, baud, name] : settings) {
        for (bool dev : {false, true}) {
            const Result r = Run(dev, reads, baud, path, lines);
            if (!r.complete || r.records != lines.size())
                ++failures;
            std::printf("%-14s %-26s %8d %12.1f %12.1f %8.3f %14.3f %12.1f%s\n", dev ? "dev firmware" : "main board",
                        name, r.records, r.transferMs, r.wireMs, r.wireMs > 0 ? r.transferMs / r.wireMs : 0.0,
                        r.records ? r.transferMs / r.records : 0.0, r.stallMs, r.complete ? "" : "  (incomplete)");
        }
    }
    return failures == 0 ? 0 : 1;
}
