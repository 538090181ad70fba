// `station run RECIPE` and `station check RECIPE`: the end-of-line test of a
// pack from a recipe. The recipe is loaded and checked before the port is
// opened; the run's events go out as text lines (one per step and a large
// final line) or, with --json, as one JSON object a line; the operator's
// answers come in on standard input, one line each.
#include "StationCommand.h"

#include "Command.h"
#include "SetCommands.h"
#include "Session.h"
#include "StationDriver.h"
#include "StationPrint.h"

#include "App.h"
#include "FrameRecord.h"
#include "ImageCheck.h"
#include "Selectors.h"
#include "Database.h"
#include "Forwarder.h"
#include "Redaction.h"
#include "StationRecords.h"
#include "RunEvents.h"
#include "StationRun.h"
#include "TextChecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QUuid>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace bms::cli {

using namespace bms::station;

namespace {

constexpr int kExitRecipe = kExitUsage;

const char kStationHelp[] =
    "usage: quorlex-bms-cli --port NAME station run RECIPE.toml [--barcode B]\n"
    "           [--operator NAME] [--station ID] [--fixture N] [--results DIR]\n"
    "           [--db postgresql://...] [--yes]\n"
    "       quorlex-bms-cli station check RECIPE.toml\n"
    "\n"
    "run takes the pack through the recipe's steps (identify, scan, upgrade,\n"
    "write_identity, calibrate, settings, check, prompt), checks every measurement\n"
    "against its limits and writes one record of the run, <run id>.json, to the\n"
    "results folder (default $XDG_DATA_HOME/quorlex-bms/results) and stores it in\n"
    "the PC's records database ($XDG_DATA_HOME/quorlex-bms/station.db); with a line\n"
    "database (--db postgresql://... or $QUORLEX_BMS_LINE_DB) serial numbers are\n"
    "reserved there and the record is forwarded to it at the end. The recipe's\n"
    "[line] settings (baud, address, time-out) and product are used for the port.\n"
    "The barcode is scanned (typed on standard input) unless --barcode gives it;\n"
    "--yes confirms the recipe's instructions without asking. check only loads and\n"
    "checks the recipe.\n"
    "\n"
    "Answers to prompts are lines on standard input; \"!abort\" aborts the run.\n"
    "With --json every event is one JSON object a line (docs/station.md).\n"
    "\n"
    "A recipe with [label] or [report] has its label printed through CUPS and its\n"
    "unit report written by `station print RUN --background`, started when the run\n"
    "has ended (--printer names the queue when the recipe does not).\n"
    "       quorlex-bms-cli station print RUN [--printer QUEUE]\n"
    "       quorlex-bms-cli station reprint RUN --reason TEXT [--printer QUEUE]\n"
    "       quorlex-bms-cli station report RUN --pdf FILE [--line]\n"
    "       quorlex-bms-cli station report --html FILE [--since T] [--until T] [filters] [--line]\n"
    "print prints a run's label once; reprint prints it again and needs a reason;\n"
    "both are kept in the records. report writes the run's unit report, or with\n"
    "--html the line-quality report of a period (docs/quality.md).\n"
    "\n"
    "Exit status: 0 PASS, 1 FAIL, 2 bad usage or recipe (nothing sent), 3 the port\n"
    "could not be opened, 4 ERROR (the pack or the port failed), 5 ABORTED.\n";

QString ToolVersion()
{
#ifdef BMS_TOOL_VERSION
    return QStringLiteral(BMS_TOOL_VERSION);
#else
    return {};
#endif
}

// The whole-screen-width final line: "==========  PASS  ==========".
QString Banner(const QString& word)
{
    const QString bar(30, QLatin1Char('='));
    return bar + QStringLiteral("  ") + word + QStringLiteral("  ") + bar;
}

class StationCommand : public Command {
public:
    explicit StationCommand(Session& s) : s_(s) {}
    ~StationCommand() override
    {
        if (traceObserver_ >= 0)
            RemoveFrameObserver(traceObserver_);
    }

