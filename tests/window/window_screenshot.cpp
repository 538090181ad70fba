// Runs the tool against a live virtual pack, opens the port, samples for a
// while, reads the information block and saves a picture of each tab.
//   window_screenshot <output folder> [seconds] [pack speed]
// The pack speed (simulated seconds per second, default 24) brings the
// Trends tab through more of a charge/discharge cycle.
#include "MainForm.h"
#include "VirtualPack.h"
#include "WidgetHost.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QAbstractButton>
#include <QPushButton>
#include <QTabWidget>
#include <cstdio>
#include <iterator>

namespace {

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(bms::kApplicationTitle));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 8;
    const double speed = argc > 3 ? std::atof(argv[3]) : 24.0;

    // Published like the demo pack, so the port box shows a long port path.
    bms::sim::PackConfig config;
    config.name = "screenshot";
    config.timeScale = speed > 0 ? speed : 24.0;
    bms::sim::VirtualPack pack(config);
    QString port = QString::fromStdString(pack.start());
    if (!pack.linkPath().empty())
        port = QString::fromStdString(pack.linkPath());

    MainForm form;
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; };
    form.terminate = [] {};
    // A 1366 x 768 laptop screen.
    form.resize(1366, 768);
    form.show();
    Wait(300);
    Ui::MainForm& ui = form.form();
    // The Traffic window lists the whole session, which ends with a short
    // spell of noise and one answer with a bad CRC.
    if (auto* traffic = form.findChild<QAbstractButton*>(QStringLiteral("btn_traffic")))
        traffic->click();
    ui.cbb1->setEditText(port);
    ui.opencom->click();
    ui.btn3->click();
    Wait(1500);
    ui.cybtn->click();
    Wait(seconds * 1000);
    pack.setNoise({0x00, 0xFF, 0x13});
    pack.setCorruptCrc(1);
    Wait(1200);
    pack.setNoise({});
    Wait(600);
    // The simulator tab shows its rows once unlocked.
    ui.edt_password->setText(QStringLiteral("dmkq804417"));
    ui.btn_test->click();

    std::printf("minimum size %dx%d, size %dx%d\n", form.minimumSizeHint().width(), form.minimumSizeHint().height(),
                form.width(), form.height());
    const char* const names[] = {"data-collection", "parameter-calibration", "device-upgrade", "simulator-test",
                                 "trends"};
    QDir().mkpath(folder);
    for (int i = 0; i < ui.pgc1->count() && i < int(std::size(names)); ++i) {
        ui.pgc1->setCurrentIndex(i);
        // The Trends tab shows the whole run.
        if (auto* all = ui.pgc1->widget(i)->findChild<QAbstractButton*>(QStringLiteral("trendAll")))
            all->click();
        Wait(200);
        const QString file = QDir(folder).filePath(QStringLiteral("screenshot-%1.png").arg(QString::fromLatin1(names[i])));
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    ui.pgc1->setCurrentIndex(0);
    if (auto* traffic = form.findChild<QWidget*>(QStringLiteral("trafficWindow"))) {
        traffic->resize(1100, 520);
        Wait(300);
        const QString file = QDir(folder).filePath(QStringLiteral("screenshot-traffic.png"));
        if (!traffic->grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; };
    form.close();
    return 0;
}
