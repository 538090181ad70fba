// A station recipe: the end-of-line test of a pack as a human-written TOML
// file. It names itself, the product and line settings, the serial-number
// template and an ordered list of steps, each with its parameters, limits,
// what happens when it fails, its retries and its time-out. LoadRecipe
// checks everything before a byte is sent and refuses a bad file with its
// line and column.
#pragma once

#include "Limits.h"
#include "OutputSections.h"
#include "PackWrites.h"
#include "SerialTemplate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace bms::station {

struct SourcePos {
    int line = 0;   // from 1; 0 when unknown
    int column = 0; // from 1
};

enum class StepKind { Identify, Scan, Upgrade, WriteIdentity, Calibrate, Settings, Check, Prompt };

QString StepKindName(StepKind kind);

// A limit as the recipe states it for the measurement `name`.
struct NamedLimits {
    QString name;
    Limits limits;
    SourcePos at;
};

// Where a calibration's reference value comes from.
struct Reference {
    enum class Kind { Constant, Prompt, Command } kind = Kind::Constant;
    double value = 0;  // Constant
    QString text;      // Prompt: the question; Command: the shell command
};

struct RecipeStep {
    StepKind kind = StepKind::Identify;
    QString name;          // unique in the recipe; the kind by default
    bool stopOnFail = true;
    int retries = 0;
    double timeoutS = 0;   // the whole step, retries included
    SourcePos at;
    std::vector<NamedLimits> limits; // identify and check

    // scan
    QString pattern;
    QString patternHint; // the pattern in the operator's words ("12 digits")
    // upgrade
    bool devFirmware = false;
    QString image;        // absolute path
    QString imageSha256;  // lower-case hex as the recipe states it
    QString version;      // target software version "1.5.4"
    // write_identity
    bool writeBarcode = true;
    bool writeSerial = true;
    bool writeRtc = true;
    double rtcToleranceS = 5;
    // calibrate: "current", "zero" or "voltage"
    QString quantity;
    Reference reference;
    double tolerance = 0;
    std::optional<double> maxErrorBefore;
    // settings: command-line settings, "sleep 1 3600"
    std::vector<PackWrite> writes;
    // check
    int rotations = 0;
    double durationS = 0;
    // prompt
    QString text;
};

struct Recipe {
    QString file;    // absolute path
    QString sha256;  // of the file's bytes, lower-case hex
    QString name;
    QString version;
    QString product = QStringLiteral("Q-Serial");
    uint32_t baud = 19200;
    uint8_t address = 0x06;
    int timeoutMs = 500;
    bool allowRetest = false;
    std::optional<SerialTemplate> serial;
    // Serial numbers a station with a line database leases at a time.
    int serialLeaseBlock = 200;
    std::vector<RecipeStep> steps;
    // What a run leaves besides its record: a label, a unit report.
    std::optional<LabelSection> label;
    std::optional<ReportSection> report;
};

struct RecipeError {
    QString file;
    SourcePos at;
    QString message;
    // "file:line:column: message"
    QString text() const;
};

// Checks the loader cannot make itself (they belong to the pack's driver
// and the upgrade): a setting's names and ranges, and a firmware image.
// Each returns the problem in words, or an empty text; none has side
// effects.
struct RecipeChecks {
    std::function<QString(const PackWrite& write)> setting;
    std::function<QString(const QString& image, bool devFirmware)> image;
};

// The most a recipe file may hold; a larger file is refused unread.
constexpr qint64 kRecipeMaxBytes = 1 << 20;

std::optional<Recipe> LoadRecipe(const QString& path, RecipeError& error, const RecipeChecks& checks = {});

// The references a calibration of `quantity` takes ("current": 1 to 499999
// mA, "voltage": 1001 to 4999 mV, whole numbers): why `value` is not one,
// or nothing.
QString ReferenceRefusal(const QString& quantity, double value);

// A firmware version "A.B.C" (A, C 0..15, B 0..255) as the pack's word.
std::optional<uint16_t> ParseVersion(const QString& text);

} // namespace bms::station
