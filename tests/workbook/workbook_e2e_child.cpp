// The tool without its window, against a serial port: opens the port given
// as argument, starts sampling every 500 ms, presses "Save to Excel" and
// runs until it is killed. After every telemetry response that completed a
// data-log row it prints "row N". It gives up by itself after a minute.
#include "App.h"
#include "CommRecord.h"
#include "Connection.h"
#include "FakeHost.h"
#include "Hooks.h"
#include "Receive.h"
#include "Sampling.h"
#include "SerialComm.h"
#include "Workbooks.h"
#include "Wiring.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    bms::test::TestApp testApp(true);
    bms::test::FakeHost& host = testApp.host;
    host.texts["cbb1"] = QString::fromLocal8Bit(argv[1]);
    host.texts["cbb2"] = "19200";
    host.texts["cbb3"] = "500";
    host.texts["cbb_addr"] = "06";
    host.texts["cbb_pdType"] = "Q-Serial";
    host.texts["excbtn"] = "Save to Excel";
    bms::SlaveAddr = 6;
    bms::NotBsi = 1;

    bms::TComm cm1;
    bms::App.cm1 = &cm1;
    cm1.OnReceiveData = [](const uint8_t* buffer, uint16_t length) {
        bms::RunGuarded([&] { bms::cm1ReceiveData(buffer, length); });
    };
    bms::WireHooks();
    bms::WireTimers();
    const auto telemetry = bms::Hooks.telemetry;
    bms::Hooks.telemetry = [telemetry] {
        const int32_t before = bms::ExcelRow;
        telemetry();
        if (bms::ExcelRow != before) {
            std::printf("row %d\n", bms::ExcelRow - 1);
            std::fflush(stdout);
        }
    };

    bms::RunGuarded([&] { bms::opencomClick(cm1); });
    bms::RunGuarded(bms::cybtnClick);
    bms::RunGuarded(bms::excbtnClick);
    for (const QString& e : host.errors)
        std::fprintf(stderr, "error: %s\n", qPrintable(e));
    if (bms::DataLogging != 1)
        return 3;
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(1); });
    return app.exec();
}
