#include "StationTab.h"

#include "TextChecks.h"

#include "FitLabel.h"
#include "FixturePanel.h"
#include "ForwardLoop.h"
#include "HistoryPage.h"
#include "PortList.h"
#include "PortWatch.h"
#include "PrintWorker.h"
#include "RecordsWorker.h"
#include "SettingsPage.h"
#include "UiHost.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace bms::stationtab {

using station::HasControlCharacters;

namespace {

// Fixtures side by side before a second row starts.
constexpr int kColumns = 4;

template <typename Label = QLabel>
Label* BoldLabel(const char* name, int pointSize, QWidget* parent)
{
    auto* label = new Label(parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

StationTab::StationTab(UiHost& host, const QString& configPath, QWidget* parent)
    : QWidget(parent), host_(host), configPath_(configPath), config_(StationConfig::load(configPath))
{
    setObjectName(QStringLiteral("ts6"));
    scan_ = new QLineEdit(this);
    scan_->setObjectName(QStringLiteral("stationScan"));
    scan_->setPlaceholderText(QStringLiteral("Scan a barcode"));
    QFont scanFont = scan_->font();
    scanFont.setPointSize(16);
    scan_->setFont(scanFont);
    scan_->setMinimumWidth(300);
    auto* scanLabel = BoldLabel("stationScanLabel", 14, this);
    scanLabel->setText(QStringLiteral("Scan:"));
    // Long refusals, a recipe's error and a server's error never widen the
    // window: they are shortened to the room there is, whole in their
    // tooltips.
    scanStatus_ = BoldLabel<FitLabel>("stationScanStatus", 12, this);
    recipeLabel_ = BoldLabel<FitLabel>("stationRecipeLabel", 10, this);
    counters_ = BoldLabel("stationCounters", 12, this);
    forwarding_ = BoldLabel<FitLabel>("stationForwarding", 10, this);

    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(scanLabel);
    scanRow->addWidget(scan_, 3);
    scanRow->addWidget(scanStatus_, 4);
    // The forwarding state may carry a long server error: it takes the
    // room left, its count first.
    forwarding_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(counters_);
    countRow->addSpacing(16);
    // The recipe's name as long as it needs, the forwarding state the rest.
    recipeLabel_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    countRow->addWidget(recipeLabel_);
    countRow->addSpacing(16);
    countRow->addWidget(forwarding_, 1);

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("stationPages"));
    fixturesPage_ = new QWidget(pages_);
    fixturesPage_->setObjectName(QStringLiteral("stationFixturesPage"));
    grid_ = new QGridLayout(fixturesPage_);
    grid_->setContentsMargins(2, 2, 2, 2);
    grid_->setSpacing(6);
    history_ = new HistoryPage(pages_);
    settings_ = new SettingsPage(pages_);
    pages_->addTab(fixturesPage_, QStringLiteral("Fixtures"));
    pages_->addTab(history_, QStringLiteral("History"));
    pages_->addTab(settings_, QStringLiteral("Settings"));
    addQualityPage();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(scanRow);
    layout->addLayout(countRow);
    layout->addWidget(pages_, 1);

    connect(history_, &HistoryPage::searchRequested, this, &StationTab::refreshHistory);
    connect(history_, &HistoryPage::recordRequested, this, &StationTab::openRecord);
    connect(settings_, &SettingsPage::unlockRequested, this, &StationTab::unlock);
    connect(settings_, &SettingsPage::saveRequested, this, &StationTab::saveSettings);
    connect(settings_, &SettingsPage::setPasswordRequested, this, &StationTab::setPassword);
    connect(settings_, &SettingsPage::newShiftRequested, this, &StationTab::newShift);
    connect(settings_, &SettingsPage::testPrintRequested, this, &StationTab::testPrint);
    connect(history_, &HistoryPage::reprintRequested, this, &StationTab::reprint);
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (pages_->widget(page) == history_)
            refreshHistory(history_->searchText());
        // The settings lock again when the engineer leaves them.
        if (pages_->widget(page) != settings_ && config_.locked())
            settings_->setUnlocked(false);
        keysHome()->setFocus();
    });
    refresh_.setSingleShot(true);
    refresh_.setInterval(kPanelRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &StationTab::showDirtyPanels);
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { keepScanFocus(now); });
    // Fixtures follow their ports as the port list does: a USB box pulled
    // out, a virtual pack ended.
    portWatch_ = new PortWatcher(this);
    portWatch_->changed = [this] { followPorts(); };
    // A scanner typing into another box of the tab (StationTabKeys.cpp).
    qApp->installEventFilter(this);
    keyClock_.start();
    applyConfig();
}

