// The main window: the form of the designer file, the status-bar panels, the
// four timers, the serial port component and the file dialog. It is the
// composition root: it fills the core's context and wires every control to
// its handler (WindowWiring.cpp).
#pragma once

#include "BlockFreshness.h"
#include "FirmwareReadBack.h"
#include "Timer.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QFileDialog;
class QLabel;

namespace Ui {
class MainForm;
}

namespace bms {
class WidgetHost;
class TComm;
namespace trends {
class TrendRecorder;
class TrendsTab;
}
namespace stationtab {
class StationTab;
}
namespace bustab {
class BusTab;
}
}

class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    bms::WidgetHost& host() { return *host_; }
    Ui::MainForm& form() { return *ui_; }

    bms::Timer tmr1; // sampling
    bms::Timer tmr2; // reply time-out
    bms::Timer tmr3; // status-bar clock
    bms::Timer tmr4; // upgrade watchdog

    // The firmware file dialog; chooseFile runs it (tests replace it) and
    // returns the chosen name, empty when cancelled.
    QFileDialog* dlgOpen1 = nullptr;
    std::function<QString()> chooseFile;
    // Ends the program after a confirmed close (tests replace it).
    std::function<void()> terminate;

    // The serial port component cm1, or null in a build without it.
    bms::TComm* port() { return cm1_.get(); }

    // The fifth tab, "Trends", and the live timeline it shows.
    bms::trends::TrendsTab* trendsTab() { return trendsTab_; }
    bms::trends::TrendRecorder& trends() { return *trends_; }
    // The sixth tab, "Station": fixtures testing packs from a recipe.
    bms::stationtab::StationTab* stationTab() { return stationTab_; }
    bms::bustab::BusTab* busTab() { return busTab_; }

    // Shrinks the window to the free area of its screen (minus a title bar),
    // never below its smallest size: the designed 1360 x 780 is taller than
    // a 1366 x 768 laptop screen.
    void fitToScreen(const QRect& available);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void wire();
    void wireBusTab();

    std::unique_ptr<Ui::MainForm> ui_;
    QList<QLabel*> panels_;
    std::unique_ptr<bms::WidgetHost> host_;
    std::unique_ptr<bms::TComm> cm1_;
    // Reads the firmware versions back after each main-board upgrade.
    bms::FirmwareReadBack readBack_;
    // Which grid values the read rotation has refreshed lately.
    bms::BlockFreshness freshness_;
    std::unique_ptr<bms::trends::TrendRecorder> trends_;
    bms::trends::TrendsTab* trendsTab_ = nullptr;
    bms::stationtab::StationTab* stationTab_ = nullptr;
    bms::bustab::BusTab* busTab_ = nullptr;
    // The fixtures' runs are being aborted before the window closes.
    bool stationClosing_ = false;
    bool shown_ = false;
};
