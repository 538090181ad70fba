#include "StationRecordsCommand.h"

#include "CliOptions.h"
#include "Database.h"
#include "ForwardLoop.h"
#include "Forwarder.h"
#include "Outcome.h"
#include "RecordImport.h"
#include "RecordStore.h"
#include "Redaction.h"
#include "Session.h"
#include "StationRecords.h"
#include "TextChecks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

namespace bms::cli {

namespace {

using namespace bms::records;

const char kHelp[] =
    "usage: quorlex-bms-cli station history [--id ID] [--barcode B] [--uid U] [--serial S] [--since T]\n"
    "                       [--until T] [--outcome O] [--recipe R] [--station ID] [--limit N]\n"
    "       quorlex-bms-cli station show RUN\n"
    "       quorlex-bms-cli station stats [--since T] [--until T] [--by day|recipe|station]\n"
    "       quorlex-bms-cli station export --format csv|xlsx|json [--out FILE] [filters]\n"
    "       quorlex-bms-cli station quality [--since T] [--until T] [--recipe R] [--station ID] [--fixture N]\n"
    "       quorlex-bms-cli station passport BARCODE\n"
    "       quorlex-bms-cli station import DIR\n"
    "       quorlex-bms-cli station forward [--loop [--interval MS]] [--status]\n"
    "       quorlex-bms-cli station serials [--return]\n"
    "\n"
    "Every station run is kept in the PC's database ($XDG_DATA_HOME/quorlex-bms/station.db)\n"
    "and forwarded to the line's PostgreSQL database when one is set with\n"
    "--db postgresql://user@host/database or $QUORLEX_BMS_LINE_DB. None of these\n"
    "opens a port.\n"
    "\n"
    "  history   the runs that match, newest first (--limit, default 100; 0 for all);\n"
    "            --id finds a barcode, UID or serial number\n"
    "  show      the whole record of a run (its id or the first 8 characters) as JSON\n"
    "  stats     runs, PASS/FAIL/ERROR/ABORTED, first-pass yield (the share of packs\n"
    "            that passed at their first run at a station; ERROR and ABORTED runs\n"
    "            are the station's losses, never a pack's run), retests and failures\n"
    "            by failure code; --by groups by the run's local day, recipe or station\n"
    "  export    one row per run with a column per measurement (csv, xlsx) or the\n"
    "            whole records (json), oldest first; the first 100000 runs unless\n"
    "            --limit says otherwise (0 for all); stdout unless --out (needed for\n"
    "            xlsx); an existing file is not overwritten\n"
    "  quality   yields by day, shift, station, fixture and operator, the failure\n"
    "            Pareto, each measurement's capability (Cp, Cpk, Pp, Ppk) and the run\n"
    "            rules of its control charts (docs/quality.md); report --html FILE\n"
    "            writes the same as one HTML page\n"
    "  passport  what a battery passport asks of the pack, in JSON\n"
    "  import    the record files (*.json) of a results folder; runs already kept\n"
    "            are left as they are, a file with other content for a kept run is\n"
    "            reported as a conflict, entries that are not regular files are skipped\n"
    "            and named\n"
    "  forward   copies the runs waiting for the line database now; --loop keeps\n"
    "            forwarding (retrying with back-off from --interval, default 2000 ms)\n"
    "            until Ctrl-C; --status only tells how many runs wait\n"
    "  serials   the PC's serial numbers: reservations still open, numbers leased\n"
    "            from the line left for each key, since when the line has not\n"
    "            answered; --return gives the unused leased numbers back to the line\n"
    "\n"
    "Times (--since, --until): 2026-12-09, 2026-12-09T14:00, today, yesterday, 7d, 12h.\n"
    "--line makes history, show, stats, export, quality and passport read the line database.\n"
    "\n"
    "Exit status: 0 done; 1 no such run or barcode; 2 bad usage or bad input;\n"
    "6 a database could not be used, or runs still wait for the line database.\n";

QJsonValue TextOrNullJson(const QString& s)
{
    return s.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(s);
}

// Columns padded to their widest cell; control characters in a cell (a
// barcode read with an escape sequence in it) are shown escaped, never sent
// to the terminal.
QStringList TextTable(QList<QStringList> rows)
{
    for (QStringList& row : rows)
        for (QString& cell : row)
            cell = station::Printable(cell);
    std::vector<qsizetype> widths;
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (qsizetype(widths.size()) <= i)
                widths.push_back(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        lines.append(line);
    }
    return lines;
}

class StationRecordsCommand : public Command {
public:
    explicit StationRecordsCommand(Session& s) : s_(s) {}