    void start() override
    {
        const QStringList& args = s_.options.args;
        if (args.size() != 2) {
            s_.report.error(QStringLiteral("station %1: one recipe file is needed (see quorlex-bms-cli help station)")
                                .arg(args.value(0)));
            return s_.finish(kExitUsage);
        }
        if (!load(args[1]))
            return;
        if (args[0] == QLatin1String("check"))
            return check();
        run();
    }

private:
    bool load(const QString& path)
    {
        RecipeError error;
        std::optional<Recipe> recipe = LoadRecipe(path, error, StationRecipeChecks());
        if (!recipe) {
            s_.report.error(error.text());
            s_.finish(kExitRecipe, {{QStringLiteral("recipe_error"),
                                     QJsonObject{{QStringLiteral("file"), error.file},
                                                 {QStringLiteral("line"), error.at.line},
                                                 {QStringLiteral("column"), error.at.column},
                                                 {QStringLiteral("message"), error.message}}}});
            return false;
        }
        recipe_ = std::move(*recipe);
        return true;
    }

    void check()
    {
        QJsonArray steps;
        for (const RecipeStep& s : recipe_.steps)
            steps.append(QJsonObject{{QStringLiteral("name"), s.name}, {QStringLiteral("kind"), StepKindName(s.kind)}});
        s_.report.lines({QStringLiteral("%1 version %2: %3 steps, SHA-256 %4")
                             .arg(recipe_.name, recipe_.version)
                             .arg(recipe_.steps.size())
                             .arg(recipe_.sha256)});
        s_.finish(kExitDone, {{QStringLiteral("recipe"), recipe_.name},
                              {QStringLiteral("version"), recipe_.version},
                              {QStringLiteral("sha256"), recipe_.sha256},
                              {QStringLiteral("steps"), steps}});
    }

    void run()
    {
        // The recipe's line settings, applied as the window applies its
        // Communication Settings selections.
        s_.host.setText(QStringLiteral("cbb_pdType"), recipe_.product);
        s_.host.setText(QStringLiteral("cbb_addr"), QStringLiteral("%1").arg(recipe_.address, 2, 16, QLatin1Char('0')).toUpper());
        s_.host.setText(QStringLiteral("cbb2"), QString::number(recipe_.baud));
        s_.run(cbb_pdTypeChange);
        s_.run(cbb_addrChange);
        App.replyTimeoutMs = recipe_.timeoutMs;

        // Text that goes into the record comes without control characters.
        for (const char* name : {"barcode", "operator", "station", "fixture"}) {
            if (HasControlCharacters(s_.options.value(QLatin1String(name)))) {
                s_.report.error(QStringLiteral("--%1: '%2' holds control characters")
                                    .arg(QLatin1String(name), Printable(s_.options.value(QLatin1String(name)))));
                return s_.finish(kExitUsage);
            }
        }
        const QString results = s_.options.has(QStringLiteral("results")) ? s_.options.value(QStringLiteral("results"))
                                                                          : DefaultResultsFolder();
        if (results.isEmpty() || !QDir().mkpath(results)) {
            s_.report.error(QStringLiteral("--results: the folder '%1' cannot be made").arg(results));
            return s_.finish(kExitUsage);
        }
        // Nothing touches the pack unless its record can be kept: the
        // results folder takes a file, the records database opens, a serial
        // number is there for a recipe that writes one.
        QString error;
        if (!CheckResultsFolder(results, error)) {
            s_.report.error(QStringLiteral("Not started: ") + error);
            return s_.finish(OutcomeExitCode(Outcome::Error));
        }
        records::RecordsConfig config;
        // A database another program holds locked keeps the run's end
        // waiting a few seconds at most: then the record waits in the
        // results folder.
        config.busyMs = 5000;
        // What a run asks of the line (a pass elsewhere, a pack's number, a
        // top-up of the leases) waits a few seconds at most.
        config.lineLimitMs = 3000;
        config.lineUrl = s_.options.has(QStringLiteral("db")) ? s_.options.value(QStringLiteral("db"))
                                                               : records::LineDatabaseFromEnvironment();
        if (!config.lineUrl.isEmpty() && !records::Database::isPostgresUrl(config.lineUrl)) {
            s_.report.error(QStringLiteral("--db: '%1' is not a postgresql:// URL").arg(records::RedactedUrl(config.lineUrl)));
            return s_.finish(kExitUsage);
        }
        records_ = records::StationRecords::open(config, error);
        if (!records_) {
            s_.report.error(QStringLiteral("The records database cannot be used: ") + error);
            return s_.finish(OutcomeExitCode(Outcome::Error));
        }
        // Records of earlier runs that the database could not take then.
        if (const int kept = records_->storeKeptRecords(results); kept > 0)
            s_.report.note(QStringLiteral("%1 record(s) kept in the results folder are now in the records database").arg(kept));
        RunSettings settings;
        settings.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (s_.options.has(QStringLiteral("barcode")))
            settings.barcode = s_.options.value(QStringLiteral("barcode"));
        if (!prepareSerial(settings))
            return s_.finish(OutcomeExitCode(Outcome::Error));
        if (const int rc = s_.openPort(); rc != kExitDone) {
            releaseSerial(settings);
            return s_.finish(rc);
        }

        driver_ = std::make_unique<StationDriver>(s_);
        settings.stationId = s_.options.value(QStringLiteral("station"));
        settings.fixture = s_.options.value(QStringLiteral("fixture"));
        settings.operatorName = s_.options.value(QStringLiteral("operator"));
        settings.port = ResolvePortName(s_.options.port);
        settings.resultsFolder = results;
        settings.toolVersion = ToolVersion();
        settings.confirmPrompts = s_.options.yes;
        run_ = std::make_unique<StationRun>(recipe_, settings, RunServices{*driver_, *records_, *records_, *records_});
        run_->onEvent = [this](const RunEvent& e) { event(e); };
        run_->onFinished = [this](Outcome outcome, const QString& path) { finished(outcome, path); };

        traceObserver_ = AddFrameObserver([this](const FrameEvent& e) {
            if (run_ && !run_->finished())
                run_->trace().add(FormatTraceLine(e) + QStringLiteral("   ") + DescribeFrame(e));
        });
        s_.onInterrupt = [this] { run_->abort(QStringLiteral("stopped by a signal")); };
        // Noticed at once, also while a prompt waits for the operator.
        s_.onHangup = [this, port = settings.port] {
            driver_->portLost();
            run_->portLost(QStringLiteral("the port %1 was lost").arg(port));
        };
        listenToInput();
        run_->start();
    }

