// What the window checks before a scanned barcode starts a run: the recipe's
// pattern for the barcode (the run checks it again; a refusal here starts no
// process and writes no record), and which device file a port name means,
// so that two names of one port are known to be the same.
#pragma once

#include "Recipe.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace bms::stationtab {

// The recipe as the window knows it, loaded again whenever its file
// changes (the engineer may edit it between two packs).
class RecipeGate {
public:
    // Loads the recipe at `path` unless it is loaded and unchanged; false
    // with error() when it cannot be used.
    bool load(const QString& path);
    const std::optional<station::Recipe>& recipe() const { return recipe_; }
    const QString& error() const { return error_; }

    // Why `barcode` may not start a run of the recipe at `path`, in words;
    // empty when it may. A recipe without a scan step takes any barcode
    // that is not empty.
    QString refusal(const QString& path, const QString& barcode);
    // The recipe lets a barcode that passed at this station be tested again.
    bool allowsRetest() const { return recipe_ && recipe_->allowRetest; }
    // The serial-number key of `day` when the recipe writes serial numbers;
    // empty when it writes none.
    QString serialKey(const QDate& day) const;

private:
    QString path_;
    QDateTime modified_;
    qint64 size_ = -1;
    std::optional<station::Recipe> recipe_;
    QString error_;
};

// Why `barcode` does not have the form the scan step wants, in the
// operator's words: the recipe's pattern_hint, or "needs 12 digits, 11
// scanned" for a pattern of digits; never the regular expression.
QString PatternRefusal(const station::RecipeStep& scan, const QString& barcode);

// The device file the port name `name` opens, links resolved: a device
// path, a bare device name ("ttyUSB0"), "COM3", or the name of a running
// virtual pack ("demo", "virtual-pack-demo").
QString PortIdentity(const QString& name);
// Whether the device file the port name `name` opens is there now (a USB
// box pulled out, a virtual pack ended: it is not).
bool PortPresent(const QString& name);

} // namespace bms::stationtab