    void start() override
    {
        const QString sub = s_.options.args.value(0);
        if (!StationRecordsSubcommands().contains(sub)) {
            s_.report.error(QStringLiteral("station: '%1' is not a records command (%2)")
                                .arg(sub, StationRecordsSubcommands().join(QStringLiteral(", "))));
            return s_.finish(kExitUsage);
        }
        config_.lineUrl = s_.options.has(QStringLiteral("db")) ? s_.options.value(QStringLiteral("db"))
                                                                : LineDatabaseFromEnvironment();
        if (!config_.lineUrl.isEmpty() && !Database::isPostgresUrl(config_.lineUrl)) {
            s_.report.error(QStringLiteral("--db: '%1' is not a postgresql:// URL").arg(RedactedUrl(config_.lineUrl)));
            return s_.finish(kExitUsage);
        }
        QString error;
        records_ = StationRecords::open(config_, error);
        if (!records_) {
            s_.report.error(error);
            return s_.finish(kExitDatabase);
        }
        if (sub == QLatin1String("import"))
            return end(import());
        if (sub == QLatin1String("forward") && s_.options.has(QStringLiteral("background")))
            return end(ForwardInBackground(*records_));
        if (sub == QLatin1String("forward"))
            return forward();
        if (sub == QLatin1String("serials"))
            return end(SerialsReport(s_, *records_, result_));
        Database* db = &records_->local();
        if (s_.options.has(QStringLiteral("line"))) {
            db = records_->line(error);
            if (!db) {
                s_.report.error(error);
                return end(config_.lineUrl.isEmpty() ? kExitUsage : kExitDatabase);
            }
        }
        if (sub == QLatin1String("history"))
            return end(history(*db));
        if (sub == QLatin1String("show"))
            return end(show(*db));
        if (sub == QLatin1String("stats"))
            return end(stats(*db));
        if (sub == QLatin1String("passport"))
            return end(passport(*db));
        const auto filter = FilterOfOptions(s_, kExportLimit);
        end(filter ? ExportRuns(s_, *db, *filter) : int(kExitUsage));
    }

private:
    void end(int code) { s_.finish(code, result_); }

    int fail(const QString& error, int code = kExitDatabase)
    {
        s_.report.error(error);
        return code;
    }

    int history(Database& db)
    {
        const auto filter = FilterOfOptions(s_, 100);
        if (!filter)
            return kExitUsage;
        QString error;
        const auto runs = History(db, *filter, error);
        if (!runs)
            return fail(error);
        QList<QStringList> rows = {{QStringLiteral("started"), QStringLiteral("outcome"), QStringLiteral("barcode"),
                                    QStringLiteral("serial"), QStringLiteral("recipe"), QStringLiteral("station"),
                                    QStringLiteral("failure"), QStringLiteral("run")}};
        QJsonArray array;
        for (const RunSummary& r : *runs) {
            const QString station = r.fixture.isEmpty() ? r.stationId : r.stationId + QLatin1Char('/') + r.fixture;
            rows.append({r.startedAt, r.outcome, r.barcode, r.serialNumber,
                         (r.recipeName + QLatin1Char(' ') + r.recipeVersion).trimmed(), station, r.failureCode, r.runId});
            array.append(QJsonObject{
                {QStringLiteral("run_id"), r.runId},
                {QStringLiteral("started_at"), r.startedAt},
                {QStringLiteral("station_id"), r.stationId},
                {QStringLiteral("fixture"), r.fixture},
                {QStringLiteral("operator"), r.operatorName},
                {QStringLiteral("recipe"), QJsonObject{{QStringLiteral("name"), r.recipeName}, {QStringLiteral("version"), r.recipeVersion}}},
                {QStringLiteral("product"), TextOrNullJson(r.product)},
                {QStringLiteral("barcode"), TextOrNullJson(r.barcode)},
                {QStringLiteral("uid"), TextOrNullJson(r.uid)},
                {QStringLiteral("serial_number"), TextOrNullJson(r.serialNumber)},
                {QStringLiteral("outcome"), r.outcome},
                {QStringLiteral("failure_code"), TextOrNullJson(r.failureCode)},
                {QStringLiteral("duration_s"), r.durationS.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(r.durationS.toDouble())},
            });
        }
        QStringList lines = runs->empty() ? QStringList() : TextTable(rows);
        if (filter->limit > 0 && qsizetype(runs->size()) == filter->limit)
            lines.append(QStringLiteral("newest %1 runs shown (--limit N for more, 0 for all)").arg(filter->limit));
        else
            lines.append(runs->size() == 1 ? QStringLiteral("1 run") : QStringLiteral("%1 runs").arg(runs->size()));
        s_.report.lines(lines);
        result_.insert(QStringLiteral("runs"), array);
        return kExitDone;
    }

