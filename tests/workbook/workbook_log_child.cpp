// Opens a data log in $QUORLEX_BMS_WORKBOOK_DIR and appends rows until it is
// killed, printing "row N" once row N has been appended. Row N carries the
// current -(N - 2) mA and the full charge capacity 2^31 + N - 2 mAh. It gives
// up by itself after a minute so that it never outlives its test for long.
#include "FakeHost.h"
#include "PackTable.h"
#include "Workbooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bms::test::TestApp testApp;
    testApp.host.texts["cbb_pdType"] = "Q-Serial";
    bms::excbtnClick();
    QElapsedTimer clock;
    clock.start();
    for (int n = 1; clock.elapsed() < 60000; ++n) {
        bms::PackTable[0].current = -n;
        bms::PackTable[0].fcc_cap = 0x80000000u + uint32_t(n);
        bms::AppendDataRow();
        std::printf("row %d\n", bms::ExcelRow - 1);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return 1;
}
