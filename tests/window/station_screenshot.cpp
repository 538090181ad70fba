// Runs the Station tab with four fixtures against four virtual packs at
// 1366 x 768 and saves pictures of it (docs/screenshot-station*.png): one
// pack passes, one fails with a cell 250 mV low, one waits for the operator
// to connect the charger, one falls silent (ERROR); then the history and
// the engineer's settings.
//   station_screenshot <output folder>
#include "FixtureRunner.h"
#include "MainForm.h"
#include "StationTab.h"
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
#include <cstdio>
#include <functional>
#include <memory>

namespace {

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        Wait(20);
    return done();
}

bool Save(QWidget* widget, const QString& file)
{
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace

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

    // Four packs as they sit on their fixtures, published like the demo's.
    std::unique_ptr<bms::sim::VirtualPack> packs[4];
    bms::stationtab::StationConfig config;
    for (int i = 0; i < 4; ++i) {
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
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; };
    form.terminate = [] {};
    form.resize(1366, 768);
    form.show();
    auto* tab = form.stationTab();
    form.form().pgc1->setCurrentWidget(tab);
    Wait(300);
    const char* const barcodes[] = {"202612090001", "202612090002", "202612090003", "202612090004"};
    for (const char* barcode : barcodes)
        tab->scan(QString::fromLatin1(barcode));
    auto atPrompt = [tab](int fixture) { return !tab->runner(fixture)->model().state().prompt.id.isEmpty(); };
    if (!WaitFor([&] { return atPrompt(1) && atPrompt(2) && atPrompt(3) && !tab->runner(4)->busy(); }, 120000)) {
        std::fprintf(stderr, "the fixtures did not reach their prompts\n");
        return 1;
    }
    // Fixtures 1 and 2 go on; fixture 3 waits for its operator.
    for (int fixture : {1, 2})
        tab->runner(fixture)->answer(QStringLiteral("ok"));
    WaitFor([&] { return !tab->runner(1)->busy() && !tab->runner(2)->busy(); }, 120000);
    Wait(500);

    QDir().mkpath(folder);
    std::printf("minimum size %dx%d, size %dx%d\n", form.minimumSizeHint().width(), form.minimumSizeHint().height(),
                form.width(), form.height());
    if (!Save(&form, QDir(folder).filePath(QStringLiteral("screenshot-station.png"))))
        return 1;
    auto* pages = tab->findChild<QTabWidget*>(QStringLiteral("stationPages"));
    pages->setCurrentIndex(1);
    Wait(1000);
    if (!Save(&form, QDir(folder).filePath(QStringLiteral("screenshot-station-history.png"))))
        return 1;
    pages->setCurrentIndex(2);
    Wait(300);
    if (!Save(&form, QDir(folder).filePath(QStringLiteral("screenshot-station-settings.png"))))
        return 1;
    tab->runner(3)->abort();
    WaitFor([&] { return !tab->runner(3)->busy(); }, 30000);
    form.close();
    return 0;
}
