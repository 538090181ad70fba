// The "Station" tab: an operator scans a pack's barcode, the fixture it
// goes to runs the recipe on it, and a large PASS or FAIL shows on that
// fixture's panel. Up to eight fixtures side by side, each bound to a port
// and each running its packs in a process of its own (FixtureRunner).
//
//  - Scan box: keeps the focus, so a keyboard-wedge scanner types into it;
//    Enter or Tab starts the fixture that is selected (a click on its
//    panel) or else the first free one. A barcode that fails the recipe's
//    pattern, passed here before (asked of the records database), is on
//    another fixture already, or whose fixture's port is open in the window
//    is refused on the panel in words, and nothing starts. A run's question
//    that waits for a typed answer has the keys while it is open; a
//    scanner's line typed into another box is a scan all the same
//    (StationTabKeys.cpp).
//  - Shift counters (runs, PASS, FAIL, the station's losses, first-pass
//    yield since the shift began) and the line database's forwarding state.
//  - History of runs with their records; the engineer's settings.
//
// The records database is reached only from its own thread (RecordsWorker)
// and the forwarding runs on the ForwardLoop's, so the window's event loop
// waits on neither.
#pragma once

#include "FixtureRunner.h"
#include "KeyBurst.h"
#include "ScanCheck.h"
#include "StationConfig.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QGridLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace bms {
class PortWatcher;
class UiHost;
namespace records {
class ForwardLoop;
struct PrintEntry;
}
}

namespace bms::stationtab {

class FitLabel;
class FixturePanel;
class HistoryPage;
class PrintWorker;
struct PrintJob;
class QualityPage;
class RecordsWorker;
class SettingsPage;

class StationTab : public QWidget {
    Q_OBJECT
public:
    // The settings come from `configPath` (StationConfig::defaultPath() in
    // the window); message boxes go through `host`.
    StationTab(UiHost& host, const QString& configPath, QWidget* parent = nullptr);
    ~StationTab() override;

    // Whether the window's own port (the Data Collection tab's) is open on
    // the device `identity` (PortIdentity); a scan for a fixture on that
    // port is refused.
    std::function<bool(const QString& identity)> windowHoldsPort;

    // Words saying that the port `name` is in use by a fixture, naming it;
    // empty when no fixture is using it.
    QString portInUse(const QString& name) const;

    // Fixtures testing a pack (or checking its barcode).
    QList<int> busyFixtures() const;
    // What closing the window asks while fixtures are busy ("Fixtures 1, 3
    // are testing packs. Abort the runs ... and exit?"); empty when none is.
    QString closeQuestion() const;
    // Aborts every fixture's run; `done` is called once all have ended
    // (at once when none runs). No run starts afterwards.
    void abortAll(std::function<void()> done);

    // A scanned barcode, as Enter after it in the scan box.
    void scan(const QString& barcode);

