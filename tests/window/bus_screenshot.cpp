// Runs the Bus tab at 1366 x 768 against a rack of virtual packs at 19200
// baud and saves a picture of it (docs/screenshot-bus-<packs>.png): the
// rack's pack at address 3 nearly empty, the one at 5 with an alarm, the one
// at 6 fallen silent (grey, with the time it was last seen).
//   bus_screenshot <output folder> [packs, 2 to 16, default 8]
#include "MainForm.h"
#include "BusTab.h"
#include "ScreenshotSupport.h"
#include "UnattendedWindow.h"
#include "VirtualBus.h"
#include "WidgetHost.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

using namespace bms::test;

int main(int argc, char** argv)
{
    qputenv("QUORLEX_BMS_CLI", BMS_CLI);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(bms::kApplicationTitle));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 2, 16) : 8;
    constexpr int kSilent = 6;

    // Published like the demo's rack, charging and discharging as it goes.
    bms::sim::PackConfig base;
    base.baud = 19200;
    base.name = "rack";
    bms::sim::VirtualBus rack(bms::sim::RackConfigs(count, base), base);
    bms::sim::ApplyRackTraits(rack, count);
    QString port = QString::fromStdString(rack.start());
    if (!rack.linkPath().empty())
        port = QString::fromStdString(rack.linkPath());

    MainForm form;
    auto* tab = form.busTab();
    bms::test::ShowUnattended(form, tab);
    Wait(300);
    tab->findChildren<QComboBox*>().value(0)->setEditText(port);
    tab->toggleWatch();
    bms::bustab::RackModel& model = tab->model();
    auto answering = [&](int wanted) {
        int n = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            n += model.answering(row);
        return model.rowCount() == count && n == wanted;
    };
    if (!WaitFor([&] { return answering(count); }, 60000)) {
        std::fprintf(stderr, "the rack did not answer\n");
        return 1;
    }
    const bool silence = count >= kSilent;
    if (silence) {
        rack.packs(kSilent).front()->setSilent(-1);
        if (!WaitFor([&] { return answering(count - 1); }, 60000)) {
            std::fprintf(stderr, "the silent pack was not told\n");
            return 1;
        }
    }
    // A few sweeps more, so that the silent pack was last seen a while ago.
    Wait(5000);

    QDir().mkpath(folder);
    const QString file = QDir(folder).filePath(QStringLiteral("screenshot-bus-%1.png").arg(count));
    std::printf("minimum size %dx%d, size %dx%d\n", form.minimumSizeHint().width(), form.minimumSizeHint().height(),
                form.width(), form.height());
    if (!form.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    std::printf("%s\n", qPrintable(file));
    tab->toggleWatch();
    WaitFor([&] { return !tab->watch().running(); }, 10000);
    form.close();
    return 0;
}