    int show(Database& db)
    {
        if (s_.options.args.size() != 2)
            return fail(QStringLiteral("usage: quorlex-bms-cli station show RUN"), kExitUsage);
        RecordStore store(db, false);
        QString error;
        const auto id = store.resolveRunId(s_.options.args[1], error);
        if (!id)
            return fail(error, error.startsWith(QLatin1String("database")) ? kExitDatabase : kExitUsage);
        if (id->isEmpty())
            return fail(QStringLiteral("no run %1 on record in %2").arg(s_.options.args[1], db.name()), kExitNotFound);
        const auto record = store.load(*id, error);
        if (!record)
            return fail(error);
        s_.report.lines({QString::fromUtf8(QJsonDocument(*record).toJson(QJsonDocument::Indented)).trimmed()});
        result_.insert(QStringLiteral("record"), *record);
        return kExitDone;
    }

    int stats(Database& db)
    {
        const auto filter = FilterOfOptions(s_, 0);
        if (!filter)
            return kExitUsage;
        const QString by = s_.options.value(QStringLiteral("by"));
        StatsGroup group = StatsGroup::None;
        if (by == QLatin1String("day"))
            group = StatsGroup::Day;
        else if (by == QLatin1String("recipe"))
            group = StatsGroup::Recipe;
        else if (by == QLatin1String("station"))
            group = StatsGroup::Station;
        else if (s_.options.has(QStringLiteral("by")))
            return fail(QStringLiteral("--by: '%1' is not day, recipe or station").arg(by), kExitUsage);
        QString error;
        const auto rows = Stats(db, *filter, group, error);
        if (!rows)
            return fail(error);
        QList<QStringList> table = {{group == StatsGroup::None ? QString() : by, QStringLiteral("runs"), QStringLiteral("pass"),
                                     QStringLiteral("fail"), QStringLiteral("error"), QStringLiteral("aborted"),
                                     QStringLiteral("first-pass yield"), QStringLiteral("retests")}};
        QJsonArray groups;
        for (const StatsRow& r : *rows) {
            if (group == StatsGroup::None && r.group != QLatin1String("total"))
                continue;
            const auto fpy = r.firstPassYield();
            table.append({r.group, QString::number(r.runs), QString::number(r.pass), QString::number(r.fail),
                          QString::number(r.error), QString::number(r.aborted),
                          fpy ? QStringLiteral("%1 % (%2/%3)").arg(*fpy, 0, 'f', 1).arg(r.firstPass).arg(r.firstAttempts)
                              : QStringLiteral("-"),
                          QString::number(r.retests)});
            QJsonObject failures;
            for (const auto& [code, n] : r.failures)
                failures.insert(code, n);
            QJsonObject o{{QStringLiteral("group"), r.group},      {QStringLiteral("runs"), r.runs},
                          {QStringLiteral("pass"), r.pass},        {QStringLiteral("fail"), r.fail},
                          {QStringLiteral("error"), r.error},      {QStringLiteral("aborted"), r.aborted},
                          {QStringLiteral("first_attempts"), r.firstAttempts},
                          {QStringLiteral("first_pass"), r.firstPass},
                          {QStringLiteral("first_pass_yield"), fpy ? QJsonValue(*fpy) : QJsonValue(QJsonValue::Null)},
                          {QStringLiteral("retests"), r.retests},  {QStringLiteral("failures"), failures}};
            if (r.group == QLatin1String("total"))
                result_.insert(QStringLiteral("total"), o);
            else
                groups.append(o);
        }
        QStringList lines = TextTable(table);
        const StatsRow& total = rows->back();
        if (!total.failures.empty()) {
            lines.append(QStringLiteral("failures by code:"));
            QList<QStringList> codes;
            for (const auto& [code, n] : total.failures)
                codes.append({QStringLiteral(" "), code.isEmpty() ? QStringLiteral("(none)") : code, QString::number(n)});
            lines += TextTable(codes);
        }
        s_.report.lines(lines);
        if (group != StatsGroup::None)
            result_.insert(QStringLiteral("groups"), groups);
        return kExitDone;
    }