    // A recipe that writes a serial number needs one before the pack is
    // touched: with a line database, numbers leased to this PC (asked of
    // the line now only when none is left); with the barcode given, the
    // number is reserved now (the pack's own when it has one). False, with
    // the words said, when there is none.
    bool prepareSerial(RunSettings& settings)
    {
        const bool writesSerial = recipe_.serial && std::any_of(recipe_.steps.begin(), recipe_.steps.end(), [](const RecipeStep& s) {
            return s.kind == StepKind::WriteIdentity && s.writeSerial;
        });
        if (!writesSerial)
            return true;
        const SerialTemplate& t = *recipe_.serial;
        const QDate today = QDate::currentDate();
        std::vector<std::pair<QString, QDate>> keys{{t.key(today), t.key(today) == t.key(today.addDays(1)) ? QDate() : today}};
        if (keys.front().second.isValid())
            keys.push_back({t.key(today.addDays(1)), today.addDays(1)});
        QString why;
        if (!records_->serialsReady(keys, recipe_.serialLeaseBlock, why)) {
            s_.report.error(why);
            return false;
        }
        if (!settings.barcode)
            return true;
        QString error;
        const std::optional<SerialGrant> grant = records_->reserve(keys.front().first, settings.runId, *settings.barcode, error);
        if (!grant) {
            s_.report.error(QStringLiteral("No serial number could be reserved: ") + error);
            return false;
        }
        SerialReservation r{grant->key, grant->number, grant->reused ? grant->value : t.value(today, grant->number)};
        r.reused = grant->reused;
        settings.reservation = r;
        return true;
    }

    // The run did not start: its number goes back.
    void releaseSerial(const RunSettings& settings)
    {
        if (!settings.reservation)
            return;
        const SerialReservation& r = *settings.reservation;
        QString ignored;
        records_->settle(SerialGrant{r.key, r.number, r.value, r.reused}, settings.runId, false, false, ignored);
    }

