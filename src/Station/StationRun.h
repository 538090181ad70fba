// The step engine of a station run: takes a pack through the recipe's steps
// in order, with their retries, time-outs and what happens when one fails,
// ends PASS / FAIL / ERROR / ABORTED, writes the record and hands it to the
// record sink. Everything goes on in the event loop; the run reports itself
// through events (one JSON object each, docs/station.md) and asks the
// operator through prompt events answered with answer().
#pragma once

#include "StepHost.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <deque>

namespace bms::station {

struct RunSettings {
    QString stationId;
    QString fixture;
    QString operatorName;
    QString port;
    QString resultsFolder;
    QString toolVersion;
    std::optional<QString> barcode; // given instead of scanned
    bool confirmPrompts = false;
    QString runId; // made at the start when empty
    // The serial number reserved for the run before it started (the
    // barcode known, so the pack is never touched when no number is left).
    std::optional<SerialReservation> reservation;
};

struct RunServices {
    PackDriver& driver;
    SerialSequence& serials;
    PassHistory& history;
    RecordSink& sink;
};

class StationRun : private StepHost {
public:
    StationRun(Recipe recipe, RunSettings settings, RunServices services);
    ~StationRun() override;

    void start();
    // The operator or a signal stops the run; the record is still written.
    void abort(const QString& why);
    // A line the operator typed (or the Station tab sent).
    void answer(const QString& line);
    // Nothing more will be typed: a prompt waiting now or later aborts.
    void inputClosed();
    // The pack's port has gone (a USB box unplugged, the other side of a
    // pseudo-terminal closed): the step on, a prompt's included, ends ERROR
    // with `why` at once, and the run with it.
    void portLost(const QString& why);

    TraceLog& trace() { return record_.trace; }
    const RunRecord& runRecord() const { return record_; }
    bool finished() const { return finished_; }

    // Every event of the run, in order.
    std::function<void(const RunEvent& event)> onEvent;
    // The run is over and its record written (recordPath empty when it
    // could not be; the reason went out as an "error" event).
    std::function<void(Outcome outcome, const QString& recordPath)> onFinished;

private:
    // The pack as the steps reach it: each operation's time, from its call
    // to its answer, counts towards the step's time with the pack.
    class TimedDriver : public PackDriver {
    public:
        TimedDriver(PackDriver& d, qint64& ms) : d_(d), ms_(ms) {}
        void readInfo(std::function<void(const InfoRead&)> done) override { d_.readInfo(timed(std::move(done))); }
        void readTelemetry(std::function<void(const TelemetryRead&)> done) override { d_.readTelemetry(timed(std::move(done))); }
        void write(const PackWrite& w, std::function<void(const WriteResult&)> done) override
        {
            d_.write(w, timed(std::move(done)));
        }
        void upgrade(const QString& image, bool dev, std::function<void(const UpgradeResult&)> done) override
        {
            d_.upgrade(image, dev, timed(std::move(done)));
        }
        void cancel() override { d_.cancel(); }
        bool inBootLoader() const override { return d_.inBootLoader(); }

    private:
        template <class Result>
        std::function<void(const Result&)> timed(std::function<void(const Result&)> done)
        {
            QElapsedTimer clock;
            clock.start();
            return [this, clock, done](const Result& r) {
                ms_ += clock.elapsed();
                done(r);
            };
        }
        PackDriver& d_;
        qint64& ms_;
    };

    // StepHost
    PackDriver& driver() override { return timed_; }
    const Recipe& recipe() const override { return recipe_; }
    const RecipeStep& recipeStep() const override { return recipe_.steps[static_cast<size_t>(index_)]; }
    RunState& state() override { return state_; }
    RunRecord& record() override { return record_; }
    SerialSequence& serials() override { return services_.serials; }
    PassHistory& history() override { return services_.history; }
    const QString& stationId() const override { return settings_.stationId; }
    std::optional<QString> givenBarcode() const override { return settings_.barcode; }
    bool confirmsPrompts() const override { return settings_.confirmPrompts; }
    Outcome measure(const QString& name, const QJsonValue& value, const QString& unit, const Limits& limits) override;
    void ask(PromptKind kind, const QString& text, std::function<void(const QString&)> answer, Refusal refuses) override;
    void done(Outcome outcome, const QString& reason) override;

    void emitEvent(const RunEvent& event);
    void startStep();
    void startAttempt();
    void attemptEnded(Outcome outcome, QString reason);
    void stepTimedOut();
    void endStep(Outcome outcome, const QString& reason);
    void closePrompt(bool answered);
    void deliver(const QString& line);
    void finish();
    void settleReservation();

    Recipe recipe_;
    RunSettings settings_;
    RunServices services_;
    qint64 packMs_ = 0; // of the current step
    TimedDriver timed_{services_.driver, packMs_};
    RunRecord record_;
    RunState state_;
    QObject context_;
    QTimer stepTimer_;
    QElapsedTimer stepClock_;
    std::unique_ptr<Step> step_;
    int index_ = -1;
    int attempt_ = 0;
    size_t attemptMeasurements_ = 0; // first measurement of the attempt
    bool attemptEnding_ = false;
    bool aborting_ = false;
    bool finished_ = false;
    bool inputClosed_ = false;
    std::optional<QString> portLost_; // why, once the port has gone

    struct Prompt {
        QString id;
        PromptKind kind;
        std::function<void(const QString&)> answer;
        Refusal refuses;
    };
    std::optional<Prompt> prompt_;
    int prompts_ = 0;
    std::deque<QString> typedAhead_;
    // Why each measurement failed, beside record_.measurements.
    std::vector<QString> failReasons_;
    // Counts step endings: work queued for an ended step is dropped.
    int generation_ = 0;
    QString abortReason_;
};

} // namespace bms::station
