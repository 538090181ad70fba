// Pictures of the Station tab's Quality page at 1366 x 768 over the records
// of a demo-line shift (docs/screenshot-station-quality*.png): the drifting
// fixture's current error before calibration, then the cell spread. Prints
// how long the page took to show its figures and the window's longest stall
// meanwhile (the gap between two ticks of a 5 ms timer).
//   quality_screenshot <records folder (XDG_DATA_HOME)> <output folder> [station]
#include "MainForm.h"
#include "QualityPage.h"
#include "ScreenshotSupport.h"
#include "StationTab.h"
#include "UnattendedWindow.h"
#include "WidgetHost.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

using namespace bms::test;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: quality_screenshot RECORDS_FOLDER OUTPUT_FOLDER [STATION]\n");
        return 2;
    }
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", argv[1]);
    const QString ini = dir.filePath(QStringLiteral("station.ini"));
    qputenv("QUORLEX_BMS_STATION_CONFIG", QFile::encodeName(ini));
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(bms::kApplicationTitle));
    const QString folder = QString::fromLocal8Bit(argv[2]);
    bms::stationtab::StationConfig config;
    for (int i = 1; i <= 4; ++i)
        config.ports.append(QStringLiteral("line-f%1").arg(i));
    config.recipe = QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml");
    config.stationId = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("LINE-1");
    config.operatorName = QStringLiteral("anna");
    QString error;
    if (!config.save(ini, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    // The window's longest stall: ticks of a 5 ms timer measured apart.
    QElapsedTimer clock;
    qint64 lastTick = 0, longestStall = 0;
    QTimer ticks;
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
    });

    MainForm form;
    auto* tab = form.stationTab();
    bms::test::ShowUnattended(form, tab);
    Wait(300);
    auto* quality = tab->quality();
    auto* pages = tab->findChild<QTabWidget*>(QStringLiteral("stationPages"));
    clock.start();
    ticks.start();
    pages->setCurrentWidget(quality);
    auto* summary = quality->findChild<QLabel*>(QStringLiteral("qualitySummary"));
    auto* capability = quality->findChild<QLabel*>(QStringLiteral("qualityCapability"));
    auto* measurement = quality->findChild<QComboBox*>(QStringLiteral("qualityMeasurement"));
    auto* chartFixture = quality->findChild<QComboBox*>(QStringLiteral("qualityChartFixture"));
    const auto shown = [&] { return !summary->text().startsWith(QStringLiteral("Reading")) && !capability->text().isEmpty(); };
    if (!WaitFor(shown, 60000)) {
        std::fprintf(stderr, "the Quality page showed nothing: %s\n", qPrintable(summary->text()));
        return 1;
    }
    std::printf("the page showed its figures after %lld ms; the window's longest stall %lld ms\n", clock.elapsed(), longestStall);
    QDir().mkpath(folder);
    const struct {
        const char* key;
        const char* fixture;
        const char* file;
    } pictures[] = {{"calibrate_current.error_before", "3", "screenshot-station-quality.png"},
                    {"check.cell_spread", "1", "screenshot-station-quality-cells.png"}};
    for (const auto& p : pictures) {
        capability->clear();
        measurement->setCurrentText(QLatin1String(p.key));
        if (!WaitFor([&] { return !capability->text().isEmpty(); }, 60000))
            return 1;
        chartFixture->setCurrentText(QLatin1String(p.fixture));
        Wait(500);
        if (!Save(&form, QDir(folder).filePath(QLatin1String(p.file))))
            return 1;
    }
    form.close();
    return 0;
}
