#include "MainForm.h"

#include "ui_MainForm.h"

#include "App.h"
#include "GridCells.h"
#include "Hooks.h"
#include "KeyFilters.h"
#include "MemoFollow.h"
#include "MiddleElide.h"
#include "SteadyWidths.h"
#include "Startup.h"
#include "TrafficWindow.h"
#include "WidgetHost.h"
#include "Wiring.h"

#include "UpgradeHooks.h"
#include "Workbooks.h"
#include "LiveSheetWindow.h"
#include "PackSample.h"
#include "Settings.h"
#include "TrendsTab.h"
#include "StationTab.h"
#include "BusTab.h"
#include "CommRecord.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>

#include "SerialComm.h"

namespace {

// Typing limits of the editable combo boxes (the designer file has no
// property for them). The product type starts as "Q-Serial", one character
// longer than may be typed, so the limit must not cut texts set by the
// program.
struct ComboLimit {
    const char* name;
    int maxLength;
};
constexpr ComboLimit kComboLimits[] = {{"cbb_pdType", 7}, {"cbb_addr", 3}};

// Start texts of combo boxes whose text is not one of their items.
struct ComboText {
    const char* name;
    const char* text;
};
constexpr ComboText kComboTexts[] = {{"cbb_pretype", "0"}};

} // namespace

MainForm::MainForm(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::MainForm>())
{
    ui_->setupUi(this);

    // Status bar: link state, sampling state, an unused panel, the clock.
    // Between the unused panel and the clock, the text of a long-running
    // handler; it takes the free room, so nothing moves when it changes.
    const char* const panelTexts[] = {"Offline!", "Ready!", "", "System Time\uFF1A"};
    QLabel* busyLabel = nullptr;
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(QString::fromUtf8(panelTexts[i]), ui_->stat1);
        panel->setObjectName(QStringLiteral("stat1_panel%1").arg(i));
        panel->setMinimumWidth(i == 2 ? 40 : 280);
        panel->setContentsMargins(4, 0, 4, 0);
        ui_->stat1->addWidget(panel);
        panels_.append(panel);
        if (i == 2) {
            busyLabel = new QLabel(ui_->stat1);
            busyLabel->setObjectName(QStringLiteral("stat1_busy"));
            busyLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            busyLabel->setContentsMargins(4, 0, 4, 0);
            ui_->stat1->addWidget(busyLabel, 1);
        }
    }
    // At the far right: the button of the Traffic window.
    bms::AddTrafficButton(this, ui_->stat1);

    for (const ComboLimit& limit : kComboLimits) {
        bms::LimitTyping(findChild<QComboBox*>(QString::fromLatin1(limit.name)), limit.maxLength);
    }
    for (const ComboText& start : kComboTexts) {
        if (auto* box = findChild<QComboBox*>(QString::fromLatin1(start.name))) {
            box->setCurrentIndex(-1);
            box->setEditText(QString::fromLatin1(start.text));
        }
    }
    // Texts are in columns 0..7 of the live grid and 0..5 of the parallel
    // grid (the last two have captions only).
    bms::SetUpGrid(ui_->strngrd1, 80, 8);
    bms::SetUpGrid(ui_->strgrid_bsi, 100, 6);
    bms::InstallKeystrokeFilters(this);
    bms::ElideInTheMiddle(ui_->cbb1);
    bms::FollowNewLines(ui_->mmo1);
    bms::FollowNewLines(ui_->mmo2);
    bms::KeepWidthsSteady(this);

    dlgOpen1 = new QFileDialog(this);
    dlgOpen1->setObjectName(QStringLiteral("dlgOpen1"));
    dlgOpen1->setFileMode(QFileDialog::ExistingFile);
    dlgOpen1->setNameFilter(QStringLiteral("Motorola S-Record files (*.hex)"));
    chooseFile = [this]() -> QString {
        if (dlgOpen1->exec() != QDialog::Accepted || dlgOpen1->selectedFiles().isEmpty())
            return {};
        return dlgOpen1->selectedFiles().constFirst();
    };
    terminate = [] { QCoreApplication::quit(); };

    host_ = std::make_unique<bms::WidgetHost>(this, panels_);
    host_->setBusyLabel(busyLabel);
    cm1_ = std::make_unique<bms::TComm>();
    // The port settings of the window's design: no hardware flow control, a
    // read completes 1 ms after the last byte of a burst.
    bms::ApplyCm1Design(*cm1_);

    bms::App.ui = host_.get();
    bms::App.tmr1 = &tmr1;
    bms::App.tmr2 = &tmr2;
    bms::App.tmr3 = &tmr3;
    bms::App.tmr4 = &tmr4;
    bms::App.cm1 = cm1_.get();

    // The trend charts: a tab of their own after the four designed ones.
    trends_ = std::make_unique<bms::trends::TrendRecorder>();
    trendsTab_ = new bms::trends::TrendsTab(*trends_, ui_->pgc1);
    ui_->pgc1->addTab(trendsTab_, QStringLiteral("Trends"));
    // The station's fixtures: a tab of their own after Trends.
    stationTab_ = new bms::stationtab::StationTab(*host_, bms::stationtab::StationConfig::defaultPath(), ui_->pgc1);
    ui_->pgc1->addTab(stationTab_, QStringLiteral("Station"));
    stationTab_->windowHoldsPort = [this](const QString& identity) {
        return bms::PortOpen == 1 && bms::stationtab::PortIdentity(ui_->cbb1->currentText()) == identity;
    };
    bms::AppHooks.portInUse = [this](const QString& port) { return stationTab_->portInUse(port); };
    // The rack on one line: a tab of its own after Station.
    busTab_ = new bms::bustab::BusTab(ui_->pgc1);
    ui_->pgc1->addTab(busTab_, QStringLiteral("Bus"));
    wireBusTab();
    wire();
}

