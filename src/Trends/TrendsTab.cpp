#include "TrendsTab.h"

#include "App.h"
#include "CellBars.h"
#include "CsvExport.h"
#include "Errors.h"
#include "TrendCharts.h"
#include "WorkbookDocument.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace bms::trends {

namespace {

struct Preset {
    const char* name;
    const char* text;
    int64_t spanMs; // 0: everything
};
constexpr Preset kPresets[] = {
    {"trend1Min", "1 min", 60'000},
    {"trend10Min", "10 min", 600'000},
    {"trend1Hour", "1 h", 3'600'000},
    {"trendAll", "All", 0},
};

// The shortest range shown, so that a few samples do not fill the width.
constexpr int64_t kMinimumSpanMs = 10'000;

void ShowError(const QString& message)
{
    if (App.ui)
        App.ui->showError(FormatErrorMessage(message));
}

// A pack's address as the address selector shows it: "0A".
QString AddressText(int address) { return QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper(); }

QPushButton* Button(const char* name, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

struct TrendsTab::LoadJob {
    std::thread thread;
    ReadControl control;
    QString name;
};

// How often the progress of a log being loaded is shown.
constexpr int kLoadProgressMs = 200;

TrendsTab::TrendsTab(TrendRecorder& recorder, QWidget* parent) : QWidget(parent), recorder_(recorder)
{
    setObjectName(QStringLiteral("ts5"));
    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(0, 0, 0, 0);
    presets_ = new QButtonGroup(this);
    for (const Preset& preset : kPresets) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(preset.name));
        button->setText(QString::fromUtf8(preset.text));
        button->setCheckable(true);
        button->setMinimumWidth(44);
        button->setChecked(preset.spanMs == spanMs_);
        presets_->addButton(button);
        tools->addWidget(button);
        const int64_t span = preset.spanMs;
        connect(button, &QToolButton::clicked, this, [this, span] { presetChosen(span); });
    }
    follow_ = new QCheckBox(QStringLiteral("Follow"), this);
    follow_->setObjectName(QStringLiteral("trendFollow"));
    follow_->setChecked(true);
    follow_->setToolTip(QStringLiteral("Keep the newest samples in view"));
    connect(follow_, &QCheckBox::toggled, this, &TrendsTab::followToggled);
    tools->addWidget(follow_);
    tools->addSpacing(12);

    source_ = new QComboBox(this);
    source_->setObjectName(QStringLiteral("trendSource"));
    source_->addItem(QStringLiteral("Live sampling"));
    source_->setMinimumContentsLength(14);
    source_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(source_, &QComboBox::currentIndexChanged, this, [this] {
        showPackChoice();
        refresh();
    });
    tools->addWidget(source_);
    pack_ = new QComboBox(this);
    pack_->setObjectName(QStringLiteral("trendPack"));
    pack_->setToolTip(QStringLiteral("The pack of the bus log to draw"));
    pack_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pack_->hide();
    connect(pack_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    tools->addWidget(pack_);
    QPushButton* open = Button("trendOpenLog", QStringLiteral("Open log…"), this);
    open->setToolTip(QStringLiteral("Plot a data log (.xlsx) written by this tool, or its journal"));
    connect(open, &QPushButton::clicked, this, [this] {
        const QString path = askFile(FileRole::OpenLog);
        if (!path.isEmpty())
            openLog(path);
    });
    tools->addWidget(open);
    cancelLoad_ = Button("trendCancelLoad", QStringLiteral("Cancel"), this);
    cancelLoad_->setToolTip(QStringLiteral("Stop loading the data log"));
    cancelLoad_->hide();
    connect(cancelLoad_, &QPushButton::clicked, this, &TrendsTab::cancelLoad);
    tools->addWidget(cancelLoad_);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("trendStatus"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long texts are cut rather than widening the window.
    status_->setMinimumWidth(40);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    tools->addWidget(status_, 1);

    QPushButton* png = Button("trendExportPng", QStringLiteral("Export PNG…"), this);
    connect(png, &QPushButton::clicked, this, [this] {
        const QString path = askFile(FileRole::SavePng);
        if (!path.isEmpty())
            exportPng(path);
    });
    QPushButton* csv = Button("trendExportCsv", QStringLiteral("Export CSV…"), this);
    csv->setToolTip(QStringLiteral("The samples of the visible time range"));
    connect(csv, &QPushButton::clicked, this, [this] {
        const QString path = askFile(FileRole::SaveCsv);
        if (!path.isEmpty())
            exportCsv(path);
    });
    QPushButton* clear = Button("trendClear", QStringLiteral("Clear"), this);
    clear->setToolTip(QStringLiteral("Start a new live timeline"));
    connect(clear, &QPushButton::clicked, this, &TrendsTab::clearClicked);
    for (QPushButton* button : {png, csv, clear})
        tools->addWidget(button);

    auto* area = new QSplitter(Qt::Horizontal, this);
    area->setObjectName(QStringLiteral("trendArea"));
    area->setChildrenCollapsible(false);
    charts_ = new TrendCharts(area);
    charts_->setMinimumSize(420, 360);
    bars_ = new CellBars(area);
    bars_->setMinimumWidth(200);
    area->addWidget(charts_);
    area->addWidget(bars_);
    area->setStretchFactor(0, 1);
    area->setStretchFactor(1, 0);
    area->setSizes({1000, 250});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(tools);
    layout->addWidget(area, 1);

    loadProgress_ = new QTimer(this);
    loadProgress_->setInterval(kLoadProgressMs);
    connect(loadProgress_, &QTimer::timeout, this, &TrendsTab::showLoadProgress);

    repaint_ = new QTimer(this);
    repaint_->setSingleShot(true);
    connect(repaint_, &QTimer::timeout, this, &TrendsTab::refresh);
    connect(charts_, &TrendCharts::rangeMovedByUser, this, &TrendsTab::rangeMovedByUser);
    connect(charts_, &TrendCharts::seriesToggled, this, &TrendsTab::refresh);

    recorder_.onSample = [this] { sampleRecorded(); };
    updateStatus();
}

TrendsTab::~TrendsTab()
{
    recorder_.onSample = nullptr;
    if (job_) {
        // Every reader looks at the flag between pieces of the file, so the
        // thread ends within a fraction of a second.
        job_->control.cancel = true;
        job_->thread.join();
    }
}

QString TrendsTab::askFile(FileRole role)
{
    if (chooseFile)
        return chooseFile(role);
    const QString folder = WorkbookFolder();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    switch (role) {
    case FileRole::OpenLog:
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open data log"), folder,
                                            QStringLiteral("Data logs (*.xlsx *.journal);;All files (*)"));
    case FileRole::SavePng:
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export charts"),
                                            QDir(folder).filePath(QStringLiteral("trends-%1.png").arg(stamp)),
                                            QStringLiteral("PNG images (*.png)"));
    case FileRole::SaveCsv:
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export samples"),
                                            QDir(folder).filePath(QStringLiteral("trends-%1.csv").arg(stamp)),
                                            QStringLiteral("CSV files (*.csv)"));
    }
    return {};
}

bool TrendsTab::showingLive() const { return source_->currentIndex() <= 0 || !log_; }

const PackTimeline* TrendsTab::shownPack() const
{
    if (showingLive() || log_->packs.empty())
        return nullptr;
    return &log_->packs[size_t(std::clamp<qsizetype>(pack_->currentIndex(), 0, qsizetype(log_->packs.size()) - 1))];
}

const SampleStore& TrendsTab::shownStore() const
{
    if (showingLive())
        return recorder_.store();
    const PackTimeline* pack = shownPack();
    return pack ? pack->store : log_->store;
}

void TrendsTab::showPackChoice()
{
    pack_->setVisible(!showingLive() && log_->busLog);
}

void TrendsTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void TrendsTab::sampleRecorded()
{
    // Nothing is drawn for a hidden tab; samples are only stored.
    if (!isVisible() || !showingLive())
        return;
    if (!follow_->isChecked() && recorder_.store().lastTime() > viewEnd_) {
        updateStatus();
        return; // the new sample lies right of the range looked at
    }
    if (repaint_->isActive())
        return;
    // The charts move by at least a pixel between repaints: with a day in
    // view a pixel stands for minutes, and repainting it for every sample
    // would change nothing the eye can see.
    const int64_t msPerPixel = (viewEnd_ - viewStart_) / std::max(1, charts_->plotWidth());
    repaint_->start(int(std::clamp<int64_t>(msPerPixel - sinceRepaint_.elapsed(), 0, 60'000)));
}

void TrendsTab::refresh()
{
    repaint_->stop();
    sinceRepaint_.start();
    updateStatus();
    if (!isVisible())
        return;
    const SampleStore& store = shownStore();
    if (follow_->isChecked()) {
        const int64_t last = store.empty() ? QDateTime::currentMSecsSinceEpoch() : store.lastTime();
        viewEnd_ = last;
        viewStart_ = spanMs_ > 0 ? last - spanMs_ : (store.empty() ? last : store.firstTime());
        viewStart_ = std::min(viewStart_, viewEnd_ - kMinimumSpanMs);
    }
    charts_->showRange(store, viewStart_, viewEnd_);
    SampleValues values;
    int64_t when = 0;
    if (store.valuesAt(viewEnd_, values, &when))
        bars_->showCells(values, when);
    else
        bars_->showCells(values, 0);
}

void TrendsTab::presetChosen(int64_t spanMs)
{
    spanMs_ = spanMs;
    const QSignalBlocker block(follow_);
    follow_->setChecked(true);
    refresh();
}

void TrendsTab::followToggled(bool on)
{
    if (on) {
        // Follow with the width looked at last.
        spanMs_ = std::max(kMinimumSpanMs, viewEnd_ - viewStart_);
    }
    presets_->setExclusive(false);
    for (QAbstractButton* button : presets_->buttons())
        button->setChecked(false);
    presets_->setExclusive(true);
    refresh();
}

void TrendsTab::rangeMovedByUser(int64_t t0, int64_t t1)
{
    viewStart_ = t0;
    viewEnd_ = std::max(t1, t0 + 1);
    if (follow_->isChecked()) {
        const QSignalBlocker block(follow_);
        follow_->setChecked(false);
        presets_->setExclusive(false);
        for (QAbstractButton* button : presets_->buttons())
            button->setChecked(false);
        presets_->setExclusive(true);
    }
    repaint_->start(0);
}

void TrendsTab::clearClicked()
{
    if (App.ui && !App.ui->askYesNo(QStringLiteral("Confirm"), QStringLiteral("Clear the live trend and start a new one?")))
        return;
    recorder_.clear();
    source_->setCurrentIndex(0);
    refresh();
}

void TrendsTab::openLog(const QString& path)
{
    if (job_)
        return;
    job_ = std::make_unique<LoadJob>();
    LoadJob* job = job_.get();
    job->name = QFileInfo(path).fileName();
    showLoadProgress();
    cancelLoad_->show();
    loadProgress_->start();
    job->thread = std::thread([this, job, path] {
        std::shared_ptr<LoadedLog> log;
        QString error;
        try {
            log = std::make_shared<LoadedLog>(LoadDataLog(path, &job->control));
        } catch (const Error& e) {
            error = e.message();
        } catch (const std::bad_alloc&) {
            error = QStringLiteral("Not enough memory to read %1").arg(path);
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(this, [this, log, error] { logFinished(log, error); }, Qt::QueuedConnection);
    });
}

void TrendsTab::cancelLoad()
{
    if (job_)
        job_->control.cancel = true;
}

void TrendsTab::showLoadProgress()
{
    if (!job_)
        return;
    status_->setText(QStringLiteral("Loading %1… %2 %")
                         .arg(job_->name)
                         .arg(job_->control.permille.load(std::memory_order_relaxed) / 10));
}

void TrendsTab::logFinished(std::shared_ptr<LoadedLog> log, const QString& error)
{
    const bool cancelled = job_->control.cancelled();
    job_->thread.join();
    job_.reset();
    loadProgress_->stop();
    cancelLoad_->hide();
    if (cancelled) {
        // What was read so far is not shown: the timeline stays as it was.
        updateStatus();
        Q_EMIT logLoaded(false);
        return;
    }
    if (!log) {
        updateStatus();
        ShowError(error);
        Q_EMIT logLoaded(false);
        return;
    }
    log_ = std::make_unique<LoadedLog>(std::move(*log));
    const QString name = QFileInfo(log_->path).fileName();
    if (source_->count() < 2)
        source_->addItem(name);
    else
        source_->setItemText(1, name);
    source_->setItemData(1, log_->path, Qt::ToolTipRole);
    {
        // A bus log offers the packs it holds, the first one drawn.
        const QSignalBlocker block(pack_);
        pack_->clear();
        for (const PackTimeline& pack : log_->packs)
            pack_->addItem(pack.serial.isEmpty() ? QStringLiteral("Pack %1").arg(AddressText(pack.address))
                                                 : QStringLiteral("Pack %1 %2").arg(AddressText(pack.address), pack.serial),
                           pack.address);
    }
    spanMs_ = 0;
    {
        const QSignalBlocker block(follow_);
        follow_->setChecked(true);
        presets_->buttons().last()->setChecked(true);
    }
    const QSignalBlocker block(source_);
    source_->setCurrentIndex(1);
    showPackChoice();
    refresh();
    Q_EMIT logLoaded(true);
}

bool TrendsTab::exportPng(const QString& path)
{
    QWidget* area = findChild<QWidget*>(QStringLiteral("trendArea"));
    if (!area->grab().save(path, "PNG")) {
        ShowError(QStringLiteral("Cannot write %1").arg(path));
        return false;
    }
    return true;
}

bool TrendsTab::exportCsv(const QString& path)
{
    try {
        WriteCsv(shownStore(), viewStart_, viewEnd_, path);
    } catch (const Error& e) {
        ShowError(e.message());
        return false;
    }
    return true;
}

void TrendsTab::updateStatus()
{
    if (job_)
        return;
    const QLocale locale;
    if (!showingLive()) {
        const PackTimeline* pack = shownPack();
        QString text = pack ? QStringLiteral("%1 samples of pack %2 (%3 packs) from %4")
                                  .arg(locale.toString(pack->samples),
                                       AddressText(pack->address),
                                       locale.toString(qsizetype(log_->packs.size())),
                                       QFileInfo(log_->path).fileName())
                            : QStringLiteral("%1 samples from %2").arg(locale.toString(log_->samples), QFileInfo(log_->path).fileName());
        if (log_->skipped > 0)
            text += QStringLiteral(", %1 rows skipped").arg(log_->skipped);
        if (log_->unreadableCells > 0)
            text += QStringLiteral(", %1 unreadable cells skipped").arg(log_->unreadableCells);
        if (log_->badLines > 0)
            text += QStringLiteral(", %1 unreadable journal lines skipped").arg(log_->badLines);
        if (log_->datesGuessed)
            text += QStringLiteral(", dates unreadable: times of day only");
        status_->setText(text);
        return;
    }
    const SampleStore& store = recorder_.store();
    QString text = QStringLiteral("Live: %1 samples, %2 MB")
                       .arg(locale.toString(store.sampleCount()))
                       .arg(double(store.memoryBytes()) / 1e6, 0, 'f', 1);
    if (store.intervalCount() > 0)
        text += QStringLiteral(", older data in %1 intervals of %2 s")
                    .arg(locale.toString(store.intervalCount()))
                    .arg(store.intervalMs() / 1000);
    status_->setText(text);
}

} // namespace bms::trends