    const StationConfig& config() const { return config_; }
    QLineEdit* scanBox() const { return scan_; }
    FixturePanel* panel(int fixture) const;
    FixtureRunner* runner(int fixture) const;
    HistoryPage* history() const { return history_; }
    QualityPage* quality() const { return quality_; }
    SettingsPage* settings() const { return settings_; }
    QString countersText() const;
    QString forwardingText() const;
    QString scanStatusText() const;
    void setAbortGraceMs(int ms);
    // The label of a run, printed again for `reason` (the history's
    // "Reprint label"); the answer shows on the history page.
    void reprint(const QString& runId, const QString& reason);

Q_SIGNALS:
    // The shift counters / the history table were refreshed.
    void countersUpdated();
    void historyUpdated();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyConfig();
    void buildFixtures();
    void showRecipe();
    void panelChanged(int index);
    void showDirtyPanels();
    void showPanel(int index);
    void setScanStatus(const QString& text, bool refused = false);
    int targetFixture() const;
    // A fixture is free but its port is missing.
    bool freeButPortless() const;
    // Looks whether each fixture's port is there; a panel shows "Port
    // missing" and its fixture is skipped until the port is back.
    void followPorts();
    void refuse(int index, const QString& words);
    void askPassedBefore(int index, const QString& barcode);
    void passedChecked(int index, const QString& barcode, std::optional<bool> passed);
    void startRun(int index, const QString& barcode);
    void runFinished(int index);
    // Writes the record the station keeps for a run that left none, as a
    // run's own: a file in the results folder and the PC's records.
    void keepLostRecord(int index, const QJsonObject& record);
    void refreshCounters();
    // The Quality page (StationTabQuality.cpp): made, added after the other
    // pages and answered from the records thread.
    void addQualityPage();
    void refreshHistory(const QString& text);
    void openRecord(const QString& runId);
    void showForwarding(int waiting, const QString& error);
    void startScan(const QString& text);
    // The box the keys belong in now: an open question's, else the scan box.
    QWidget* keysHome() const;
    // Gives the keys to keysHome() unless a question being answered has them.
    void placeFocus();
    void keepScanFocus(QWidget* now);
    // A key typed into `w`, another box of the tab; true when it ended a
    // scanner's line, which was taken as a scan.
    bool typedElsewhere(QWidget* w, const QKeyEvent* key);
    void unlock(const QString& password);
    void saveSettings();
    void setPassword(const QString& password);
    void newShift();
    RecordsWorker& records();
    // Labels and reports (StationTabPrints.cpp): the run that ended on
    // fixture `index` gets its label and report; "Print again" of a label
    // that did not come out; the settings' test print and printer list.
    void printRun(int index);
    void printAgain(int index);
    void sendPrint(int index, PrintJob job);
    void keepPrint(const records::PrintEntry& entry);
    void testPrint(const QString& printer);
    void listPrinters();
    bool saveConfig(const StationConfig& config);

    UiHost& host_;
    QString configPath_;
    StationConfig config_;
    RecipeGate recipe_;
    QDateTime openedAt_ = QDateTime::currentDateTime();
    std::unique_ptr<RecordsWorker> records_;
    std::unique_ptr<records::ForwardLoop> forward_;
    std::unique_ptr<PrintWorker> prints_;
    // Each fixture's last label: its run's record and its last job.
    struct LastLabel {
        QString runId;
        QJsonObject record; // once read
        QString state; // "queued", "printed", "failed"; empty: none
        int jobId = 0;
        QString printer;
        // The fixture tests its next pack: this label's "printed" is not
        // shown any more (a failure still is, with Print again).
        bool previousPack = false;
    };
    std::vector<LastLabel> labels_;
    std::vector<FixtureRunner*> runners_;
    std::vector<FixturePanel*> panels_;
    // The ports the fixtures were built with.
    QStringList builtPorts_;
    // Fixtures whose port is missing, by index.
    std::vector<bool> portMissing_;
    PortWatcher* portWatch_ = nullptr;
    bool scanRefused_ = false;
    // Panels whose fixture changed since they were last shown.
    QSet<int> dirty_;
    QTimer refresh_;
    static constexpr int kPanelRefreshMs = 100;
    int selected_ = -1; // index of the fixture the next scan goes to; -1: the first free
    bool closing_ = false;
    QMetaObject::Connection focusWatch_;
    std::function<void()> allEnded_;
    int abortGraceMs_ = FixtureRunner::kAbortGraceMs;
    // The keys typed outside the scan box, and what their box held before.
    QElapsedTimer keyClock_;
    KeyBurst burst_;
    struct BoxState {
        QPointer<QLineEdit> box;
        QString text;
        int cursor = 0;
        int selectionStart = -1;
        int selectionLength = 0;
    } typedInto_;

    QLineEdit* scan_;
    FitLabel* scanStatus_;
    FitLabel* recipeLabel_;
    QLabel* counters_;
    FitLabel* forwarding_;
    QTabWidget* pages_;
    QWidget* fixturesPage_;
    QGridLayout* grid_;
    HistoryPage* history_;
    SettingsPage* settings_;
    QualityPage* quality_ = nullptr;
};

} // namespace bms::stationtab
