// Runs the Station tab with four fixtures against four virtual packs at
// 1366 x 768 and saves pictures of it (docs/screenshot-station*.png): one
// pack passes, one fails with a cell 250 mV low, one waits for the operator
// to connect the charger, one falls silent (ERROR); then the history and
// the engineer's settings.
// With a fixture count (4 to 8) other than 4, the fixtures beyond the
// fourth pass and the pictures are named screenshot-station-<count>*.png.
//   station_screenshot <output folder> [fixtures]
#include "FixtureRunner.h"
#include "MainForm.h"
#include "ScreenshotSupport.h"
#include "StationTab.h"
#include "UnattendedWindow.h"
#include "VirtualPack.h"
#include "WidgetHost.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace bms::test;

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    qputenv("QUORLEX_BMS_CLI", BMS_CLI);
    const QString ini = dir.filePath(QStringLiteral("station.ini"));
    qputenv("QUORLEX_BMS_STATION_CONFIG", QFile::encodeName(ini));
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(bms::kApplicationTitle));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 4, bms::stationtab::kMaxFixtures) : 4;
    const QString suffix = count == 4 ? QString() : QStringLiteral("-%1").arg(count);

    // Four packs as they sit on their fixtures, published like the demo's.
    std::vector<std::unique_ptr<bms::sim::VirtualPack>> packs(static_cast<size_t>(count));
    bms::stationtab::StationConfig config;
    for (int i = 0; i < count; ++i) {
        bms::sim::PackConfig pack;
        pack.name = QStringLiteral("fixture%1").arg(i + 1).toStdString();
        pack.live = false;
        pack.baud = 19200;
        packs[i] = std::make_unique<bms::sim::VirtualPack>(pack);
        const std::string slave = packs[i]->start();
        packs[i]->holdCurrent(10000);
        config.ports.append(QString::fromStdString(packs[i]->linkPath().empty() ? slave : packs[i]->linkPath()));
    }
    packs[1]->setCellFault(3, -250);
    packs[3]->setSilent();
    config.recipe = QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml");
    config.stationId = QStringLiteral("EOL-1");
    config.operatorName = QStringLiteral("anna");
    QString error;
    if (!config.save(ini, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    MainForm form;
    auto* tab = form.stationTab();
    bms::test::ShowUnattended(form, tab);
    Wait(300);
    for (int i = 1; i <= count; ++i)
        tab->scan(QStringLiteral("2026120900%1").arg(i, 2, 10, QLatin1Char('0')));
    auto atPrompt = [tab](int fixture) { return !tab->runner(fixture)->model().state().prompt.id.isEmpty(); };
    auto allAsked = [&] {
        for (int f = 1; f <= count; ++f)
            if (f != 4 && !atPrompt(f))
                return false;
        return !tab->runner(4)->busy();
    };
    if (!WaitFor(allAsked, 120000)) {
        std::fprintf(stderr, "the fixtures did not reach their prompts\n");
        return 1;
    }
    // Every fixture goes on but the third, which waits for its operator.
    auto othersDone = [&] {
        for (int f = 1; f <= count; ++f)
            if (f != 3 && tab->runner(f)->busy())
                return false;
        return true;
    };
    for (int f = 1; f <= count; ++f)
        if (f != 3 && f != 4)
            tab->runner(f)->answer(QStringLiteral("ok"));
    WaitFor(othersDone, 120000);
    Wait(500);

    QDir().mkpath(folder);
    std::printf("minimum size %dx%d, size %dx%d\n", form.minimumSizeHint().width(), form.minimumSizeHint().height(),
                form.width(), form.height());
    if (!Save(&form, QDir(folder).filePath(QStringLiteral("screenshot-station%1.png").arg(suffix))))
        return 1;
    auto* pages = tab->findChild<QTabWidget*>(QStringLiteral("stationPages"));
    pages->setCurrentIndex(1);
    Wait(1000);
    if (!Save(&form, QDir(folder).filePath(QStringLiteral("screenshot-station%1-history.png").arg(suffix))))
        return 1;
    pages->setCurrentIndex(2);
    Wait(300);
    if (!Save(&form, QDir(folder).filePath(QStringLiteral("screenshot-station%1-settings.png").arg(suffix))))
        return 1;
    tab->runner(3)->abort();
    WaitFor([&] { return !tab->runner(3)->busy(); }, 30000);
    form.close();
    return 0;
}
