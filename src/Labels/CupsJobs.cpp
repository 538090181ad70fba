#include "CupsJobs.h"

#include <QElapsedTimer>
#include <QThread>
#include <cups/cups.h>
#include <memory>

namespace bms::labels {

namespace {

using Http = std::unique_ptr<http_t, void (*)(http_t*)>;
using Ipp = std::unique_ptr<ipp_t, void (*)(ipp_t*)>;

constexpr int kConnectMs = 3000;
constexpr double kRequestS = 10;

Http Connect(QString& error)
{
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (!http) {
        error = QStringLiteral("CUPS is not running (%1 does not answer)").arg(QString::fromUtf8(cupsServer()));
        return Http(nullptr, httpClose);
    }
    httpSetTimeout(http, kRequestS, nullptr, nullptr);
    return Http(http, httpClose);
}

QByteArray PrinterUri(const QString& queue)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s", queue.toUtf8().constData());
    return uri;
}

QString Text(ipp_t* response, const char* name)
{
    ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_ZERO);
    if (!a)
        return {};
    QStringList values;
    for (int i = 0; i < ippGetCount(a); ++i)
        if (const char* s = ippGetString(a, i, nullptr))
            values << QString::fromUtf8(s);
    return values.join(QStringLiteral(", "));
}

// The queue's state: 0 when it is missing (error set), else IPP_PSTATE_*.
int QueueState(http_t* http, const QString& queue, bool& accepting, QString& message, QString& error)
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(queue).constData());
    static const char* const wanted[] = {"printer-state", "printer-state-message", "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    const Ipp response(cupsDoRequest(http, request, "/"), ippDelete);
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_EVENTS_COMPLETE) {
        const ipp_status_t status = cupsLastError();
        error = status == IPP_STATUS_ERROR_NOT_FOUND
                    ? QStringLiteral("the printer %1 does not exist").arg(queue)
                : status >= IPP_STATUS_ERROR_INTERNAL && !response
                    ? QStringLiteral("CUPS is not running (%1)").arg(QString::fromUtf8(cupsLastErrorString()))
                    : QStringLiteral("the printer %1: %2").arg(queue, QString::fromUtf8(cupsLastErrorString()));
        return 0;
    }
    ipp_attribute_t* accept = ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    accepting = !accept || ippGetBoolean(accept, 0);
    message = Text(response.get(), "printer-state-message");
    ipp_attribute_t* state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
    return state ? ippGetInteger(state, 0) : IPP_PSTATE_IDLE;
}

QString Stopped(const QString& queue, const QString& message)
{
    return message.isEmpty() ? QStringLiteral("the printer %1 is stopped").arg(queue)
                             : QStringLiteral("the printer %1 is stopped: %2").arg(queue, message);
}

void CancelOn(http_t* http, const QString& queue, int jobId)
{
    cupsCancelJob2(http, queue.toUtf8().constData(), jobId, 0);
}

} // namespace

QStringList Cups::Queues(QString& error)
{
    QString ignored;
    const Http http = Connect(error);
    if (!http)
        return {};
    cups_dest_t* dests = nullptr;
    const int n = cupsGetDests2(http.get(), &dests);
    QStringList names;
    for (int i = 0; i < n; ++i) {
        const QString name = QString::fromUtf8(dests[i].name);
        if (dests[i].instance)
            continue;
        if (dests[i].is_default)
            names.prepend(name);
        else
            names.append(name);
    }
    cupsFreeDests(n, dests);
    return names;
}

QString Cups::DefaultQueue()
{
    QString error;
    const Http http = Connect(error);
    if (!http)
        return {};
    cups_dest_t* dests = nullptr;
    const int n = cupsGetDests2(http.get(), &dests);
    QString name;
    for (int i = 0; i < n; ++i)
        if (dests[i].is_default && !dests[i].instance)
            name = QString::fromUtf8(dests[i].name);
    cupsFreeDests(n, dests);
    return name;
}

