// A run's label printed: the order made from the recipe's [label] section
// and the record, handed to CUPS and followed until the printer took it or
// it failed; what happened as the print entry kept in the records. Blocks
// for as long as the job takes (the window calls it on a thread of its own).
// Printing never touches the run's outcome.
#pragma once

#include "OutputSections.h"
#include "PrintLog.h"

#include <QJsonObject>
#include <atomic>

namespace bms::labels {

struct LabelRequest {
    QJsonObject record;
    station::LabelSection label;
    QString defaultPrinter;
    QString operatorName;  // who prints: the run's operator, or the one reprinting
    QString reprintReason; // empty for the run's first print
    // A job an earlier attempt left with CUPS, cancelled before the new one
    // so that the label comes out once.
    int earlierJobId = 0;
    QString earlierPrinter;
};

// How long a label job may take before it is given up.
constexpr int kLabelJobTimeoutMs = 60000;

records::PrintEntry PrintRunLabel(const LabelRequest& request, int timeoutMs = kLabelJobTimeoutMs,
                                  const std::atomic<bool>* stop = nullptr);

} // namespace bms::labels