StationTab::~StationTab()
{
    // Focus moves while the widgets go: nothing of this tab may answer.
    disconnect(focusWatch_);
    qApp->removeEventFilter(this);
    // The processes go with their runners; the threads before the rest
    // (print jobs still followed are cancelled).
    prints_.reset();
    forward_.reset();
    records_.reset();
}

void StationTab::applyConfig()
{
    settings_->load(config_, ListSerialPorts());
    buildFixtures();
    records_.reset();
    forward_.reset();
    // Forwarding starts with a station that is set up; a window whose
    // Station tab is never used opens no database.
    if (const QString line = config_.lineDatabase(); !line.isEmpty() && config_.incomplete().isEmpty()) {
        forward_ = std::make_unique<records::ForwardLoop>(records::DefaultLocalDatabasePath(), line);
        connect(forward_.get(), &records::ForwardLoop::passed, this,
                [this](int, int waiting, const QString& error) { showForwarding(waiting, error); });
        forward_->start();
    }
    listPrinters();
    if (config_.incomplete().isEmpty()) {
        recipe_.load(config_.recipe);
        showRecipe();
        setScanStatus({});
        refreshCounters();
    } else {
        recipeLabel_->setWholeText({});
        setScanStatus(QStringLiteral("Not ready: ") + config_.incomplete(), true);
    }
}

void StationTab::showRecipe()
{
    // The recipe as last loaded: the engineer may have changed its file.
    const auto& recipe = recipe_.recipe();
    recipeLabel_->setWholeText(recipe ? QStringLiteral("Recipe %1 %2").arg(recipe->name, recipe->version) : recipe_.error());
}

void StationTab::buildFixtures()
{
    // The settings are saved only while no fixture is testing. A fixture
    // that keeps its number and its port keeps its last pack's verdict.
    std::vector<FixtureModel> last;
    for (const FixtureRunner* r : runners_)
        last.push_back(r->model());
    const QStringList portsBefore = std::exchange(builtPorts_, config_.ports);
    for (FixtureRunner* r : runners_)
        delete r;
    for (FixturePanel* p : panels_)
        delete p;
    runners_.clear();
    panels_.clear();
    dirty_.clear();
    selected_ = -1;
    const int count = std::max(1, config_.fixtureCount());
    portMissing_.assign(size_t(count), false);
    labels_.assign(size_t(count), {});
    for (int i = 0; i < count; ++i) {
        auto* runner = new FixtureRunner(i + 1, this);
        runner->setAbortGraceMs(abortGraceMs_);
        if (i < int(last.size()) && portsBefore.value(i) == config_.ports.value(i))
            runner->model() = last[size_t(i)];
        auto* panel = new FixturePanel(i + 1, fixturesPage_);
        panel->setCompact(count > kColumns);
        grid_->addWidget(panel, i / kColumns, i % kColumns);
        runners_.push_back(runner);
        panels_.push_back(panel);
        connect(runner, &FixtureRunner::changed, this, [this, i] { panelChanged(i); });
        connect(runner, &FixtureRunner::recordLost, this, [this, i](const QJsonObject& record) { keepLostRecord(i, record); });
        connect(runner, &FixtureRunner::finished, this, [this, i] { runFinished(i); });
        connect(panel, &FixturePanel::printAgainClicked, this, [this, i] { printAgain(i); });
        // The box keeps the keys until the run takes the answer: a refused
        // one is corrected there.
        connect(panel, &FixturePanel::answered, this, [this, i](const QString& text) { runners_[size_t(i)]->answer(text); });
        connect(panel, &FixturePanel::promptOpenedOrClosed, this, &StationTab::placeFocus);
        connect(panel, &FixturePanel::abortClicked, this, [this, i] { runners_[size_t(i)]->abort(); });
        connect(panel, &FixturePanel::selectClicked, this, [this, i] {
            const int before = selected_;
            selected_ = selected_ == i ? -1 : i;
            if (before >= 0)
                showPanel(before);
            showPanel(i);
            setScanStatus({});
            placeFocus();
        });
        showPanel(i);
    }
    for (int c = 0; c < kColumns; ++c)
        grid_->setColumnStretch(c, c < count ? 1 : 0);
    followPorts();
}

