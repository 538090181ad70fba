#include "StationPrint.h"

#include "Session.h"

#include "CupsJobs.h"
#include "Database.h"
#include "DurableFile.h"
#include "PrintLog.h"
#include "Recipe.h"
#include "RecordStore.h"
#include "Redaction.h"
#include "RunPrint.h"
#include "StationRecords.h"
#include "Stores.h"
#include "TextChecks.h"
#include "UnitReport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>

namespace bms::cli {

using namespace bms::records;

namespace {

QJsonObject EntryJson(const PrintEntry& e)
{
    return QJsonObject{{QStringLiteral("kind"), e.kind},
                       {QStringLiteral("state"), e.state},
                       {QStringLiteral("printer"), e.printer},
                       {QStringLiteral("job_id"), e.jobId},
                       {QStringLiteral("reason"), e.reason},
                       {QStringLiteral("reprint_reason"), e.reprintReason},
                       {QStringLiteral("at"), e.at.toString(Qt::ISODateWithMs)}};
}

class StationPrintCommand : public Command {
public:
    explicit StationPrintCommand(Session& s) : s_(s) {}

    void start() override
    {
        const QStringList& args = s_.options.args;
        sub_ = args.value(0);
        if (args.size() != 2)
            return end(fail(QStringLiteral("usage: quorlex-bms-cli station %1 RUN%2")
                                .arg(sub_, sub_ == QLatin1String("report")    ? QStringLiteral(" --pdf FILE")
                                           : sub_ == QLatin1String("reprint") ? QStringLiteral(" --reason TEXT")
                                                                              : QString()),
                            kExitUsage));
        background_ = s_.options.has(QStringLiteral("background"));
        RecordsConfig config;
        config.lineUrl = s_.options.has(QStringLiteral("db")) ? s_.options.value(QStringLiteral("db")) : LineDatabaseFromEnvironment();
        if (!config.lineUrl.isEmpty() && !Database::isPostgresUrl(config.lineUrl))
            return end(fail(QStringLiteral("--db: '%1' is not a postgresql:// URL").arg(RedactedUrl(config.lineUrl)), kExitUsage));
        QString error;
        records_ = StationRecords::open(config, error);
        if (!records_)
            return end(fail(error, kExitDatabase));
        Database* db = &records_->local();
        if (s_.options.has(QStringLiteral("line")) && !(db = records_->line(error)))
            return end(fail(error, config.lineUrl.isEmpty() ? kExitUsage : kExitDatabase));
        RecordStore store(*db, false);
        const auto id = store.resolveRunId(args[1], error);
        if (!id || id->isEmpty())
            return end(fail(id ? QStringLiteral("no run %1 on record in %2").arg(args[1], db->name()) : error,
                            id ? 1 : kExitDatabase));
        const auto record = store.load(*id, error);
        if (!record)
            return end(fail(error, kExitDatabase));
        record_ = *record;
        if (sub_ == QLatin1String("report"))
            return end(report());
        end(print());
    }

private:
    void end(int code) { s_.finish(code, result_); }

    int fail(const QString& error, int code)
    {
        if (!background_)
            s_.report.error(error);
        return code;
    }

    int report()
    {
        const QString path = s_.options.value(QStringLiteral("pdf"));
        if (path.isEmpty())
            return fail(QStringLiteral("station report: --pdf FILE names the report's file"), kExitUsage);
        QString error;
        if (!labels::WriteReport(record_, path, error))
            return fail(error, kExitOutput);
        s_.report.lines({QStringLiteral("Report: ") + path});
        result_.insert(QStringLiteral("pdf"), path);
        return kExitDone;
    }

    QString operatorName() const
    {
        if (s_.options.has(QStringLiteral("operator")))
            return s_.options.value(QStringLiteral("operator"));
        return sub_ == QLatin1String("reprint") ? qEnvironmentVariable("USER") : record_.value(QLatin1String("operator")).toString();
    }

