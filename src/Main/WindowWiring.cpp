// The composition root's wiring: every control's signal goes to its handler,
// each inside the general error handler (RunGuarded), so that no exception
// ever reaches the event loop.
#include "MainForm.h"

#include "ui_MainForm.h"

#include "App.h"
#include "Hooks.h"
#include "Sampling.h"
#include "Selectors.h"
#include "ShapeWidget.h"
#include "WidgetHost.h"
#include "Wiring.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QTableWidget>

#include "SerialComm.h"
#include "Connection.h"
#include "PortWatch.h"
#include "Receive.h"
#include "UpgradeHooks.h"
#include "UpgradeRun.h"
#include "UpgradeTab.h"
#include "Workbooks.h"
#include "LiveSheetWindow.h"
#include "CommRecord.h"
#include "PackSample.h"
#include "Settings.h"

Q_DECLARE_LOGGING_CATEGORY(lcWindow)

namespace {

// A click handler is running (see WidgetHost::handlerStarted); ends with it,
// also when it throws, before the general error handler shows the error.
class HandlerScope {
public:
    HandlerScope(bms::WidgetHost& host, const QString& caption) : host_(host) { host_.handlerStarted(caption); }
    ~HandlerScope() { host_.handlerEnded(); }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    bms::WidgetHost& host_;
};

// Connects a button's click to a handler run inside the general error handler.
void OnClick(MainForm* root, const QString& name, std::function<void()> handler)
{
    auto* button = root->findChild<QAbstractButton*>(name);
    if (!button) {
        qCWarning(lcWindow) << "no button named" << name;
        return;
    }
    bms::WidgetHost* host = &root->host();
    QObject::connect(button, &QAbstractButton::clicked, button, [handler = std::move(handler), host, button] {
        bms::RunGuarded([&] {
            HandlerScope running(*host, button->text());
            handler();
        });
    });
}

// A combo box's text changed (typing or choosing an item).
void OnTextChange(QComboBox* box, std::function<void()> handler)
{
    QObject::connect(box, &QComboBox::currentTextChanged, box,
                     [handler = std::move(handler)] { bms::RunGuarded(handler); });
}

} // namespace

void MainForm::wire()
{
    using bms::RunGuarded;

    for (const bms::ClickHandler& click : bms::ClickHandlers())
        OnClick(this, click.control, click.handler);
    OnTextChange(ui_->cbb_addr, bms::cbb_addrChange);
    OnTextChange(ui_->cbb_pdType, bms::cbb_pdTypeChange);
    connect(ui_->shp_sp_reset, &ShapeWidget::pressed, this, [] { RunGuarded(bms::shp_sp_resetMouseDown); });
    // The battery picture shows or hides the parallel-system grid.
    connect(ui_->img4, &ShapeWidget::clicked, this,
            [this] { ui_->strgrid_bsi->setVisible(ui_->strgrid_bsi->isHidden()); });

    bms::WireHooks(&freshness_);
    bms::WireTimers();

    OnClick(this, QStringLiteral("opencom"), [this] { bms::opencomClick(*cm1_); });
    // The port list follows devices being plugged in and pulled out.
    auto* portWatch = new bms::PortWatcher(this);
    portWatch->changed = [] { RunGuarded(bms::RefreshPorts); };
    cm1_->OnReceiveData = [](const uint8_t* buffer, uint16_t length) {
        RunGuarded([&] { bms::cm1ReceiveData(buffer, length); });
    };
    cm1_->OnRequestHangup = [this] { RunGuarded([this] { bms::cm1RequestHangup(*cm1_); }); };

    OnClick(this, QStringLiteral("upbtn"), bms::upbtnClick);
    OnClick(this, QStringLiteral("opbtn"), [this] {
        const QString name = chooseFile ? chooseFile() : QString();
        bms::opbtnClick(name);
    });
    OnClick(this, QStringLiteral("rbtn_upgrade_main_board"), bms::rbtn_upgrade_main_boardClick);
    OnClick(this, QStringLiteral("rbtn_upgrade_wifi"), bms::rbtn_upgrade_wifiClick);
    OnClick(this, QStringLiteral("btn_erase_dev_firmware"), bms::btn_erase_dev_firmwareClick);
    readBack_.install();
    // tmr4, the upgrade steps and the sampling stop are wired with the
    // other hooks (WireHooks, WireTimers); the progress bar is the window's.
    // The transfer reads as the command line does: each answer is handed on
    // as soon as it is in, not after the 1 ms read interval of the design.
    bms::UpgradeHooks.transferReads = [this](bool immediate) {
        cm1_->setReadIntervalTimeout(immediate ? bms::kReadIntervalImmediate : 1);
    };
    bms::UpgradeHooks.setProgress = [this](const QString& name, int value, int maximum) {
        if (auto* bar = findChild<QProgressBar*>(name)) {
            bar->setMaximum(qMax(1, maximum));
            bar->setValue(qBound(0, value, qMax(1, maximum)));
        }
    };

    OnClick(this, QStringLiteral("excbtn"), bms::excbtnClick);
    OnClick(this, QStringLiteral("btn_save_uid"), bms::btn_save_uidClick);
    OnClick(this, QStringLiteral("Cal_excel_button"), bms::Cal_excel_buttonClick);
    OnClick(this, QStringLiteral("btn_cal_confirm"), bms::btn_cal_confirmClick);
    OnClick(this, QStringLiteral("btn_uid_save"), bms::btn_uid_saveClick);
    // Every workbook the tool opens shows in its own live sheet window.
    bms::InstallLiveSheetWindows();

    // Trends: one sample after each decoded telemetry block; stopping
    // sampling leaves a gap before the next one.
    bms::AppHooks.trendSample = [this](int block) { trends_->record(block, bms::SampleIntervalMs); };
    bms::AppHooks.portOpened = [this] {
        freshness_.clear();
        trends_->newPack();
    };
    connect(ui_->cybtn, &QAbstractButton::clicked, this, [this] {
        if (bms::Sampling == 0)
            trends_->samplingStopped();
    });
}