void StationTab::followPorts()
{
    bool changed = false;
    for (int i = 0; i < int(panels_.size()); ++i) {
        const QString port = config_.ports.value(i);
        const bool missing = !port.isEmpty() && !PortPresent(port);
        if (missing != portMissing_[size_t(i)]) {
            portMissing_[size_t(i)] = missing;
            showPanel(i);
            changed = true;
        }
    }
    // The next pack's fixture may be another now; a refusal stays.
    if (changed && !scanRefused_)
        setScanStatus({});
}

void StationTab::panelChanged(int index)
{
    // A run's events come in bursts (the measurements of a check); the
    // panels show them at most kPanelRefreshMs apart.
    dirty_.insert(index);
    if (!refresh_.isActive())
        refresh_.start();
}

void StationTab::showDirtyPanels()
{
    const QSet<int> dirty = std::exchange(dirty_, {});
    for (int index : dirty)
        if (index < int(panels_.size()))
            showPanel(index);
}

void StationTab::showPanel(int index)
{
    dirty_.remove(index);
    panels_[size_t(index)]->show(runners_[size_t(index)]->model(), config_.ports.value(index), index == selected_,
                                 portMissing_[size_t(index)]);
}

FixturePanel* StationTab::panel(int fixture) const
{
    return fixture >= 1 && fixture <= int(panels_.size()) ? panels_[size_t(fixture - 1)] : nullptr;
}

FixtureRunner* StationTab::runner(int fixture) const
{
    return fixture >= 1 && fixture <= int(runners_.size()) ? runners_[size_t(fixture - 1)] : nullptr;
}

void StationTab::setAbortGraceMs(int ms)
{
    abortGraceMs_ = ms;
    for (FixtureRunner* r : runners_)
        r->setAbortGraceMs(ms);
}

QString StationTab::countersText() const { return counters_->text(); }
QString StationTab::forwardingText() const { return forwarding_->wholeText(); }
QString StationTab::scanStatusText() const { return scanStatus_->wholeText(); }

void StationTab::setScanStatus(const QString& text, bool refused)
{
    QString shown = text;
    if (shown.isEmpty()) {
        const int next = targetFixture();
        shown = next >= 0       ? QStringLiteral("Next pack: fixture %1%2").arg(next + 1).arg(selected_ == next ? QStringLiteral(" (chosen)") : QString())
                : freeButPortless() ? QStringLiteral("No free fixture has its port")
                                    : QStringLiteral("Every fixture is busy");
    }
    scanRefused_ = refused;
    scanStatus_->setWholeText(shown);
    scanStatus_->setStyleSheet(refused ? QStringLiteral("color: #d01c1c;") : QString());
}

int StationTab::targetFixture() const
{
    if (selected_ >= 0 && selected_ < int(runners_.size()) && !runners_[size_t(selected_)]->busy())
        return selected_;
    // A fixture whose port is missing is skipped until it is back.
    for (int i = 0; i < int(runners_.size()); ++i)
        if (!runners_[size_t(i)]->busy() && !portMissing_[size_t(i)])
            return i;
    return -1;
}

bool StationTab::freeButPortless() const
{
    for (int i = 0; i < int(runners_.size()); ++i)
        if (!runners_[size_t(i)]->busy() && portMissing_[size_t(i)])
            return true;
    return false;
}