int Cups::Submit(const PrintOrder& order, QString& error)
{
    if (order.queue.isEmpty()) {
        error = QStringLiteral("no printer is set");
        return 0;
    }
    const Http http = Connect(error);
    if (!http)
        return 0;
    bool accepting = true;
    QString message;
    const int state = QueueState(http.get(), order.queue, accepting, message, error);
    if (state == 0)
        return 0;
    if (state == IPP_PSTATE_STOPPED) {
        error = Stopped(order.queue, message);
        return 0;
    }
    if (!accepting) {
        error = QStringLiteral("the printer %1 does not accept jobs").arg(order.queue);
        return 0;
    }
    const QByteArray queue = order.queue.toUtf8();
    int numOptions = 0;
    cups_option_t* options = nullptr;
    numOptions = cupsAddOption("copies", QByteArray::number(order.copies).constData(), numOptions, &options);
    for (const QString& o : order.options) {
        const qsizetype eq = o.indexOf(QLatin1Char('='));
        numOptions = cupsAddOption(o.left(eq).toUtf8().constData(), o.mid(eq + 1).toUtf8().constData(), numOptions, &options);
    }
    const int job = cupsCreateJob(http.get(), queue.constData(), order.title.toUtf8().constData(), numOptions, options);
    cupsFreeOptions(numOptions, options);
    if (job <= 0) {
        error = QStringLiteral("the printer %1 refused the job: %2").arg(order.queue, QString::fromUtf8(cupsLastErrorString()));
        return 0;
    }
    bool sent = cupsStartDocument(http.get(), queue.constData(), job, order.title.toUtf8().constData(),
                                  order.format.toUtf8().constData(), 1)
                == HTTP_STATUS_CONTINUE;
    sent = sent && cupsWriteRequestData(http.get(), order.data.constData(), static_cast<size_t>(order.data.size())) == HTTP_STATUS_CONTINUE;
    const ipp_status_t finished = cupsFinishDocument(http.get(), queue.constData());
    if (!sent || finished > IPP_STATUS_OK_EVENTS_COMPLETE) {
        error = QStringLiteral("the job could not be handed to %1: %2").arg(order.queue, QString::fromUtf8(cupsLastErrorString()));
        CancelOn(http.get(), order.queue, job);
        return 0;
    }
    return job;
}

JobResult Cups::Follow(const QString& queue, int jobId, int timeoutMs, const std::atomic<bool>* stop)
{
    JobResult result{false, jobId, {}};
    QElapsedTimer clock;
    clock.start();
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", jobId);
    for (;;) {
        const Http http = Connect(result.reason);
        if (!http)
            return result;
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
        static const char* const wanted[] = {"job-state", "job-state-reasons", "job-printer-state-message"};
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
        const Ipp response(cupsDoRequest(http.get(), request, "/"), ippDelete);
        if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_EVENTS_COMPLETE) {
            result.reason = !response ? QStringLiteral("CUPS stopped answering (%1)").arg(QString::fromUtf8(cupsLastErrorString()))
                                      : QStringLiteral("CUPS lost the job: %1").arg(QString::fromUtf8(cupsLastErrorString()));
            return result;
        }
        ipp_attribute_t* stateAttr = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM);
        const int state = stateAttr ? ippGetInteger(stateAttr, 0) : IPP_JSTATE_PENDING;
        const QString why = Text(response.get(), "job-printer-state-message");
        const QString reasons = Text(response.get(), "job-state-reasons");
        auto fail = [&](const QString& reason, bool cancel) {
            result.reason = reason;
            if (cancel)
                CancelOn(http.get(), queue, jobId);
            return result;
        };
        switch (state) {
        case IPP_JSTATE_COMPLETED: result.printed = true; return result;
        case IPP_JSTATE_CANCELED: return fail(QStringLiteral("the job was cancelled (%1)").arg(reasons), false);
        case IPP_JSTATE_ABORTED:
            return fail(QStringLiteral("the printer %1 gave the job up: %2").arg(queue, why.isEmpty() ? reasons : why), false);
        case IPP_JSTATE_STOPPED:
        case IPP_JSTATE_HELD:
            return fail(QStringLiteral("the job stopped on %1: %2").arg(queue, why.isEmpty() ? reasons : why), true);
        default: break;
        }
        bool accepting = true;
        QString message, error;
        const int printer = QueueState(http.get(), queue, accepting, message, error);
        if (printer == IPP_PSTATE_STOPPED)
            return fail(Stopped(queue, message.isEmpty() ? why : message), true);
        if (printer == 0)
            return fail(error, false);
        if (stop && stop->load())
            return fail(QStringLiteral("printing was stopped"), true);
        if (clock.elapsed() > timeoutMs)
            return fail(QStringLiteral("the printer %1 did not take the job within %2 s").arg(queue).arg(timeoutMs / 1000), true);
        QThread::msleep(100);
    }
}

JobResult Cups::Print(const PrintOrder& order, int timeoutMs, const std::atomic<bool>* stop)
{
    JobResult result;
    result.jobId = Submit(order, result.reason);
    if (!result.jobId)
        return result;
    return Follow(order.queue, result.jobId, timeoutMs, stop);
}

void Cups::Cancel(const QString& queue, int jobId)
{
    QString ignored;
    if (const Http http = Connect(ignored))
        CancelOn(http.get(), queue, jobId);
}

} // namespace bms::labels
