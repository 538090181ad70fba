#include "RunPrint.h"

#include "CupsJobs.h"
#include "LabelJob.h"

namespace bms::labels {

records::PrintEntry PrintRunLabel(const LabelRequest& request, int timeoutMs, const std::atomic<bool>* stop)
{
    records::PrintEntry e;
    e.runId = request.record.value(QLatin1String("run_id")).toString();
    e.kind = QStringLiteral("label");
    e.operatorName = request.operatorName;
    e.stationId = request.record.value(QLatin1String("station_id")).toString();
    e.reprintReason = request.reprintReason;
    e.state = QStringLiteral("failed");
    if (request.earlierJobId > 0)
        Cups::Cancel(request.earlierPrinter, request.earlierJobId);
    PrintOrder order;
    QString error;
    if (!MakeLabelOrder(request.label, request.record, request.defaultPrinter, order, error)) {
        e.reason = error;
        e.at = QDateTime::currentDateTime();
        return e;
    }
    e.printer = order.queue;
    const JobResult r = Cups::Print(order, timeoutMs, stop);
    e.at = QDateTime::currentDateTime();
    e.jobId = r.jobId;
    e.state = r.printed ? QStringLiteral("printed") : QStringLiteral("failed");
    e.reason = r.reason;
    return e;
}

} // namespace bms::labels