    // Standard input: one answer a line, as it arrives. A program started
    // with its standard input closed may find descriptor 0 reused by the
    // port or the event loop; only a terminal, pipe, socket or file that is
    // not the port is read.
    void listenToInput()
    {
        struct stat in = {};
        struct stat port = {};
        const bool usable = ::fstat(STDIN_FILENO, &in) == 0
                            && (S_ISFIFO(in.st_mode) || S_ISREG(in.st_mode) || S_ISSOCK(in.st_mode) || S_ISCHR(in.st_mode))
                            && !(S_ISCHR(in.st_mode)
                                 && ::stat(QFile::encodeName(ResolvePortName(s_.options.port)).constData(), &port) == 0
                                 && port.st_rdev == in.st_rdev);
        if (!usable)
            return run_->inputClosed();
        input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(input_.get(), &QSocketNotifier::activated, input_.get(), [this] {
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0) {
                input_->setEnabled(false);
                if (!pending_.isEmpty())
                    run_->answer(QString::fromUtf8(pending_));
                pending_.clear();
                run_->inputClosed();
                return;
            }
            pending_.append(buffer, n);
            // A line longer than any answer is cut where the limit falls.
            qsizetype eol;
            while ((eol = pending_.indexOf('\n')) >= 0 || pending_.size() > 4096) {
                const qsizetype end = eol >= 0 ? eol : 4096;
                const QByteArray line = pending_.left(end);
                pending_.remove(0, eol >= 0 ? end + 1 : end);
                run_->answer(QString::fromUtf8(line));
            }
        });
    }

    void event(const RunEvent& e)
    {
        if (s_.report.json()) {
            // The record goes out once written; the run's end is the last line.
            s_.report.object(EventJson(e));
            return;
        }
        if (const auto* start = std::get_if<RunStartEvent>(&e)) {
            s_.report.lines({QStringLiteral("Station run %1: %2 version %3 on %4")
                                 .arg(start->runId, start->recipeName, start->recipeVersion, start->port)});
        } else if (std::holds_alternative<StepStartEvent>(e)) {
            failures_.clear();
        } else if (const auto* m = std::get_if<MeasurementEvent>(&e); m && m->measurement.outcome == Outcome::Fail) {
            failures_.append(QStringLiteral("      ") + m->reason);
        } else if (const auto* end = std::get_if<StepEndEvent>(&e)) {
            QStringList lines{QStringLiteral("  %1 %2 %3 %4 s%5")
                                  .arg(end->index + 1, 2)
                                  .arg(end->name, -18)
                                  .arg(OutcomeName(end->outcome), -8)
                                  .arg(end->durationS, 6, 'f', 2)
                                  .arg(end->retries ? QStringLiteral(" (%1 retries)").arg(end->retries) : QString())};
            if (!failures_.isEmpty())
                lines += failures_;
            else if (!end->reason.isEmpty())
                lines.append(QStringLiteral("      ") + end->reason);
            s_.report.lines(lines);
        } else if (const auto* prompt = std::get_if<PromptEvent>(&e)) {
            const QString how = prompt->kind == PromptKind::Confirm ? QStringLiteral(" [Enter: done, no: abort]")
                                                                     : QStringLiteral(": ");
            // Typed answers end the line on a terminal; piped ones do not.
            std::fprintf(stderr, "%s%s%s", qPrintable(prompt->text), qPrintable(how), ::isatty(STDIN_FILENO) ? "" : "\n");
            std::fflush(stderr);
        } else if (const auto* refused = std::get_if<PromptRefusedEvent>(&e)) {
            Report::diagnostic(refused->reason);
        } else if (const auto* warning = std::get_if<WarningEvent>(&e)) {
            s_.report.error(warning->message);
        } else if (const auto* error = std::get_if<ErrorEvent>(&e)) {
            s_.report.error(error->message);
        }
    }