    int print()
    {
        const QString reason = s_.options.value(QStringLiteral("reason")).trimmed();
        const bool reprint = sub_ == QLatin1String("reprint");
        if (reprint && reason.isEmpty())
            return fail(QStringLiteral("station reprint: a reprint needs its reason (--reason TEXT)"), kExitUsage);
        if (station::HasControlCharacters(reason) || station::HasControlCharacters(operatorName()))
            return fail(QStringLiteral("--reason and --operator may not hold control characters"), kExitUsage);
        const QString file = record_.value(QLatin1String("recipe")).toObject().value(QLatin1String("file")).toString();
        station::RecipeError recipeError;
        const std::optional<station::Recipe> recipe = station::LoadRecipe(file, recipeError);
        if (!recipe)
            return fail(QStringLiteral("the run's recipe cannot be loaded: ") + recipeError.text(), kExitUsage);
        const QString outcome = record_.value(QLatin1String("outcome")).toString();
        int code = kExitDone;
        if (background_ && recipe->report && recipe->report->wanted(outcome))
            code = saveReport(*recipe->report);
        if (background_ && !(recipe->label && recipe->label->wanted(outcome)))
            return code;
        if (!recipe->label)
            return fail(QStringLiteral("the recipe %1 has no [label]").arg(file), kExitUsage);
        if (recipe->sha256 != record_.value(QLatin1String("recipe")).toObject().value(QLatin1String("sha256")).toString())
            s_.report.note(QStringLiteral("The recipe changed since the run; the label is made as it says now"));
        QString error;
        const auto earlier = PrintsOf(records_->local(), record_.value(QLatin1String("run_id")).toString(), error);
        if (!earlier)
            return fail(error, kExitDatabase);
        labels::LabelRequest request;
        for (const PrintEntry& e : *earlier) {
            if (e.kind != QLatin1String("label"))
                continue;
            if (e.state == QLatin1String("printed") && !reprint)
                return fail(QStringLiteral("the label of run %1 was printed already: `station reprint RUN --reason TEXT` prints it again")
                                .arg(e.runId),
                            kExitUsage);
            request.earlierJobId = e.state == QLatin1String("printed") ? 0 : e.jobId;
            request.earlierPrinter = e.printer;
        }
        request.record = record_;
        request.label = *recipe->label;
        request.defaultPrinter = s_.options.has(QStringLiteral("printer")) ? s_.options.value(QStringLiteral("printer"))
                                                                           : labels::Cups::DefaultQueue();
        request.operatorName = operatorName();
        request.reprintReason = reason;
        const PrintEntry e = labels::PrintRunLabel(request);
        if (!StorePrint(records_->local(), e, error))
            s_.report.error(QStringLiteral("The print could not be kept in the records: ") + error);
        result_.insert(QStringLiteral("print"), EntryJson(e));
        if (e.state != QLatin1String("printed"))
            return fail(QStringLiteral("Label not printed: ") + e.reason, kExitNotPrinted);
        s_.report.lines({QStringLiteral("Label printed on %1 (job %2)").arg(e.printer).arg(e.jobId)});
        return code;
    }

    // The run's report in the recipe's folder (else "reports" beside the
    // results), printed too when the recipe says so.
    int saveReport(const station::ReportSection& section)
    {
        const QString results = s_.options.has(QStringLiteral("results")) ? s_.options.value(QStringLiteral("results"))
                                                                          : station::DefaultResultsFolder();
        const QString folder = section.folder.isEmpty() ? results + QStringLiteral("/reports") : section.folder;
        QString error;
        QByteArray pdf;
        const QString path = QDir(folder).filePath(labels::ReportFileName(record_));
        if (!QDir().mkpath(folder) || !labels::ReportPdf(record_, pdf, error) || !WriteFileAtomically(path, pdf, error))
            return fail(QStringLiteral("The report could not be written to %1: %2").arg(folder, error), kExitOutput);
        result_.insert(QStringLiteral("report"), path);
        if (!section.print)
            return kExitDone;
        PrintEntry e;
        e.runId = record_.value(QLatin1String("run_id")).toString();
        e.kind = QStringLiteral("report");
        e.operatorName = operatorName();
        e.stationId = record_.value(QLatin1String("station_id")).toString();
        e.printer = !section.printer.isEmpty() ? section.printer
                    : s_.options.has(QStringLiteral("printer")) ? s_.options.value(QStringLiteral("printer"))
                                                                : labels::Cups::DefaultQueue();
        const labels::JobResult r = labels::Cups::Print({e.printer, pdf, labels::kPdfFormat, 1, QStringLiteral("Report %1").arg(e.runId), {}},
                                                        labels::kLabelJobTimeoutMs);
        e.at = QDateTime::currentDateTime();
        e.jobId = r.jobId;
        e.state = r.printed ? QStringLiteral("printed") : QStringLiteral("failed");
        e.reason = r.reason;
        StorePrint(records_->local(), e, error);
        return r.printed ? kExitDone : kExitNotPrinted;
    }

    Session& s_;
    QString sub_;
    bool background_ = false;
    std::unique_ptr<StationRecords> records_;
    QJsonObject record_;
    QJsonObject result_;
};

} // namespace

bool IsStationPrintCommand(const QString& sub)
{
    return sub == QLatin1String("print") || sub == QLatin1String("reprint") || sub == QLatin1String("report");
}

std::unique_ptr<Command> MakeStationPrintCommand(Session& session)
{
    return std::make_unique<StationPrintCommand>(session);
}

bool PrintInBackground(const QString& runId, const QString& resultsFolder, const QString& printer)
{
    QStringList args{QStringLiteral("station"), QStringLiteral("print"), runId, QStringLiteral("--background"),
                     QStringLiteral("--results"), resultsFolder};
    if (!printer.isEmpty())
        args << QStringLiteral("--printer") << printer;
    QProcess p;
    p.setProgram(QCoreApplication::applicationFilePath());
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    return p.startDetached();
}

} // namespace bms::cli