QList<int> StationTab::busyFixtures() const
{
    QList<int> busy;
    for (const FixtureRunner* r : runners_)
        if (r->busy())
            busy.append(r->fixture());
    return busy;
}

QString StationTab::portInUse(const QString& name) const
{
    const QString identity = PortIdentity(name);
    for (int i = 0; i < int(runners_.size()); ++i) {
        if (runners_[size_t(i)]->busy() && !config_.ports.value(i).isEmpty() && PortIdentity(config_.ports.value(i)) == identity)
            return QStringLiteral("The port %1 is in use by fixture %2 of the Station tab until its run ends")
                .arg(name)
                .arg(i + 1);
    }
    return {};
}

void StationTab::refuse(int index, const QString& words)
{
    runners_[size_t(index)]->model().refuse(words);
    showPanel(index);
    setScanStatus(QStringLiteral("Fixture %1: %2").arg(index + 1).arg(words), true);
}

void StationTab::scan(const QString& text)
{
    scan_->clear();
    startScan(text);
}

void StationTab::startScan(const QString& text)
{
    const QString barcode = text.trimmed();
    if (barcode.isEmpty() || closing_)
        return;
    if (const QString missing = config_.incomplete(); !missing.isEmpty())
        return setScanStatus(QStringLiteral("Not ready: ") + missing, true);
    // The watch tells of a port a moment after it goes: looked at now.
    followPorts();
    const int index = targetFixture();
    if (index < 0)
        return setScanStatus((freeButPortless() ? QStringLiteral("No free fixture has its port: %1 was not started")
                                                : QStringLiteral("Every fixture is busy: %1 was not started"))
                                 .arg(barcode),
                             true);
    const QString port = config_.ports.value(index);
    if (port.isEmpty())
        return refuse(index, QStringLiteral("This fixture has no port (Station settings)"));
    if (portMissing_[size_t(index)])
        return refuse(index, QStringLiteral("Not started: the port %1 of this fixture is missing").arg(port));
    // A barcode is on one fixture from the moment it is taken: a scanner
    // that reads twice must not start it on a second one.
    for (const FixtureRunner* r : runners_) {
        if (r->model().barcodeTaken() == barcode)
            return refuse(index, QStringLiteral("Refused: %1 is on fixture %2 now").arg(barcode).arg(r->fixture()));
    }
    if (HasControlCharacters(barcode))
        return refuse(index, QStringLiteral("Refused: the barcode holds control characters"));
    const QString why = recipe_.refusal(config_.recipe, barcode);
    showRecipe();
    if (!why.isEmpty())
        return refuse(index, why);
    if (windowHoldsPort && windowHoldsPort(PortIdentity(port)))
        return refuse(index, QStringLiteral("The port %1 is open on the Data Collection tab: close it there first").arg(port));
    if (selected_ == index)
        selected_ = -1;
    runners_[size_t(index)]->model().checking(barcode);
    showPanel(index);
    setScanStatus({});
    askPassedBefore(index, barcode);
}

void StationTab::passedChecked(int index, const QString& barcode, std::optional<bool> passed)
{
    FixtureRunner* runner = runners_[size_t(index)];
    if (runner->model().state().phase != Phase::Checking)
        return;
    if (closing_)
        return refuse(index, QStringLiteral("Not started: the window is closing"));
    if (passed.value_or(false)) {
        const QString station = config_.stationId.isEmpty() ? QString() : QStringLiteral(" at station ") + config_.stationId;
        return refuse(index, QStringLiteral("Refused: %1 already passed%2 (the recipe allows no retest)").arg(barcode, station));
    }
    // When the database cannot tell, the run asks it again itself and says
    // what it finds.
    startRun(index, barcode);
}