    void finished(Outcome outcome, const QString& path)
    {
        const RunRecord& r = run_->runRecord();
        if (!s_.report.json()) {
            QStringList lines{QString(), Banner(OutcomeName(outcome))};
            if (!r.failureCode.isEmpty())
                lines.append(QStringLiteral("%1: %2").arg(r.failureCode, r.failureReason));
            lines.append(path.isEmpty() ? QStringLiteral("The record was not written") : QStringLiteral("Record: ") + path);
            s_.report.lines(lines);
        }
        forward();
        printLater(path);
        // A run whose record could not be written has not done its job,
        // whatever the pack did.
        const Outcome ending = path.isEmpty() ? Outcome::Error : outcome;
        // PASS and FAIL are outcomes of the test, not errors of the tool; an
        // ERROR is the pack's or the port's failure, an ABORTED run was
        // stopped.
        QJsonValue error;
        if (ending == Outcome::Error) {
            QJsonObject o = s_.errorObject(kExitPack).toObject();
            if (!r.failureReason.isEmpty())
                o.insert(QStringLiteral("message"), r.failureReason);
            error = o;
        } else if (ending == Outcome::Aborted) {
            error = QJsonObject{{QStringLiteral("kind"), QStringLiteral("interrupted")},
                                {QStringLiteral("message"), r.failureReason}};
        }
        QJsonObject end = EventJson(RunEndEvent{r.runId, outcome, r.failureCode, r.failureReason, path});
        end.insert(QStringLiteral("error"), error);
        s_.finish(OutcomeExitCode(ending), end);
    }

    // The label and the report are made by a process of its own (`station
    // print --background`): the run's outcome is settled and the next scan
    // never waits for a printer. Under the Station tab the window prints.
    void printLater(const QString& path)
    {
        if (path.isEmpty() || (!recipe_.label && !recipe_.report) || qEnvironmentVariableIsSet("QUORLEX_BMS_WINDOW_PRINTS"))
            return;
        if (!PrintInBackground(run_->runRecord().runId, QFileInfo(path).absolutePath(), s_.options.value(QStringLiteral("printer"))))
            s_.report.note(QStringLiteral("The label was not printed: `station print RUN` prints it"));
    }

    // With a line database the run is forwarded by a process of its own
    // (`station forward --background`): the run ends when its record is on
    // the PC, and a line server that is down or stalled never holds it.
    // Under the Station tab the window's own forwarder does it.
    void forward()
    {
        const QString url = records_->config().lineUrl;
        if (url.isEmpty() || qEnvironmentVariableIsSet("QUORLEX_BMS_WINDOW_FORWARDS"))
            return;
        QProcess forwarder;
        forwarder.setProgram(QCoreApplication::applicationFilePath());
        forwarder.setArguments({QStringLiteral("station"), QStringLiteral("forward"), QStringLiteral("--background")});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The URL with its password goes by the environment, never by the
        // command line that every user of the PC can read.
        env.insert(QStringLiteral("QUORLEX_BMS_LINE_DB"), url);
        forwarder.setProcessEnvironment(env);
        forwarder.setStandardInputFile(QProcess::nullDevice());
        forwarder.setStandardOutputFile(QProcess::nullDevice());
        forwarder.setStandardErrorFile(QProcess::nullDevice());
        if (!forwarder.startDetached())
            s_.report.note(QStringLiteral("The record waits for the line database: `station forward` sends it"));
    }

    Session& s_;
    Recipe recipe_;
    std::unique_ptr<StationDriver> driver_;
    std::unique_ptr<records::StationRecords> records_;
    std::unique_ptr<StationRun> run_;
    std::unique_ptr<QSocketNotifier> input_;
    QByteArray pending_;
    QStringList failures_;
    int traceObserver_ = -1;
};

} // namespace

station::RecipeChecks StationRecipeChecks()
{
    station::RecipeChecks checks;
    checks.setting = WriteRefusal;
    checks.image = [](const QString& image, bool dev) { return CheckImage(image, dev).problem; };
    return checks;
}

QString StationHelpText()
{
    return QString::fromUtf8(kStationHelp);
}

std::unique_ptr<Command> MakeStationCommand(Session& session) { return std::make_unique<StationCommand>(session); }

} // namespace bms::cli
