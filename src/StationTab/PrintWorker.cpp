#include "PrintWorker.h"

#include "CupsJobs.h"
#include "DurableFile.h"
#include "Record.h"
#include "RunPrint.h"
#include "UnitReport.h"

#include <QDir>
#include <QVariant>
#include <sys/resource.h>
#include <unistd.h>

namespace bms::stationtab {

PrintWorker::PrintWorker()
{
    // Four fixtures that end at once each have their label on its way.
    pool_.setMaxThreadCount(4);
}

namespace {

// A pool thread yields to the window's thread when the processor is busy:
// drawing a report or a label is never worth a stalled window. (Linux keeps
// a nice value per thread.)
void YieldToTheWindow()
{
    thread_local const bool lowered = setpriority(PRIO_PROCESS, id_t(gettid()), 10) == 0;
    (void)lowered;
}

} // namespace

PrintWorker::~PrintWorker()
{
    stop_->store(true);
    pool_.waitForDone();
}

PrintOutcome PrintWorker::Print(const PrintJob& given, const std::atomic<bool>* stop)
{
    PrintOutcome out;
    PrintJob job = given;
    if (job.record.isEmpty()) {
        const std::optional<QJsonObject> read = records::ReadRecordFile(job.recordPath, out.error);
        if (!read)
            return out;
        job.record = *read;
    }
    out.record = job.record;
    const QString outcome = job.record.value(QLatin1String("outcome")).toString();
    if (job.report && job.report->wanted(outcome)) {
        const QString folder = job.report->folder.isEmpty() ? job.resultsFolder + QStringLiteral("/reports") : job.report->folder;
        const QString path = QDir(folder).filePath(labels::ReportFileName(job.record));
        QByteArray pdf;
        QString error;
        if (QDir().mkpath(folder) && labels::ReportPdf(job.record, pdf, error) && WriteFileAtomically(path, pdf, error))
            out.reportPath = path;
        else
            out.reportError = error.isEmpty() ? QStringLiteral("the folder %1 cannot be made").arg(folder) : error;
        if (job.report->print && !pdf.isEmpty()) {
            records::PrintEntry e;
            e.runId = job.record.value(QLatin1String("run_id")).toString();
            e.kind = QStringLiteral("report");
            e.operatorName = job.operatorName;
            e.stationId = job.record.value(QLatin1String("station_id")).toString();
            e.printer = !job.report->printer.isEmpty() ? job.report->printer
                        : !job.defaultPrinter.isEmpty() ? job.defaultPrinter
                                                        : labels::Cups::DefaultQueue();
            const labels::JobResult r = labels::Cups::Print(
                {e.printer, pdf, labels::kPdfFormat, 1, QStringLiteral("Report %1").arg(e.runId), {}}, labels::kLabelJobTimeoutMs, stop);
            e.at = QDateTime::currentDateTime();
            e.jobId = r.jobId;
            e.state = r.printed ? QStringLiteral("printed") : QStringLiteral("failed");
            e.reason = r.reason;
            out.report = e;
        }
    }
    if (job.label) {
        labels::LabelRequest request;
        request.record = job.record;
        request.label = *job.label;
        request.defaultPrinter = job.defaultPrinter;
        request.operatorName = job.operatorName;
        request.reprintReason = job.reprintReason;
        request.earlierJobId = job.earlierJobId;
        request.earlierPrinter = job.earlierPrinter;
        out.label = labels::PrintRunLabel(request, labels::kLabelJobTimeoutMs, stop);
    }
    return out;
}

void PrintWorker::print(PrintJob job, QObject* context, std::function<void(const PrintOutcome&)> done)
{
    QPointer<QObject> guard(context);
    pool_.start([job = std::move(job), guard, done = std::move(done), stop = stop_] {
        YieldToTheWindow();
        const PrintOutcome out = Print(job, stop.get());
        if (guard)
            QMetaObject::invokeMethod(guard, [out, done] { done(out); }, Qt::QueuedConnection);
    });
}

void PrintWorker::run(std::function<QVariant()> work, QObject* context, std::function<void(const QVariant&)> done)
{
    QPointer<QObject> guard(context);
    pool_.start([work = std::move(work), guard, done = std::move(done)] {
        YieldToTheWindow();
        const QVariant v = work();
        if (guard)
            QMetaObject::invokeMethod(guard, [v, done] { done(v); }, Qt::QueuedConnection);
    });
}

} // namespace bms::stationtab