    int passport(Database& db)
    {
        if (s_.options.args.size() != 2)
            return fail(QStringLiteral("usage: quorlex-bms-cli station passport BARCODE"), kExitUsage);
        QString error;
        const auto passport = Passport(db, s_.options.args[1], error);
        if (!passport)
            return fail(error);
        if (passport->isEmpty())
            return fail(QStringLiteral("no run of barcode %1 on record in %2").arg(s_.options.args[1], db.name()), kExitNotFound);
        s_.report.lines({QString::fromUtf8(QJsonDocument(*passport).toJson(QJsonDocument::Indented)).trimmed()});
        result_.insert(QStringLiteral("passport"), *passport);
        return kExitDone;
    }

    int import()
    {
        if (s_.options.args.size() != 2)
            return fail(QStringLiteral("usage: quorlex-bms-cli station import DIR"), kExitUsage);
        const QDir dir(s_.options.args[1]);
        if (!dir.exists())
            return fail(QStringLiteral("%1: no such folder").arg(s_.options.args[1]), kExitUsage);
        QString error;
        const auto counts = ImportFolder(
            records_->localStore(), dir.path(), [this](ImportProblem, const QString& what) { s_.report.error(what); }, error);
        if (!counts)
            return fail(error); // what was stored stays stored
        QString line = QStringLiteral("imported %1 runs, %2 already kept, %3 refused")
                           .arg(counts->imported)
                           .arg(counts->alreadyKept)
                           .arg(counts->refused);
        if (counts->conflicts)
            line += QStringLiteral(", %1 in conflict with a kept run").arg(counts->conflicts);
        if (counts->skipped)
            line += QStringLiteral(", %1 skipped (not regular files)").arg(counts->skipped);
        s_.report.lines({line});
        result_.insert(QStringLiteral("imported"), counts->imported);
        result_.insert(QStringLiteral("already_kept"), counts->alreadyKept);
        result_.insert(QStringLiteral("refused"), counts->refused);
        result_.insert(QStringLiteral("conflicts"), counts->conflicts);
        result_.insert(QStringLiteral("skipped"), counts->skipped);
        return counts->refused + counts->conflicts + counts->skipped ? kExitUsage : kExitDone;
    }

    void forward();

