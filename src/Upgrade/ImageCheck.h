// Checks a whole firmware image before an upgrade run sends anything, so
// that a file the run would stumble over half-way (after the pack has been
// rebooted and erased) is refused up front.
#pragma once

#include <QString>

namespace bms {

struct ImageCheckResult {
    // Empty when the image can be sent; otherwise the reason, naming the line.
    QString problem;
    // Records the run will send: for the dev firmware the lines before the
    // first empty line (which ends its transfer), for the main board every
    // line up to the last one that is not empty.
    int records = 0;
    bool ok() const { return problem.isEmpty(); }
};

// Reads the image `fileName` for the target chosen by `devFirmware`: every
// record line must convert and its length must fit the target's limit; a
// main-board image may not hold an empty line before its last record, and
// an image needs at least one record.
ImageCheckResult CheckImage(const QString& fileName, bool devFirmware);

} // namespace bms
