// The Station tab's questions to the records database: whether a barcode
// passed here, the shift's counters, the runs waiting for the line, the
// history and a run's record. Each is a job for the records thread whose
// answer comes back to the tab on the window's thread.
#include "StationTab.h"

#include "FitLabel.h"
#include "Forwarder.h"
#include "HistoryPage.h"
#include "Queries.h"
#include "RecordStore.h"
#include "RunRecord.h"
#include "Stores.h"
#include "RecordsWorker.h"
#include "StationWords.h"

#include <QLabel>

namespace bms::stationtab {

namespace {

// Runs shown in the history when nothing is searched for.
constexpr int kHistoryRows = 200;

} // namespace

void StationTab::askPassedBefore(int index, const QString& barcode)
{
    FixtureRunner* runner = runners_[size_t(index)];
    const QString station = config_.stationId;
    const bool askPassed = !recipe_.allowsRetest();
    const QString serialKey = recipe_.serialKey(QDate::currentDate());
    records().post([this, runner, index, barcode, station, askPassed, serialKey](records::StationRecords* records,
                                                                                const QString& openError) {
        QString error = openError;
        std::optional<bool> passed = false;
        QString noSerials;
        // The PC's own runs only: a line server that does not answer must
        // not keep the fixture waiting. The run asks the line itself and
        // fails its scan when the pack passed on another PC of the station.
        if (records && askPassed)
            passed = records->localStore().passedBefore(barcode, station, error);
        else if (!records)
            passed.reset();
        // No serial number left for the pack while the line is down: refused
        // before the pack is touched.
        if (records && !serialKey.isEmpty())
            noSerials = records->noSerialsLeft(serialKey);
        RecordsWorker::reply(this, [this, runner, index, barcode, passed, noSerials] {
            // The fixtures may have been rebuilt meanwhile.
            if (index >= int(runners_.size()) || runners_[size_t(index)] != runner)
                return;
            if (!noSerials.isEmpty() && runner->model().state().phase == Phase::Checking)
                return refuse(index, noSerials);
            passedChecked(index, barcode, passed);
        });
    });
}

void StationTab::keepLostRecord(int index, const QJsonObject& record)
{
    FixtureRunner* runner = runners_[size_t(index)];
    const QString folder = station::DefaultResultsFolder();
    // Kept also when the window closes right after the run ended.
    records().postKept([this, runner, index, record, folder](records::StationRecords* records, const QString& openError) {
        const QString runId = record.value(QStringLiteral("run_id")).toString();
        QString error = openError;
        QString path;
        // The run's own record may have reached the database, its file gone.
        QString ignored;
        const std::optional<QJsonObject> own = records ? records->localStore().load(runId, ignored) : std::nullopt;
        if (own && !own->isEmpty())
            return;
        if (station::WriteRecord(folder, record, path, error)) {
            // As a run's own: the file first, then the database, else a mark
            // for the next run to store it.
            if (!records || !records->store(record, error))
                station::KeepForLater(folder, runId);
        } else {
            path.clear();
        }
        RecordsWorker::reply(this, [this, runner, index, runId, path, error] {
            if (index >= int(runners_.size()) || runners_[size_t(index)] != runner)
                return;
            runner->model().recordKept(runId, path, error);
            showPanel(index);
        });
    });
}

RecordsWorker& StationTab::records()
{
    if (!records_) {
        records::RecordsConfig config;
        config.lineUrl = config_.lineDatabase();
        records_ = std::make_unique<RecordsWorker>(config);
    }
    return *records_;
}

void StationTab::refreshCounters()
{
    if (!config_.incomplete().isEmpty())
        return;
    const QDateTime since = config_.shiftStart.isValid() ? config_.shiftStart : openedAt_;
    records::RunFilter filter;
    filter.station = config_.stationId;
    filter.sinceMs = since.toMSecsSinceEpoch();
    const bool countQueue = config_.lineDatabase().isEmpty();
    records().post([this, filter, since, countQueue](records::StationRecords* records, const QString& openError) {
        QString error = openError;
        std::optional<std::vector<records::StatsRow>> rows;
        std::optional<int> queued;
        if (records) {
            rows = records::Stats(records->local(), filter, records::StatsGroup::None, error);
            if (countQueue) {
                QString ignored;
                queued = records::Forwarder(records->local(), {}).waiting(ignored);
            }
        }
        RecordsWorker::reply(this, [this, rows, error, since, queued] {
            // The database's own words are for the engineer: in the tooltip.
            if (!rows || rows->empty()) {
                counters_->setText(QStringLiteral("Shift counters unknown: ") + DatabaseErrorWords(error));
                counters_->setToolTip(error);
            } else {
                counters_->setText(ShiftCountersText(rows->back(), since));
                counters_->setToolTip({});
            }
            if (queued)
                forwarding_->setWholeText(*queued == 0 ? QStringLiteral("No line database")
                                                       : QStringLiteral("No line database: %1 kept on this PC only").arg(RunsText(*queued)));
            Q_EMIT countersUpdated();
        });
    });
}

void StationTab::showForwarding(int waiting, const QString& error)
{
    QString text = waiting < 0 ? QStringLiteral("forwarding state unknown") : records::WaitingText(waiting);
    if (!error.isEmpty() && waiting != 0)
        text += QStringLiteral(" (%1)").arg(error.section(QLatin1Char('\n'), 0, 0));
    forwarding_->setWholeText(text);
}

void StationTab::refreshHistory(const QString& text)
{
    records::RunFilter filter;
    filter.anyId = text;
    filter.limit = kHistoryRows;
    records().post([this, filter](records::StationRecords* records, const QString& openError) {
        QString error = openError;
        std::optional<std::vector<records::RunSummary>> runs;
        if (records)
            runs = records::History(records->local(), filter, error);
        RecordsWorker::reply(this, [this, runs, error] {
            history_->showRuns(runs.value_or(std::vector<records::RunSummary>{}), runs ? QString() : error);
            Q_EMIT historyUpdated();
        });
    });
}

void StationTab::openRecord(const QString& runId)
{
    records().post([this, runId](records::StationRecords* records, const QString& openError) {
        QString error = openError;
        std::optional<QJsonObject> record;
        if (records)
            record = records->localStore().load(runId, error);
        RecordsWorker::reply(this, [this, record, error] { history_->showRecord(record.value_or(QJsonObject{}), record ? QString() : error); });
    });
}

} // namespace bms::stationtab