void StationTab::startRun(int index, const QString& barcode)
{
    RunnerSettings settings;
    settings.program = FindStationCli(config_.cli);
    settings.recipe = config_.recipe;
    settings.port = config_.ports.value(index);
    settings.fixture = index + 1;
    settings.stationId = config_.stationId;
    settings.operatorName = config_.operatorName;
    settings.lineDb = config_.lineDatabase();
    if (const auto& recipe = recipe_.recipe())
        settings.product = recipe->product;
    runners_[size_t(index)]->start(settings, barcode);
    // The last pack's label state belongs to the pack that left; one that
    // did not print stays in sight until it is printed again.
    LastLabel& last = labels_[size_t(index)];
    last.previousPack = true;
    if (last.state != QLatin1String("failed"))
        panels_[size_t(index)]->showLabel({});
    setScanStatus({});
}

void StationTab::runFinished(int index)
{
    setScanStatus({});
    printRun(index);
    if (forward_)
        forward_->nudge();
    refreshCounters();
    // A hidden history is read again when it is shown.
    if (history_->isVisible())
        refreshHistory(history_->searchText());
    if (allEnded_ && busyFixtures().isEmpty()) {
        auto done = std::move(allEnded_);
        allEnded_ = nullptr;
        done();
    }
}

QString StationTab::closeQuestion() const
{
    const QList<int> busy = busyFixtures();
    if (busy.isEmpty())
        return {};
    if (busy.size() == 1)
        return QStringLiteral("Fixture %1 is testing a pack. Abort its run (the record is kept as ABORTED) and exit?").arg(busy.first());
    QStringList names;
    for (int fixture : busy)
        names.append(QString::number(fixture));
    return QStringLiteral("Fixtures %1 are testing packs. Abort the runs (their records are kept as ABORTED) and exit?")
        .arg(names.join(QStringLiteral(", ")));
}

void StationTab::abortAll(std::function<void()> done)
{
    closing_ = true;
    for (int i = 0; i < int(runners_.size()); ++i) {
        FixtureRunner* r = runners_[size_t(i)];
        if (r->running())
            r->abort();
        else if (r->busy())
            refuse(i, QStringLiteral("Not started: the window is closing"));
    }
    if (busyFixtures().isEmpty()) {
        if (done)
            done();
        return;
    }
    allEnded_ = std::move(done);
}

bool StationTab::saveConfig(const StationConfig& config)
{
    QString error;
    if (!config.save(configPath_, error)) {
        host_.showError(error);
        return false;
    }
    config_ = config;
    return true;
}

void StationTab::unlock(const QString& password)
{
    if (config_.checkPassword(password)) {
        settings_->setUnlocked(true);
        settings_->setStatus({});
    } else {
        settings_->setStatus(QStringLiteral("Wrong password"));
    }
}

void StationTab::saveSettings()
{
    if (!settings_->unlocked())
        return;
    if (!busyFixtures().isEmpty()) {
        host_.showMessage(QStringLiteral("The station settings can be changed when no fixture is testing a pack"));
        return;
    }
    const StationConfig edited = settings_->edited(config_);
    if (!edited.recipe.isEmpty() && !recipe_.load(edited.recipe)) {
        host_.showMessage(recipe_.error());
        return;
    }
    if (!saveConfig(edited))
        return;
    applyConfig();
    settings_->setUnlocked(true);
    settings_->setStatus(QStringLiteral("Saved to %1").arg(configPath_));
}

void StationTab::setPassword(const QString& password)
{
    if (!settings_->unlocked())
        return;
    StationConfig changed = config_;
    changed.setPassword(password);
    if (!saveConfig(changed))
        return;
    settings_->load(config_, ListSerialPorts());
    settings_->setUnlocked(true);
    settings_->setStatus(password.isEmpty() ? QStringLiteral("The password is removed: the settings are open to anyone")
                                            : QStringLiteral("Password set: the settings lock when you leave this page"));
}

void StationTab::newShift()
{
    if (!settings_->unlocked())
        return;
    StationConfig changed = config_;
    changed.shiftStart = QDateTime::currentDateTime();
    if (saveConfig(changed)) {
        settings_->setStatus(QStringLiteral("A new shift began at %1").arg(changed.shiftStart.toString(QStringLiteral("HH:mm"))));
        refreshCounters();
    }
}

} // namespace bms::stationtab
