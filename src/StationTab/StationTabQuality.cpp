// The Station tab's Quality page and its questions to the records
// database: each a job for the records thread, whose answer comes back to
// the page on the window's thread.
#include "StationTab.h"

#include "HistoryPage.h"
#include "QualityPage.h"
#include "RecordsWorker.h"

#include <QDateTime>
#include <QTabWidget>

namespace bms::stationtab {

namespace {

// The histogram's bins, and the newest readings an I-MR chart shows.
constexpr int kBins = 24;
constexpr int kChartPoints = 300;

} // namespace

void StationTab::addQualityPage()
{
    quality_ = new QualityPage(pages_);
    quality_->setObjectName(QStringLiteral("stationQualityPage"));
    pages_->addTab(quality_, QStringLiteral("Quality"));
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        if (pages_->widget(page) != quality_)
            return;
        quality_->setStation(config_.stationId, config_.shiftStart.isValid() ? config_.shiftStart : openedAt_);
        quality_->refresh();
    });
    connect(quality_, &QualityPage::overviewRequested, this, [this](const records::RunFilter& filter) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        records().post([this, filter, now](records::StationRecords* records, const QString& openError) {
            QualityOverview overview;
            if (records)
                overview = LoadOverview(records->local(), filter, now);
            else
                overview.error = openError;
            RecordsWorker::reply(this, [this, overview] { quality_->showOverview(overview); });
        });
    });
    connect(quality_, &QualityPage::measurementRequested, this, [this](const records::RunFilter& filter, const QString& key) {
        records().post([this, filter, key](records::StationRecords* records, const QString& openError) {
            MeasurementDetail detail;
            if (records)
                detail = LoadMeasurement(records->local(), filter, key, kBins, kChartPoints);
            else
                detail.error = openError;
            RecordsWorker::reply(this, [this, detail] {
                // Only the answer to the measurement still chosen.
                if (detail.key == quality_->measurement())
                    quality_->showMeasurement(detail);
            });
        });
    });
    connect(quality_, &QualityPage::runsRequested, this, [this](const records::RunFilter& filter) {
        records().post([this, filter](records::StationRecords* records, const QString& openError) {
            QString error = openError;
            std::optional<std::vector<records::RunSummary>> runs;
            if (records)
                runs = records::History(records->local(), filter, error);
            RecordsWorker::reply(this, [this, runs, error] {
                quality_->showRuns(runs.value_or(std::vector<records::RunSummary>{}), runs ? QString() : error);
            });
        });
    });
    connect(quality_, &QualityPage::recordRequested, this, &StationTab::openRecord);
}

} // namespace bms::stationtab