MainForm::~MainForm()
{
    tmr1.setEnabled(false);
    tmr2.setEnabled(false);
    tmr3.setEnabled(false);
    tmr4.setEnabled(false);
    cm1_->CloseComm();
    if (bms::App.ui == host_.get()) {
        bms::App = bms::AppContext{};
        bms::Hooks = bms::DispatchHooks{};
        bms::UpgradeHooks = bms::UpgradeHooksT{};
        bms::AppHooks.trendSample = nullptr;
        bms::AppHooks.portOpened = nullptr;
        bms::AppHooks.portInUse = nullptr;
    }
    // The tab goes before the recorder it shows.
    delete trendsTab_;
    // The fixtures' processes and the records threads end with their tab.
    delete stationTab_;
    delete busTab_;
}

void MainForm::wireBusTab()
{
    busTab_->windowHoldsPort = [this](const QString& port) {
        return bms::PortOpen == 1 && bms::stationtab::PortIdentity(ui_->cbb1->currentText()) == bms::stationtab::PortIdentity(port);
    };
    connect(ui_->pgc1, &QTabWidget::currentChanged, this, [this](int index) {
        if (ui_->pgc1->widget(index) != busTab_)
            return;
        QStringList ports;
        for (int i = 0; i < ui_->cbb1->count(); ++i)
            ports.append(ui_->cbb1->itemText(i));
        busTab_->setPorts(ports, ui_->cbb1->currentText());
    });
    // A pack chosen on the bus: Data Collection with its port and address in
    // the designed selectors; the port opens once the bus watch has let go
    // of it, ready for Start Sampling.
    connect(busTab_, &bms::bustab::BusTab::packChosen, this, [this](const QString& port, int address) {
        ui_->pgc1->setCurrentIndex(0);
        ui_->cbb1->setCurrentText(port);
        ui_->cbb_addr->setCurrentText(QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper());
        auto open = [this] {
            if (bms::PortOpen == 0)
                ui_->opencom->click();
        };
        if (!busTab_->watch().running())
            return open();
        connect(&busTab_->watch(), &bms::bustab::BusWatch::ended, this, open, Qt::SingleShotConnection);
    });
}

void MainForm::fitToScreen(const QRect& available)
{
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const QSize room = available.size() - QSize(0, titleBar);
    const QSize smallest = minimumSizeHint().expandedTo(minimumSize());
    resize(size().boundedTo(room).expandedTo(smallest));
}

void MainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_ || event->spontaneous())
        return;
    shown_ = true;
    bms::RunGuarded(bms::FormShow);
}

void MainForm::closeEvent(QCloseEvent* event)
{
    // The close is refused unless the operator confirms it.
    event->ignore();
    // Fixtures testing packs are asked about first and aborted (their
    // records are written as ABORTED); once every one has ended the close
    // starts again with the designed question.
    if (const QString question = stationTab_->closeQuestion(); !question.isEmpty()) {
        if (stationClosing_ || !host_->askYesNo(QStringLiteral("Confirm"), question))
            return;
        stationClosing_ = true;
        stationTab_->abortAll([this] {
            stationClosing_ = false;
            QTimer::singleShot(0, this, &QWidget::close);
        });
        return;
    }
    bool confirmed = false;
    bms::RunGuarded([&] { confirmed = bms::FormCloseQuery(*cm1_); });
    if (!confirmed)
        return;
    // A workbook still open is ended so that its file is written.
    bms::RunGuarded(bms::EndOpenWorkbook);
    bms::CloseLiveSheetWindows();
    event->accept();
    if (terminate)
        terminate();
}
