#include "StationQuality.h"

#include "Database.h"
#include "DurableFile.h"
#include "Redaction.h"
#include "Session.h"
#include "StationRecords.h"
#include "StationRecordsCommand.h"
#include "TextChecks.h"

#include <QDateTime>
#include <QFileInfo>
#include <set>

namespace bms::cli {

using namespace bms::records;

namespace {

// Control charts drawn in the HTML report: those of the measurements with
// alerts, each with at most this many newest points.
constexpr int kReportCharts = 12;
constexpr int kReportChartPoints = 500;

QString Fixed(std::optional<double> v, int decimals = 2)
{
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
}

QString Yield(std::optional<double> percent, qint64 part, qint64 whole)
{
    return percent ? QStringLiteral("%1 % (%2/%3)").arg(*percent, 0, 'f', 1).arg(part).arg(whole) : QStringLiteral("-");
}

// Columns padded to their widest cell, control characters shown escaped.
QStringList Table(QList<QStringList> rows)
{
    std::vector<qsizetype> widths;
    for (QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i) {
            row[i] = station::Printable(row[i]);
            if (qsizetype(widths.size()) <= i)
                widths.push_back(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line = QStringLiteral("  ");
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        lines.append(line);
    }
    return lines;
}

QStringList QualityText(const QualityFigures& f)
{
    QStringList lines;
    for (const auto& [by, rows] : f.yields) {
        if (rows.empty())
            continue;
        lines.append(by == YieldBy::Total ? QStringLiteral("Yield") : QStringLiteral("Yield by %1").arg(YieldByName(by)));
        QList<QStringList> table = {{by == YieldBy::Total ? QString() : YieldByName(by), QStringLiteral("runs"),
                                     QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("error"),
                                     QStringLiteral("aborted"), QStringLiteral("first-pass yield"), QStringLiteral("final yield"),
                                     QStringLiteral("losses")}};
        for (const YieldRow& r : rows)
            table.append({r.group, QString::number(r.runs), QString::number(r.pass), QString::number(r.fail),
                          QString::number(r.error), QString::number(r.aborted),
                          Yield(r.firstPassYield(), r.firstPass, r.firstRuns), Yield(r.finalYield(), r.lastPass, r.lastRuns),
                          r.lossRate() ? QStringLiteral("%1 %").arg(*r.lossRate(), 0, 'f', 1) : QStringLiteral("-")});
        lines += Table(table);
    }
    for (const auto& [title, list, total] :
         {std::tuple{QStringLiteral("Failure Pareto (FAIL runs)"), &f.pareto.failures, f.pareto.failRuns},
          std::tuple{QStringLiteral("Station losses (ERROR, ABORTED)"), &f.pareto.losses, f.pareto.lossRuns}}) {
        if (list->empty())
            continue;
        lines.append(QStringLiteral("%1: %2").arg(title).arg(total));
        QList<QStringList> table = {{QStringLiteral("code"), QStringLiteral("runs"), QStringLiteral("share"), QStringLiteral("cumulative")}};
        for (const ParetoRow& r : *list)
            table.append({r.code.isEmpty() ? QStringLiteral("(none)") : r.code, QString::number(r.count),
                          QStringLiteral("%1 %").arg(r.share, 0, 'f', 1), QStringLiteral("%1 %").arg(r.cumulative, 0, 'f', 1)});
        lines += Table(table);
    }
    if (!f.capability.empty()) {
        lines.append(QStringLiteral("Capability"));
        QList<QStringList> table = {{QStringLiteral("measurement"), QStringLiteral("unit"), QStringLiteral("low"),
                                     QStringLiteral("high"), QStringLiteral("n"), QStringLiteral("mean"),
                                     QStringLiteral("sigma"), QStringLiteral("within"), QStringLiteral("Cp"), QStringLiteral("Cpk"),
                                     QStringLiteral("Pp"), QStringLiteral("Ppk"), QStringLiteral("outside")}};
        for (const Capability& c : f.capability)
            table.append({c.key, c.unit, Fixed(c.low, 3), Fixed(c.high, 3), QString::number(c.n), QString::number(c.mean, 'g', 6),
                          Fixed(c.sigmaOverall, 4), Fixed(c.sigmaWithin, 4), Fixed(c.cp), Fixed(c.cpk), Fixed(c.pp), Fixed(c.ppk),
                          QStringLiteral("%1 %").arg(c.outsidePercent(), 0, 'f', 2)});
        lines += Table(table);
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<const RuleAlert*> current;
    for (const RuleAlert& a : f.alerts)
        if (a.current)
            current.push_back(&a);
    lines.append(current.empty() ? QStringLiteral("No run rule holds at the newest reading of any chart")
                                 : QStringLiteral("Alerts (run rules that hold at the newest reading)"));
    for (const RuleAlert* a : current)
        lines.append(QStringLiteral("  ") + station::Printable(AlertText(*a, now)));
    if (f.alerts.size() > current.size())
        lines.append(QStringLiteral("%1 earlier stretch(es) of flagged points (--json lists them)").arg(f.alerts.size() - current.size()));
    return lines;
}

class StationQualityCommand : public Command {
public:
    explicit StationQualityCommand(Session& s) : s_(s) {}

    void start() override
    {
        const int code = run();
        s_.finish(code, result_);
    }

private:
    int fail(const QString& error, int code)
    {
        s_.report.error(error);
        return code;
    }

    int run()
    {
        const bool html = s_.options.args.value(0) == QLatin1String("report");
        if (s_.options.args.size() != 1)
            return fail(QStringLiteral("usage: quorlex-bms-cli station %1 [--since T] [--until T] [--recipe R] [--station ID]"
                                       " [--fixture N]%2")
                            .arg(s_.options.args.value(0), html ? QStringLiteral(" --html FILE") : QString()),
                        kExitUsage);
        auto filter = FilterOfOptions(s_, 0);
        if (!filter)
            return kExitUsage;
        filter->fixture = s_.options.value(QStringLiteral("fixture"));
        RecordsConfig config;
        config.lineUrl = s_.options.has(QStringLiteral("db")) ? s_.options.value(QStringLiteral("db")) : LineDatabaseFromEnvironment();
        if (!config.lineUrl.isEmpty() && !Database::isPostgresUrl(config.lineUrl))
            return fail(QStringLiteral("--db: '%1' is not a postgresql:// URL").arg(RedactedUrl(config.lineUrl)), kExitUsage);
        QString error;
        records_ = StationRecords::open(config, error);
        if (!records_)
            return fail(error, kExitDatabase);
        Database* db = &records_->local();
        if (s_.options.has(QStringLiteral("line")) && !(db = records_->line(error)))
            return fail(error, config.lineUrl.isEmpty() ? kExitUsage : kExitDatabase);
        // A month of a line's runs is summed up by the server: more than the
        // few seconds a single record's statement is given.
        db->setQueryLimit(120000);
        const auto figures = CollectQuality(*db, *filter, error);
        if (!figures)
            return fail(error, kExitDatabase);
        if (html)
            return writeHtml(*db, *figures);
        s_.report.lines(QualityText(*figures));
        result_ = QualityJson(*figures);
        return kExitDone;
    }

    int writeHtml(Database& db, const QualityFigures& figures)
    {
        const QString path = s_.options.value(QStringLiteral("html"));
        if (path.isEmpty())
            return fail(QStringLiteral("station report: --html FILE names the report's file"), kExitUsage);
        std::vector<ControlChart> charts;
        std::set<QString> keys;
        QString error;
        for (const RuleAlert& a : figures.alerts) {
            if (!a.current || keys.size() >= size_t(kReportCharts) || !keys.insert(a.key).second)
                continue;
            auto some = ControlCharts(db, figures.filter, a.key, kReportChartPoints, error);
            if (!some)
                return fail(error, kExitDatabase);
            for (ControlChart& c : *some)
                if (c.stationId == a.stationId && c.fixture == a.fixture)
                    charts.push_back(std::move(c));
        }
        const QString title = QStringLiteral("Line quality %1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        if (!WriteFileAtomically(path, QualityHtml(figures, charts, title).toUtf8(), error))
            return fail(QStringLiteral("station report: %1").arg(error), kExitDatabase);
        s_.report.lines({QStringLiteral("Report written to %1").arg(path)});
        result_.insert(QStringLiteral("html"), path);
        return kExitDone;
    }

    Session& s_;
    std::unique_ptr<StationRecords> records_;
    QJsonObject result_;
};

} // namespace

bool IsStationQualityCommand(const QStringList& args, bool html)
{
    return args.value(0) == QLatin1String("quality") || (args.value(0) == QLatin1String("report") && html);
}

std::unique_ptr<Command> MakeStationQualityCommand(Session& session)
{
    return std::make_unique<StationQualityCommand>(session);
}

} // namespace bms::cli
