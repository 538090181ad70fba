// The Station tab's printing: each label (and report) is made and handed to
// CUPS on a thread of a pool of its own and followed there until the
// printer took it or it failed, so the window never waits for CUPS and one
// fixture's stuck printer never holds another's label. The answer comes
// back on the window's thread. Printing never changes a run's outcome.
#pragma once

#include "OutputSections.h"
#include "PrintLog.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace bms::stationtab {

struct PrintJob {
    QJsonObject record;
    QString recordPath; // read on the pool when `record` is empty
    std::optional<station::LabelSection> label;   // nothing: no label
    std::optional<station::ReportSection> report; // nothing: no report kept
    QString defaultPrinter;
    QString operatorName;
    QString resultsFolder;  // reports go to "reports" there unless the recipe says
    QString reprintReason;  // empty for the first print
    int earlierJobId = 0;   // a job of an earlier attempt, cancelled first
    QString earlierPrinter;
};

struct PrintOutcome {
    QJsonObject record; // the record printed from
    QString error;      // the record could not be read
    std::optional<records::PrintEntry> label;
    std::optional<records::PrintEntry> report; // printed report
    QString reportPath;  // the report kept, empty when none
    QString reportError; // why it could not be kept
};

class PrintWorker {
public:
    PrintWorker();
    // Stops following the jobs (they are cancelled) and waits for the pool.
    ~PrintWorker();
    PrintWorker(const PrintWorker&) = delete;
    PrintWorker& operator=(const PrintWorker&) = delete;

    // Prints on the pool; `done` runs on `context`'s thread unless
    // `context` is gone by then.
    void print(PrintJob job, QObject* context, std::function<void(const PrintOutcome&)> done);
    // Any job on the pool, its answer handed back the same way.
    void run(std::function<QVariant()> work, QObject* context, std::function<void(const QVariant&)> done);

    // The work itself (blocking), for the pool and the tests.
    static PrintOutcome Print(const PrintJob& job, const std::atomic<bool>* stop);

private:
    QThreadPool pool_;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
};

} // namespace bms::stationtab
