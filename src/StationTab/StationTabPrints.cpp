// The Station tab's labels and reports: a run that ended has its label
// printed and its report kept on the print pool (PrintWorker), never on the
// window's thread; the panel says "Label queued", "Label printed" or, in a
// colour the operator notices, "Label not printed: <reason>" with "Print
// again". Every print and reprint is kept in the records (on the records
// thread). Printing never changes the run's outcome or holds the next scan.
#include "StationTab.h"

#include "CupsJobs.h"
#include "FixturePanel.h"
#include "HistoryPage.h"
#include "LayoutPainter.h"
#include "PrintWorker.h"
#include "RecordStore.h"
#include "RecordsWorker.h"
#include "RunPrint.h"
#include "SettingsPage.h"

#include <QVariant>

namespace bms::stationtab {

namespace {

// What a job of the tab prints: the recipe's label and report sections for
// a run that ended `outcome`.
PrintJob JobFor(const station::Recipe& recipe, const QJsonObject& record, const StationConfig& config, const QString& results)
{
    PrintJob job;
    job.record = record;
    const QString outcome = record.value(QLatin1String("outcome")).toString();
    if (recipe.label && recipe.label->wanted(outcome))
        job.label = recipe.label;
    job.report = recipe.report;
    job.defaultPrinter = config.printer;
    job.operatorName = record.value(QLatin1String("operator")).toString();
    job.resultsFolder = results;
    return job;
}

} // namespace

void StationTab::printRun(int index)
{
    // The record as the run wrote it: its file, read on the print pool.
    const FixtureState& s = runners_[size_t(index)]->model().state();
    const auto& recipe = recipe_.recipe();
    labels_[size_t(index)] = {};
    panels_[size_t(index)]->showLabel({});
    if (s.recordPath.isEmpty() || !recipe || (!recipe->label && !recipe->report))
        return;
    const QString outcome = s.verdict == station::Outcome::Pass ? station::OutcomeName(station::Outcome::Pass) : QString();
    PrintJob job = JobFor(*recipe, {{QStringLiteral("outcome"), outcome}}, config_, runners_[size_t(index)]->resultsFolder());
    job.record = {};
    job.recordPath = s.recordPath;
    // The run's operator: the one the fixture's run was started with (the
    // record is read only on the pool).
    job.operatorName = config_.operatorName;
    labels_[size_t(index)].runId = s.runId;
    sendPrint(index, std::move(job));
}

void StationTab::printAgain(int index)
{
    const LastLabel& last = labels_[size_t(index)];
    const auto& recipe = recipe_.recipe();
    if (last.record.isEmpty() || !recipe || !recipe->label || last.state != QLatin1String("failed"))
        return;
    PrintJob job = JobFor(*recipe, last.record, config_, {});
    job.label = recipe->label;
    job.report.reset();
    job.earlierJobId = last.jobId;
    job.earlierPrinter = last.printer;
    sendPrint(index, std::move(job));
}

void StationTab::sendPrint(int index, PrintJob job)
{
    if (!prints_)
        prints_ = std::make_unique<PrintWorker>();
    const QString runId = job.record.isEmpty() ? labels_[size_t(index)].runId : job.record.value(QLatin1String("run_id")).toString();
    if (job.label) {
        labels_[size_t(index)].state = QStringLiteral("queued");
        if (!labels_[size_t(index)].previousPack)
            panels_[size_t(index)]->showLabel(QStringLiteral("queued"));
    }
    prints_->print(std::move(job), this, [this, index, runId](const PrintOutcome& out) {
        if (out.report)
            keepPrint(*out.report);
        if (!out.reportError.isEmpty())
            setScanStatus(QStringLiteral("Fixture %1: the report was not kept: %2").arg(index + 1).arg(out.reportError), true);
        else if (out.report && out.report->state != QLatin1String("printed"))
            setScanStatus(QStringLiteral("Fixture %1: the report was not printed: %2").arg(index + 1).arg(out.report->reason), true);
        if (out.label)
            keepPrint(*out.label);
        // The fixture may have ended its next pack: its panel shows that
        // pack's label from then on.
        if (index >= int(labels_.size()) || labels_[size_t(index)].runId != runId)
            return;
        LastLabel& last = labels_[size_t(index)];
        last.record = out.record;
        if (!out.error.isEmpty())
            return panels_[size_t(index)]->showLabel(QStringLiteral("failed"), QStringLiteral("the record cannot be read: ") + out.error);
        if (!out.label)
            return;
        last.state = out.label->state;
        last.jobId = out.label->jobId;
        last.printer = out.label->printer;
        if (last.previousPack && last.state != QLatin1String("failed"))
            return panels_[size_t(index)]->showLabel({});
        panels_[size_t(index)]->showLabel(last.state, out.label->reason);
    });
}

void StationTab::keepPrint(const records::PrintEntry& entry)
{
    records().postKept([entry](records::StationRecords* r, const QString&) {
        QString error;
        if (r)
            records::StorePrint(r->local(), entry, error);
    });
}

void StationTab::reprint(const QString& runId, const QString& reason)
{
    const auto& recipe = recipe_.recipe();
    if (reason.trimmed().isEmpty())
        return history_->setStatus(QStringLiteral("A reprint needs its reason"));
    if (!recipe || !recipe->label)
        return history_->setStatus(QStringLiteral("The recipe prints no label"));
    history_->setStatus(QStringLiteral("Reprinting..."));
    QPointer<StationTab> self(this);
    const station::LabelSection label = *recipe->label;
    records().post([self, runId, reason, label, printer = config_.printer, op = config_.operatorName](records::StationRecords* r,
                                                                                                     const QString& error) {
        QString why = error;
        const auto record = r ? r->localStore().load(runId, why) : std::nullopt;
        RecordsWorker::reply(self, [self, record, why, runId, reason, label, printer, op] {
            if (!self)
                return;
            if (!record)
                return self->history_->setStatus(QStringLiteral("The run cannot be read: ") + why);
            PrintJob job;
            job.record = *record;
            job.label = label;
            job.defaultPrinter = printer;
            job.operatorName = op;
            job.reprintReason = reason;
            if (!self->prints_)
                self->prints_ = std::make_unique<PrintWorker>();
            self->prints_->print(std::move(job), self, [self](const PrintOutcome& out) {
                if (!self || !out.label)
                    return;
                self->keepPrint(*out.label);
                self->history_->setStatus(out.label->state == QLatin1String("printed")
                                              ? QStringLiteral("Label printed again on %1").arg(out.label->printer)
                                              : QStringLiteral("Label not printed: ") + out.label->reason);
            });
        });
    });
}

void StationTab::testPrint(const QString& printer)
{
    if (!prints_)
        prints_ = std::make_unique<PrintWorker>();
    settings_->setStatus(QStringLiteral("Printing a test label on %1...").arg(printer.isEmpty() ? QStringLiteral("the default printer") : printer));
    prints_->run(
        [printer]() -> QVariant {
            labels::LabelLayout layout;
            layout.width = 50;
            layout.height = 25;
            layout.texts.push_back({2, 2, 4, QStringLiteral("Test label"), true});
            layout.texts.push_back({2, 8, 3, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), false});
            layout.barcodes.push_back({labels::Symbology::Code128, 2, 13, 46, 10, QStringLiteral("TEST")});
            labels::PrintOrder order;
            order.queue = printer.isEmpty() ? labels::Cups::DefaultQueue() : printer;
            order.format = labels::kPdfFormat;
            order.title = QStringLiteral("Test label");
            order.options = {QStringLiteral("media=Custom.50x25mm")};
            QString error;
            if (!labels::LabelPdf(layout, {}, order.data, error))
                return error;
            const labels::JobResult r = labels::Cups::Print(order, labels::kLabelJobTimeoutMs);
            return r.printed ? QStringLiteral("The test label was printed on %1").arg(order.queue)
                             : QStringLiteral("Label not printed: ") + r.reason;
        },
        this, [this](const QVariant& v) { settings_->setStatus(v.toString()); });
}

void StationTab::listPrinters()
{
    if (!prints_)
        prints_ = std::make_unique<PrintWorker>();
    prints_->run(
        []() -> QVariant {
            QString error;
            return labels::Cups::Queues(error);
        },
        this, [this](const QVariant& v) { settings_->setPrinters(v.toStringList()); });
}

} // namespace bms::stationtab
