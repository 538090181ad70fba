// The "Trends" tab: the stacked trend charts with the cell bars beside them,
// and a tool row above: the time presets (1 min, 10 min, 1 h, all), "Follow",
// the choice between the live timeline and a data log opened from disk (and,
// for a bus log, of the pack to draw), "Open log…", PNG and CSV export and
// "Clear".
//
// The live timeline is recorded whether or not the tab is shown; the tab
// repaints only while it is visible. A data log is read on a worker thread,
// so the window and the sampling go on while a large log loads.
#pragma once

#include "LogLoader.h"
#include "PackSample.h"

#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace bms::trends {

class CellBars;
class TrendCharts;

class TrendsTab : public QWidget {
    Q_OBJECT
public:
    enum class FileRole { OpenLog, SavePng, SaveCsv };

    explicit TrendsTab(TrendRecorder& recorder, QWidget* parent = nullptr);
    ~TrendsTab() override;

    // Asks for a file name (tests replace it); empty when cancelled.
    std::function<QString(FileRole)> chooseFile;

    TrendCharts* charts() const { return charts_; }
    CellBars* bars() const { return bars_; }

    // Loads a data log in the background, its progress in the status line
    // and a "Cancel" button beside "Open log…"; logLoaded follows (false
    // when the load failed or was cancelled).
    void openLog(const QString& path);
    void cancelLoad();
    bool loading() const { return bool(job_); }
    // Writes the visible charts / the samples of the visible range; false
    // (with the error shown) when the file cannot be written.
    bool exportPng(const QString& path);
    bool exportCsv(const QString& path);
    // Repaints now from the shown timeline.
    void refresh();

Q_SIGNALS:
    void logLoaded(bool ok);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct LoadJob;

    const SampleStore& shownStore() const;
    bool showingLive() const;
    void sampleRecorded();
    void presetChosen(int64_t spanMs);
    void followToggled(bool on);
    void rangeMovedByUser(int64_t t0, int64_t t1);
    void logFinished(std::shared_ptr<LoadedLog> log, const QString& error);
    // The pack of the bus log chosen, or nothing.
    const PackTimeline* shownPack() const;
    void showPackChoice();
    void showLoadProgress();
    void clearClicked();
    void updateStatus();
    QString askFile(FileRole role);

    TrendRecorder& recorder_;
    std::unique_ptr<LoadedLog> log_;
    std::unique_ptr<LoadJob> job_;
    TrendCharts* charts_;
    CellBars* bars_;
    QCheckBox* follow_;
    QButtonGroup* presets_;
    QComboBox* source_;
    QComboBox* pack_; // the pack of a bus log
    QLabel* status_;
    QPushButton* cancelLoad_;
    QTimer* loadProgress_;
    QTimer* repaint_;
    QElapsedTimer sinceRepaint_;
    int64_t spanMs_ = 10LL * 60 * 1000; // 0: everything
    int64_t viewStart_ = 0, viewEnd_ = 0; // while not following
};

} // namespace bms::trends
