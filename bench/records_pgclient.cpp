// Qt SQL (QPSQL) against libpq for what the forwarder sends: the same batch
// (50 runs of 200 measurements, 10,000 rows as one JSON parameter) inserted
// BATCHES times into a scratch table, one transaction each, through a
// prepared QSqlQuery and through PQexecParams. Prints wall time and this
// process's CPU per batch for both. Without URL a throw-away cluster is
// made with scripts/pg-test-cluster.
//
// Usage: bench_records_pgclient [batches, default 40] [URL]
#include "RecordsBench.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <libpq-fe.h>

namespace {

const char kTable[] = "CREATE TABLE IF NOT EXISTS bench_rows (run_id TEXT NOT NULL, seq INTEGER NOT NULL, step INTEGER,"
                      " name TEXT NOT NULL, value_num DOUBLE PRECISION, value_text TEXT, unit TEXT, limits TEXT,"
                      " outcome TEXT, extra TEXT, PRIMARY KEY (run_id, seq))";
const char kInsert[] = "INSERT INTO bench_rows (run_id, seq, step, name, value_num, value_text, unit, limits, outcome, extra)"
                       " SELECT run_id, seq, step, name, value_num, value_text, unit, limits, outcome, extra"
                       " FROM json_populate_recordset(NULL::bench_rows, %1::json) ON CONFLICT DO NOTHING";

QByteArray Batch()
{
    QJsonArray rows;
    for (int run = 0; run < 50; ++run) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        for (int i = 0; i < 200; ++i)
            rows.append(QJsonObject{{"run_id", id}, {"seq", i}, {"step", 4}, {"name", QStringLiteral("cell_%1").arg(i)},
                                    {"value_num", 3300.5 + i}, {"value_text", QJsonValue::Null}, {"unit", "mV"},
                                    {"limits", "{\"high\":3600,\"low\":3000}"}, {"outcome", "PASS"}, {"extra", QJsonValue::Null}});
    }
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

struct Figures {
    double wallMs = 0, cpuMs = 0;
};

template <typename F>
Figures Measure(int batches, F&& insertOne)
{
    const double cpu0 = bms::bench::ProcessCpuMs();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < batches; ++i)
        if (!insertOne()) {
            std::fprintf(stderr, "insert failed\n");
            std::exit(1);
        }
    return {bms::bench::Ms(t) / batches, (bms::bench::ProcessCpuMs() - cpu0) / batches};
}

// libpq's connection string from the URL the tool takes.
QByteArray Conninfo(const QString& url)
{
    const QUrl u(url);
    QString info = QStringLiteral("dbname=") + u.path().mid(1);
    if (!u.userName().isEmpty())
        info += QStringLiteral(" user=") + u.userName();
    if (!u.host().isEmpty())
        info += QStringLiteral(" host=") + u.host();
    for (const auto& [k, v] : QUrlQuery(u).queryItems(QUrl::FullyDecoded))
        info += QLatin1Char(' ') + k + QLatin1Char('=') + v;
    return info.toUtf8();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int batches = argc > 1 ? std::atoi(argv[1]) : 40;
    bms::bench::BenchCluster cluster(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    QString error;
    auto db = bms::records::Database::openPostgres(cluster.url(), error);
    if (!db || !db->exec(QLatin1String(kTable), error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    PGconn* pg = PQconnectdb(Conninfo(cluster.url()).constData());
    if (PQstatus(pg) != CONNECTION_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(pg));
        return 1;
    }
    const auto pgExec = [&](const char* sql) {
        PGresult* r = PQexec(pg, sql);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return ok;
    };
    PGresult* prep = PQprepare(pg, "ins", QString::fromLatin1(kInsert).arg(QLatin1String("$1")).toUtf8().constData(), 1, nullptr);
    PQclear(prep);

    // Each batch new rows (fresh run ids), made beforehand for both.
    std::vector<QByteArray> qtBatches, pqBatches;
    for (int i = 0; i < batches; ++i) {
        qtBatches.push_back(Batch());
        pqBatches.push_back(Batch());
    }
    int next = 0;
    const Figures qt = Measure(batches, [&] {
        QString e;
        if (!db->begin(e))
            return false;
        QSqlQuery& q = db->prepared(QString::fromLatin1(kInsert).arg(QLatin1String("?")));
        q.bindValue(0, QString::fromUtf8(qtBatches[size_t(next++)]));
        return db->exec(q, e) && db->commit(e);
    });
    next = 0;
    const Figures pq = Measure(batches, [&] {
        if (!pgExec("BEGIN"))
            return false;
        const char* values[] = {pqBatches[size_t(next++)].constData()};
        PGresult* r = PQexecPrepared(pg, "ins", 1, values, nullptr, nullptr, 0);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return ok && pgExec("COMMIT");
    });
    std::printf("a batch of 50 runs x 200 measurements (%.1f MB of JSON) into PostgreSQL, %d batches:\n"
                "  Qt SQL (QPSQL): %.1f ms a batch, this process's CPU %.1f ms\n"
                "  libpq:          %.1f ms a batch, this process's CPU %.1f ms\n",
                double(qtBatches[0].size()) / 1e6, batches, qt.wallMs, qt.cpuMs, pq.wallMs, pq.cpuMs);
    PQfinish(pg);
    return 0;
}