    Session& s_;
    RecordsConfig config_;
    std::unique_ptr<StationRecords> records_;
    std::unique_ptr<ForwardLoop> loop_;
    QJsonObject result_;
};

void StationRecordsCommand::forward()
{
    const auto done = [this](int code) { end(code); };
    Forwarder forwarder(records_->local(), config_.lineUrl);
    QString error;
    if (s_.options.has(QStringLiteral("status"))) {
        const auto waiting = forwarder.waiting(error);
        if (!waiting)
            return done(fail(error));
        s_.report.lines({config_.lineUrl.isEmpty() ? QStringLiteral("%1 (no line database set)").arg(WaitingText(*waiting))
                                                   : WaitingText(*waiting)});
        result_.insert(QStringLiteral("waiting"), *waiting);
        return done(kExitDone);
    }
    if (config_.lineUrl.isEmpty())
        return done(fail(QStringLiteral("no line database is set (--db postgresql://... or QUORLEX_BMS_LINE_DB)"), kExitUsage));
    int interval = 2000;
    if (s_.options.has(QStringLiteral("interval"))) {
        const auto ms = ParseDecimal(s_.options.value(QStringLiteral("interval")), 10, 3'600'000);
        if (!ms)
            return done(fail(QStringLiteral("--interval: '%1' is not a number of milliseconds (10 to 3600000)")
                                 .arg(s_.options.value(QStringLiteral("interval"))),
                             kExitUsage));
        interval = int(*ms);
    }
    if (!s_.options.has(QStringLiteral("loop"))) {
        int forwarded = 0;
        Forwarder::Pass pass;
        do {
            pass = forwarder.forward(false, 500);
            forwarded += pass.forwarded;
        } while (pass.error.isEmpty() && pass.forwarded > 0 && pass.waiting > 0);
        QStringList lines = {QStringLiteral("forwarded %1 runs; %2").arg(forwarded).arg(WaitingText(std::max(pass.waiting, 0)))};
        if (!pass.error.isEmpty())
            s_.report.error(pass.error);
        s_.report.lines(lines);
        result_.insert(QStringLiteral("forwarded"), forwarded);
        result_.insert(QStringLiteral("waiting"), pass.waiting);
        // The serial numbers' news and leases travel with the runs.
        if (pass.error.isEmpty() && !records_->syncSerials(error))
            s_.report.note(QStringLiteral("serial numbers: ") + error);
        return done(pass.waiting == 0 ? kExitDone : kExitDatabase);
    }
    // --loop: the background forwarder until Ctrl-C; a line per pass that
    // moved something or changed the state.
    ForwardTiming timing;
    timing.firstRetryMs = interval;
    loop_ = std::make_unique<ForwardLoop>(config_.localPath, config_.lineUrl, timing, interval);
    auto lastText = std::make_shared<QString>();
    QObject::connect(loop_.get(), &ForwardLoop::passed, [this, lastText](int forwarded, int waiting, const QString& e) {
        const QString text = (waiting < 0 ? QStringLiteral("forwarding state unknown") : WaitingText(waiting))
            + (e.isEmpty() ? QString() : QStringLiteral(" (") + e + QLatin1Char(')'));
        if (forwarded == 0 && text == *lastText)
            return;
        *lastText = text;
        const QString line = forwarded ? QStringLiteral("forwarded %1 runs; %2").arg(forwarded).arg(text) : text;
        s_.report.lines({line});
        s_.report.object({{QStringLiteral("forwarded"), forwarded}, {QStringLiteral("waiting"), waiting},
                          {QStringLiteral("error"), e}});
    });
    s_.onInterrupt = [this] {
        loop_.reset();
        s_.finish(kExitDone);
    };
    loop_->start();
}

} // namespace

const QStringList& StationRecordsSubcommands()
{
    static const QStringList names = {QStringLiteral("history"), QStringLiteral("show"),     QStringLiteral("stats"),
                                      QStringLiteral("export"),  QStringLiteral("passport"), QStringLiteral("import"),
                                      QStringLiteral("forward"), QStringLiteral("serials")};
    return names;
}

QString StationRecordsHelp()
{
    return QString::fromUtf8(kHelp);
}

std::optional<RunFilter> FilterOfOptions(Session& s, int defaultLimit)
{
    const Options& o = s.options;
    RunFilter f;
    f.anyId = o.value(QStringLiteral("id"));
    f.barcode = o.value(QStringLiteral("barcode"));
    f.uid = o.value(QStringLiteral("uid"));
    f.serial = o.value(QStringLiteral("serial"));
    f.outcome = o.value(QStringLiteral("outcome")).toUpper();
    f.recipe = o.value(QStringLiteral("recipe"));
    f.station = o.value(QStringLiteral("station"));
    if (const auto outcome = station::OutcomeNamed(f.outcome); !f.outcome.isEmpty() && (!outcome || !station::IsRunOutcome(*outcome))) {
        s.report.error(QStringLiteral("--outcome: '%1' is not PASS, FAIL, ERROR or ABORTED").arg(f.outcome));
        return std::nullopt;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const char* name : {"since", "until"}) {
        if (!o.has(QLatin1String(name)))
            continue;
        const auto t = ParseTimeArgument(o.value(QLatin1String(name)), now);
        if (!t) {
            s.report.error(QStringLiteral("--%1: '%2' is not a time (2026-12-09, 2026-12-09T14:00, today, 7d, 12h)")
                               .arg(QLatin1String(name), o.value(QLatin1String(name))));
            return std::nullopt;
        }
        (name[0] == 's' ? f.sinceMs : f.untilMs) = *t;
    }
    f.limit = defaultLimit;
    if (o.has(QStringLiteral("limit"))) {
        const auto n = ParseDecimal(o.value(QStringLiteral("limit")), 0, 100'000'000);
        if (!n) {
            s.report.error(QStringLiteral("--limit: '%1' is not a number of runs").arg(o.value(QStringLiteral("limit"))));
            return std::nullopt;
        }
        f.limit = int(*n);
    }
    return f;
}

std::unique_ptr<Command> MakeStationRecordsCommand(Session& session)
{
    return std::make_unique<StationRecordsCommand>(session);
}

} // namespace bms::cli
