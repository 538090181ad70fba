// What a fixture's panel shows, built from the JSON events of its run
// (docs/station.md) and from how the run's process ended. Plain data, so
// that it can be driven from a table of event lines without a process or a
// display.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace bms::stationtab {

enum class Phase {
    Idle,     // free for the next pack
    Checking, // a scanned barcode is being checked before its run starts
    Running,  // the run's process is at work
    Aborting, // the operator aborted; waiting for the process to end
};

// The large banner: the outcome of the fixture's last run, which stays until
// the next pack starts there.
enum class Verdict { None, Pass, Fail, Error, Aborted };

// "PASS", "FAIL", "ERROR", "ABORTED"; empty for None.
QString VerdictText(Verdict verdict);

struct StepRow {
    QString name;
    QString kind;
    QString outcome; // empty while the step has not ended
    double durationS = 0;
    QString reason;
};

// A measurement outside its limits, in words.
struct FailedMeasurement {
    QString step;   // the step's name
    QString name;
    QString value;  // with its unit: "3050 mV"
    QString limits; // "3200 to 3400 mV", "= 2.1.0", "matches \d{12}", "mask 0xFFFF"
    QString reason; // the run's own words: "cell_3 3050 mV below its low limit 3200 mV"
};

// A question of the run to the operator.
struct PromptState {
    QString id;   // "p1"; empty when no prompt is open
    QString kind; // "barcode", "confirm" or "value"
    QString text;
    double timeoutS = 0;
    QString refused; // why the last answer was not taken
    int refusals = 0; // answers not taken so far
};

// How the run's process ended.
struct ProcessEnd {
    int exitCode = 0;
    bool crashed = false; // killed by a signal
    QString stderrTail;
};

struct FixtureState {
    Phase phase = Phase::Idle;
    Verdict verdict = Verdict::None;
    QString barcode;
    QString uid;
    QString serialNumber;
    QString runId;
    QString failureCode;   // "check.cell_3"
    QString reason;        // the failure in words, or why the run did not happen
    QString recordPath;    // the record's file, empty when none was written
    std::vector<StepRow> steps;
    int current = -1;      // index of the step under way
    int attempt = 1;
    std::vector<FailedMeasurement> failures;
    PromptState prompt;
    QString checked;       // the barcode being checked before its run starts
    QString message;       // a refused scan, in words; cleared when a run starts
    QStringList notes;     // errors and warnings of the run, newest last (a few)
};

class FixtureModel {
public:
    const FixtureState& state() const { return s_; }
    // The record of the last run, as its record event gave it (empty when
    // none came).
    const QJsonObject& record() const { return record_; }
    bool busy() const { return s_.phase != Phase::Idle; }
    // The barcode this fixture has taken: the one being checked or tested;
    // empty when the fixture is free.
    QString barcodeTaken() const;

    // A barcode scanned for this fixture is being checked; the last pack's
    // banner stays until its run starts.
    void checking(const QString& barcode);
    // The scan is refused (or the run cannot start): the words show on the
    // panel and the fixture is free again; the last banner stays.
    void refuse(const QString& words);
    // The run's process starts: nothing of the last pack stays.
    void begin(const QString& barcode);
    // One event line of the run.
    void event(const QJsonObject& e);
    // The operator aborted the run.
    void aborting();
    // The run's process has ended; a run that never said how it ended is an
    // ERROR unless its record (`found` in the results folder at `foundPath`)
    // says how.
    void ended(const ProcessEnd& end, const QJsonObject& found = {}, const QString& foundPath = {});

    // The run told how it ended (its run_end came).
    bool endTold() const { return runEndSeen_; }
    // The station kept the record of run `runId` at `path` (the run left
    // none of its own); an empty path: it could not, for `error`.
    void recordKept(const QString& runId, const QString& path, const QString& error = {});

    // Steps that have ended, for the progress bar.
    int stepsDone() const;
    // "4/9 prompt", "4/9 prompt (attempt 2)"; empty when no step is under way.
    QString currentStepText() const;

private:
    void note(const QString& text);
    void runEnded(const QJsonObject& e);
    // The kind of the step a measurement event belongs to.
    QString stepKind(const QJsonObject& measurement) const;

    FixtureState s_;
    bool runEndSeen_ = false;
    QJsonObject record_; // of the run's record event
    QJsonObject finalObject_; // the last line of a run that did not start
};

// The limits of a measurement event in words: "3200 to 3400 mV",
// "at least 90 %", "= 2.1.0", "matches \d{12}", "mask 0xFFFF".
QString LimitsText(const QJsonObject& limits, const QString& unit);
// A measured value with its unit ("3050 mV"); a value held against a mask
// in hex, as its mask is ("0x0040"); "no value" for null.
QString MeasuredText(const QJsonValue& value, const QString& unit, const QJsonObject& limits);
// A failing measurement on the panel: "cell_3 3050 mV (limits 3200 to
// 3400 mV)", "alarm 0x0040 (mask 0xFFFF)".
QString FailureLine(const FailedMeasurement& failure);

} // namespace bms::stationtab
