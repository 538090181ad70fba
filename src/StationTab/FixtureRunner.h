// One fixture: its packs are run by `quorlex-bms-cli --json station run`
// in a process of their own, one process a pack. Its event lines are read
// as they come (never waited for) into the fixture's model; the operator's
// answers go to its standard input as "@p1 ANSWER" lines. An abort is
// "!abort" on standard input, then SIGINT, then SIGTERM, each after a grace
// time (the run writes its record as ABORTED on any of them), and last
// SIGKILL for a program that no longer listens.
//
// A process per fixture keeps fixtures apart: a lost port, a hung pack or a
// crash ends or stalls that fixture's process only.
#pragma once

#include "EventLines.h"
#include "FixtureModel.h"
#include "RunTrail.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

namespace bms::stationtab {

struct RunnerSettings {
    QString program;      // quorlex-bms-cli
    QString recipe;
    QString port;
    int fixture = 1;      // from 1
    QString stationId;
    QString operatorName;
    QString lineDb;       // empty: none
    QString product;      // the recipe's, for a record the station writes
};

// The arguments of one run of `barcode`. The line database is not among
// them (every local user can read a process's command line): the run finds
// it in its environment, StationRunEnvironment.
QStringList StationRunArguments(const RunnerSettings& settings, const QString& barcode);
// `base` with $QUORLEX_BMS_LINE_DB set to the line database (removed when
// there is none), which only the same user can read.
QProcessEnvironment StationRunEnvironment(const RunnerSettings& settings, QProcessEnvironment base);

class FixtureRunner : public QObject {
    Q_OBJECT
public:
    explicit FixtureRunner(int fixture, QObject* parent = nullptr);
    // A process still running is killed (the window is going away).
    ~FixtureRunner() override;

    int fixture() const { return fixture_; }
    const FixtureModel& model() const { return model_; }
    FixtureModel& model() { return model_; }
    bool busy() const { return model_.busy(); }
    // The run's process is at work (not merely checking a barcode).
    bool running() const { return process_ != nullptr; }

    // Starts a run of `barcode`; false (with the reason on the panel) when
    // the program does not start.
    bool start(const RunnerSettings& settings, const QString& barcode);
    // Answers the open prompt.
    void answer(const QString& text);
    // Aborts the run (see above); nothing when none runs.
    void abort();

    // Grace time between the steps of an abort.
    void setAbortGraceMs(int ms) { graceMs_ = ms; }
    static constexpr int kAbortGraceMs = 3000;

Q_SIGNALS:
    // The model changed.
    void changed();
    // The run's process ended (the model holds the verdict).
    void finished();
    // The run ended without a record of its own (its program killed by the
    // abort, or dead on its way): `record` is the one to keep for it, told
    // before finished().
    void recordLost(const QJsonObject& record);

private:
    void readOutput();
    void readErrors();
    void processEnded(int exitCode, QProcess::ExitStatus status);
    void escalate();
    void take(const QByteArray& line);

    int fixture_;
    FixtureModel model_;
    QProcess* process_ = nullptr;
    LineSplitter lines_;
    QByteArray stderrTail_;
    QTimer abortTimer_;
    int abortStage_ = 0;
    int graceMs_ = kAbortGraceMs;
    QString resultsFolder_; // where the runs write their records
public:
    const QString& resultsFolder() const { return resultsFolder_; }
private:
    RunTrail trail_;
};

} // namespace bms::stationtab
