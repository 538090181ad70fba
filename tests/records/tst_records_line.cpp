// Store and forward against a real PostgreSQL server (a throw-away cluster
// that the CTest fixture starts with scripts/pg-test-cluster): runs reach
// the line once however often they are forwarded, a server stopped or a
// forwarder killed mid-forward loses and doubles nothing, two processes
// reserving serial numbers at once never get the same one, a database
// with a newer schema is refused with nothing written, and a server that
// stops answering or goes away ends every call in time with a plain error.
#include "Forwarder.h"
#include "RecordStore.h"
#include "RecordsTestSupport.h"
#include "Schema.h"
#include "SchemaV2Sample.h"
#include "SerialLease.h"
#include "StationRecords.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QUuid>
#include <csignal>
#include <future>
#include <set>

using namespace bms::records;
using namespace bms::test;

namespace {

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

// The cluster's URL, with a database of its own for each test.
class LineFixture : public RecordsFixture {
protected:
    void SetUp() override
    {
        RecordsFixture::SetUp();
        QFile state(QStringLiteral(BMS_PG_STATE));
        ASSERT_TRUE(state.open(QIODevice::ReadOnly))
            << "the PostgreSQL test cluster is not running (" BMS_PG_STATE " missing): its fixture test failed";
        const QString server = QString::fromUtf8(state.readAll()).trimmed();
        QString error;
        auto admin = Database::openPostgres(server, error);
        ASSERT_TRUE(admin) << error.toStdString();
        const QString name = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128);
        ASSERT_TRUE(admin->exec(QStringLiteral("CREATE DATABASE ") + name, error)) << error.toStdString();
        url_ = server;
        url_.replace(QRegularExpression(QStringLiteral("/bms\\?")), QStringLiteral("/") + name + QStringLiteral("?"));
        folder_ = QUrlQuery(QUrl(server)).queryItemValue(QStringLiteral("host"));
    }
    void TearDown() override
    {
        // A test that stopped the server leaves it running again.
        thawServer();
        if (stopped_)
            restartServer();
    }

    const QString& url() const { return url_; }

    std::unique_ptr<Database> line()
    {
        QString error;
        auto db = Database::openPostgres(url_, error);
        EXPECT_TRUE(db && Migrate(*db, error)) << error.toStdString();
        return db;
    }

    // Stores runs 1..count (with `measurements` each) in the PC's database.
    void storeLocally(int first, int count, int measurements)
    {
        QString error;
        auto records = StationRecords::open({localPath(), url_}, error);
        ASSERT_TRUE(records) << error.toStdString();
        for (int n = first; n < first + count; ++n) {
            SampleRun run;
            run.number = n;
            run.measurements = measurements;
            ASSERT_TRUE(records->store(SampleRecord(run), error)) << error.toStdString();
        }
    }

    void cluster(const char* command)
    {
        QProcess p;
        p.start(QStringLiteral(BMS_PG_CLUSTER), {QLatin1String(command), QStringLiteral(BMS_PG_STATE)});
        ASSERT_TRUE(p.waitForFinished(90000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    void stopServer()
    {
        stopped_ = true;
        cluster("stop");
    }
    void restartServer()
    {
        cluster("restart");
        stopped_ = false;
    }
    // SIGSTOP to the cluster's processes (its postmaster and their
    // children): a server that takes connections and answers nothing.
    void freezeServer()
    {
        QFile pidFile(folder_ + QStringLiteral("/data/postmaster.pid"));
        ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
        const QByteArray postmaster = pidFile.readLine().trimmed();
        frozen_ = {postmaster.toInt()};
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            const QByteArray fields = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
            const QList<QByteArray> after = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
            if (after.size() > 1 && after[1] == postmaster)
                frozen_.push_back(pid.toInt());
        }
        for (int pid : frozen_)
            ::kill(pid, SIGSTOP);
    }
    void thawServer()
    {
        for (int pid : frozen_)
            ::kill(pid, SIGCONT);
        frozen_.clear();
    }

    // Runs on the line whose rows are not all there (expects `measurements`
    // each), and runs in all.
    static qint64 brokenRuns(Database& db, int measurements)
    {
        return Scalar(db, QStringLiteral("SELECT COUNT(*) FROM runs r WHERE"
                                         " (SELECT COUNT(*) FROM measurements m WHERE m.run_id = r.run_id) <> %1"
                                         " OR (SELECT COUNT(*) FROM steps s WHERE s.run_id = r.run_id) <> 5"
                                         " OR (SELECT COUNT(*) FROM attachments a WHERE a.run_id = r.run_id) <> 1")
                                  .arg(measurements));
    }

private:
    QString url_;
    QString folder_;
    std::vector<int> frozen_;
    bool stopped_ = false;
};

TEST_F(LineFixture, aRunForwardedAgainIsKeptOnceAndOtherPCsSeeItsPass)
{
    storeLocally(1, 5, 20);
    QString error;
    auto local = Database::openSqlite(localPath(), error);
    ASSERT_TRUE(local && Migrate(*local, error));
    Forwarder forwarder(*local, url());
    Forwarder::Pass pass = forwarder.forward(false, 100);
    EXPECT_EQ(pass.forwarded, 5) << pass.error.toStdString();
    EXPECT_EQ(pass.waiting, 0);
    auto db = line();
    const auto there = RecordStore(*db, false).load(SampleRunId(3), error);
    const auto here = RecordStore(*local, false).load(SampleRunId(3), error);
    ASSERT_TRUE(there && here);
    EXPECT_EQ(QJsonDocument(*there).toJson().toStdString(), QJsonDocument(*here).toJson().toStdString());
    // The line's export (its cursors) gives what the PC's does.
    for (const char* format : {"json", "csv"}) {
        const QStringList args = {"station", "export", "--format", format, "--limit", "4"};
        const CliResult fromLine = cli(args + QStringList{"--line", "--db", url()});
        EXPECT_EQ(fromLine.code, 0) << fromLine.err.toStdString();
        EXPECT_EQ(fromLine.out, cli(args).out);
        EXPECT_TRUE(fromLine.err.contains("only the first 4 runs")) << fromLine.err.toStdString();
    }

    // As after a crash between the line's commit and the queue's delete.
    ASSERT_TRUE(local->exec("INSERT INTO forward_queue (run_id, queued_ms, attempts, next_ms)"
                            " SELECT run_id, 0, 0, 0 FROM runs", error));
    pass = forwarder.forward(false, 100);
    EXPECT_EQ(pass.forwarded, 5);
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 5);
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM measurements"), 5 * 20);

    // Another PC of the same station, with nothing of its own.
    auto other = StationRecords::open({path("other.db"), url()}, error);
    ASSERT_TRUE(other) << error.toStdString();
    EXPECT_EQ(other->passedBefore("QB2026120900001", "EOL-1", error), std::optional<bool>(true));
    EXPECT_EQ(other->passedBefore("QB2026120900001", "EOL-9", error), std::optional<bool>(false));
}

TEST_F(LineFixture, oddFieldsReachTheLineAsTheyAreAndARunTheServerRefusesIsNamed)
{
    // Values their columns would not keep (a 3e9 count, a null time, a
    // number as a name, a text step index) travel as they are.
    QJsonObject odd = SampleRecord({});
    QJsonArray steps = odd["steps"].toArray();
    QJsonObject step = steps[2].toObject();
    step["retries"] = qint64(3000000000);
    step["started_at"] = QJsonValue::Null;
    step["name"] = 5;
    steps[2] = step;
    odd["steps"] = steps;
    QJsonArray measurements = odd["measurements"].toArray();
    QJsonObject m = measurements[0].toObject();
    m["step"] = "7";
    measurements[0] = m;
    odd["measurements"] = measurements;
    QString error;
    {
        auto records = StationRecords::open({localPath(), url()}, error);
        ASSERT_TRUE(records && records->store(odd, error)) << error.toStdString();
    }
    const CliResult first = cli({"station", "forward", "--db", url()});
    EXPECT_EQ(first.code, 0) << first.err.toStdString();
    auto db = line();
    const auto there = RecordStore(*db, false).load(SampleRunId(1), error);
    ASSERT_TRUE(there) << error.toStdString();
    EXPECT_EQ(QJsonDocument(*there).toJson().toStdString(), QJsonDocument(odd).toJson().toStdString());

    // Rows an older tool kept that the server refuses: each run waits on
    // its own and is named with the field.
    storeLocally(2, 2, 5);
    auto local = Database::openSqlite(localPath(), error);
    ASSERT_TRUE(local);
    ASSERT_TRUE(local->exec(QStringLiteral("UPDATE steps SET retries = 3000000000 WHERE run_id = '%1' AND seq = 1").arg(SampleRunId(2)), error));
    QSqlQuery& nul = local->prepared(QStringLiteral("UPDATE measurements SET unit = ? WHERE run_id = ? AND seq = 2"));
    nul.bindValue(0, QStringLiteral("m") + QChar(u'\0') + QStringLiteral("V"));
    nul.bindValue(1, SampleRunId(3));
    ASSERT_TRUE(local->exec(nul, error)) << error.toStdString();
    const CliResult refused = cli({"station", "forward", "--db", url()});
    EXPECT_EQ(refused.code, 6);
    QSqlQuery& why = local->prepared(QStringLiteral("SELECT last_error FROM forward_queue WHERE run_id = ?"));
    QStringList told;
    for (const auto& [run, field] : {std::pair{2, "steps[1].retries is 3000000000, beyond 32 bits"},
                                     std::pair{3, "measurements[2].unit holds a NUL character"}}) {
        why.bindValue(0, SampleRunId(run));
        ASSERT_TRUE(local->exec(why, error) && why.next()) << error.toStdString();
        told.append(why.value(0).toString());
        why.finish();
        EXPECT_TRUE(told.back().startsWith(QStringLiteral("run %1: ").arg(SampleRunId(run)))) << told.back().toStdString();
        EXPECT_TRUE(told.back().endsWith(QStringLiteral("(%1)").arg(QLatin1String(field)))) << told.back().toStdString();
    }
    EXPECT_TRUE(refused.err.contains(told[0]) || refused.err.contains(told[1])) << refused.err.toStdString();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 1);
}

TEST_F(LineFixture, serverStoppedOrForwarderKilledMidForwardLosesAndDoublesNothing)
{
    const int measurements = 40;
    storeLocally(1, 300, measurements);
    auto db = line();
    QProcess loop;
    loop.setProcessEnvironment(environment());
    loop.start(QStringLiteral(BMS_CLI), {"station", "forward", "--loop", "--interval", "100", "--db", url()});
    ASSERT_TRUE(loop.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return Scalar(*db, "SELECT COUNT(*) FROM runs") >= 40; }, 60000));
    db.reset();
    stopServer();
    QByteArray said;
    ASSERT_TRUE(WaitUntil([&] {
        said += loop.readAllStandardOutput();
        return said.contains("waiting for the line database (");
    }, 30000)) << said.toStdString();
    restartServer();

    QString error;
    auto local = Database::openSqlite(localPath(), error);
    ASSERT_TRUE(local);
    ASSERT_TRUE(WaitUntil([&] { return Scalar(*local, "SELECT COUNT(*) FROM forward_queue") == 0; }, 60000));
    db = line();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 300);
    EXPECT_EQ(brokenRuns(*db, measurements), 0);

    // Killed mid-forward: what it had not taken off the queue goes with the
    // next forward, once.
    storeLocally(301, 300, measurements);
    ASSERT_TRUE(WaitUntil([&] { return Scalar(*db, "SELECT COUNT(*) FROM runs") >= 340; }, 60000));
    loop.kill();
    loop.waitForFinished();
    const CliResult once = cli({"--json", "station", "forward", "--db", url()});
    EXPECT_EQ(once.code, 0) << once.err.toStdString();
    EXPECT_EQ(once.last().value("waiting").toInt(), 0);
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 600);
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM measurements"), 600 * measurements);
    EXPECT_EQ(brokenRuns(*db, measurements), 0);
}

// Two processes reserving from one database, and two PCs leasing blocks
// from the line at once: never one number twice.
TEST_F(LineFixture, twoProcessesReservingAThousandSerialNumbersEachNeverShareOne)
{
    for (const char* how : {"reserve", "lease"}) {
        const QString database = QLatin1String(how) == QLatin1String("reserve") ? localPath() : url();
        SCOPED_TRACE(how);
        QProcess a, b;
        for (QProcess* p : {&a, &b})
            p->start(QStringLiteral(BMS_RECORDS_CHILD), {QLatin1String(how), database, "QX20261209", "1000"});
        std::multiset<qint64> numbers;
        for (QProcess* p : {&a, &b}) {
            ASSERT_TRUE(p->waitForFinished(120000));
            ASSERT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
            for (const QByteArray& line : p->readAllStandardOutput().split('\n'))
                if (!line.isEmpty())
                    numbers.insert(line.toLongLong());
        }
        ASSERT_EQ(numbers.size(), 2000u);
        EXPECT_EQ(std::set<qint64>(numbers.begin(), numbers.end()).size(), 2000u) << "a number was handed out twice";
    }
    auto db = line();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM serial_numbers WHERE state = 'leased' AND holder IS NULL"), 0);
}

// A PC that numbered packs on its own before it had a line database: its
// numbers are registered on the line, whose sequence passes them; another
// PC that gave one of them to another pack is told of the conflict; with
// the server down, leased numbers go on serving runs until none is left,
// then the words say since when the line has not answered; back up, the
// line learns which pack holds each number.
TEST_F(LineFixture, numbersOfAPcAloneAndOfALineOutageAreNeverHandedOutTwice)
{
    const QString key = QStringLiteral("QX20261209");
    QString error;
    const auto test = [&](StationRecords& pc, const QString& barcode, bool pass = true) -> qint64 {
        const QString run = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const auto g = pc.reserve(key, run, barcode, error);
        if (!g)
            return -1;
        SerialGrant grant = *g;
        if (grant.value.isEmpty())
            grant.value = key + QStringLiteral("%1").arg(grant.number, 5, 10, QLatin1Char('0'));
        EXPECT_TRUE(pc.bind(grant, run, barcode, {}, error)) << error.toStdString();
        EXPECT_TRUE(pc.settle(grant, run, true, pass, error)) << error.toStdString();
        return grant.number;
    };
    {
        auto alone = StationRecords::open({localPath(), {}}, error);
        ASSERT_TRUE(alone) << error.toStdString();
        EXPECT_EQ(test(*alone, "A1"), 1);
        EXPECT_EQ(test(*alone, "A2", false), 2);
        auto other = StationRecords::open({path("other.db"), {}}, error);
        EXPECT_EQ(test(*other, "Z1"), 1);
    }
    auto pc = StationRecords::open({localPath(), url()}, error);
    ASSERT_TRUE(pc) << error.toStdString();
    QString why;
    ASSERT_TRUE(pc->serialsReady({{key, QDate()}}, 10, why)) << why.toStdString();
    EXPECT_EQ(test(*pc, "A3"), 3);
    EXPECT_EQ(test(*pc, "A2"), 2) << "a pack keeps its number";
    auto db = line();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM serial_numbers WHERE number <= 2 AND barcode IN ('A1', 'A2')"), 2);
    EXPECT_EQ(Scalar(*db, "SELECT next_number FROM serial_sequences"), 13);
    {
        auto other = StationRecords::open({path("other.db"), url()}, error);
        EXPECT_FALSE(other->syncSerials(error) && SerialConflicts(other->local()).isEmpty());
        EXPECT_TRUE(SerialConflicts(other->local()).value(0).contains(QStringLiteral("Z1 here, A1 on the line")))
            << SerialConflicts(other->local()).join(';').toStdString();
    }

    db.reset();
    stopServer();
    QElapsedTimer clock;
    clock.start();
    std::set<qint64> offline;
    for (int i = 4; i <= 12; ++i)
        offline.insert(test(*pc, QStringLiteral("A%1").arg(i)));
    EXPECT_EQ(offline, (std::set<qint64>{4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_LT(clock.elapsed(), 5000) << "runs waited for the server";
    EXPECT_EQ(test(*pc, "A13"), -1);
    EXPECT_TRUE(error.startsWith(QStringLiteral("No serial numbers left: the line database has been unreachable since ")))
        << error.toStdString();
    restartServer();
    EXPECT_TRUE(pc->syncSerials(error)) << error.toStdString();
    db = line();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM serial_numbers WHERE state = 'committed' AND number BETWEEN 4 AND 12"), 9);
    EXPECT_EQ(test(*pc, "A13"), 13) << "a new block from where the line left off";
    // Started without its line database, the PC hands out none of its own.
    pc.reset();
    auto without = StationRecords::open({localPath(), {}}, error);
    EXPECT_EQ(test(*without, "A14"), -1);
    EXPECT_TRUE(error.contains(QStringLiteral("takes its serial numbers from the line database"))) << error.toStdString();
}

// A line database as the tool wrote it before times had one
// representation: every time converted, in place, and runs forwarded to it.
TEST_F(LineFixture, aVersion2LineDatabaseHasEveryTimeConvertedAndTakesRuns)
{
    BerlinTime berlin;
    QString error;
    {
        auto db = Database::openPostgres(url(), error);
        ASSERT_TRUE(db && LoadSchemaV2(*db, error)) << error.toStdString();
        const auto before = SampleRecords(*db);
        ASSERT_EQ(before.size(), 7u);
        ASSERT_TRUE(Migrate(*db, error)) << error.toStdString();
        ExpectSampleConverted(*db, before);
    }
    storeLocally(1, 2, 5);
    const CliResult forward = cli({"station", "forward", "--db", url()});
    EXPECT_EQ(forward.code, 0) << forward.err.toStdString();
    auto db = line();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 9);
}

TEST_F(LineFixture, aDatabaseWithANewerSchemaIsRefusedWithNothingWritten)
{
    const QString folder = recordFolder("results", {SampleRun{}});
    storeLocally(7, 2, 10);
    const QString bump = QStringLiteral("INSERT INTO schema_migrations (version) VALUES (%1)")
                             .arg(KnownSchemaVersion() + 1);
    QString error;
    {
        auto db = line();
        ASSERT_TRUE(db->exec(bump, error)) << error.toStdString();
    }
    const CliResult forward = cli({"station", "forward", "--db", url()});
    EXPECT_EQ(forward.code, 6);
    EXPECT_TRUE(forward.err.contains("newer than this tool knows")) << forward.err.toStdString();
    EXPECT_TRUE(forward.out.contains("2 runs waiting for the line database")) << forward.out.toStdString();
    {
        auto db = Database::openPostgres(url(), error);
        ASSERT_TRUE(db);
        EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 0);
    }

    {
        auto local = Database::openSqlite(localPath(), error);
        ASSERT_TRUE(local && local->exec(bump, error));
    }
    const CliResult import = cli({"station", "import", folder});
    EXPECT_EQ(import.code, 6);
    EXPECT_TRUE(import.err.contains("newer than this tool knows")) << import.err.toStdString();
    auto local = Database::openSqlite(localPath(), error);
    EXPECT_EQ(Scalar(*local, "SELECT COUNT(*) FROM runs"), 2);
}

// Runs with big traces reach the line in transactions of about 8 MiB of
// rows (two runs of 3 MiB each as the server is handed them), not 50 runs at
// once.
TEST_F(LineFixture, aBatchOfRunsIsCappedByItsBytes)
{
    QString error;
    {
        auto records = StationRecords::open({localPath(), url()}, error);
        ASSERT_TRUE(records) << error.toStdString();
        for (int n = 1; n <= 6; ++n) {
            SampleRun run;
            run.number = n;
            run.traceBytes = 1536 * 1024;
            ASSERT_TRUE(records->store(SampleRecord(run), error)) << error.toStdString();
        }
    }
    auto db = line();
    for (const char* sql : {"CREATE TABLE batches (run_id TEXT, tx BIGINT)",
                            "CREATE FUNCTION note_batch() RETURNS trigger LANGUAGE plpgsql AS $$"
                            " BEGIN INSERT INTO batches VALUES (NEW.run_id, txid_current()); RETURN NEW; END $$",
                            "CREATE TRIGGER note_batch AFTER INSERT ON attachments FOR EACH ROW EXECUTE FUNCTION note_batch()"})
        ASSERT_TRUE(db->exec(QLatin1String(sql), error)) << error.toStdString();
    const CliResult forward = cli({"station", "forward", "--db", url()});
    EXPECT_EQ(forward.code, 0) << forward.err.toStdString();
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM batches"), 6);
    EXPECT_EQ(Scalar(*db, "SELECT MAX(n) FROM (SELECT COUNT(*) AS n FROM batches GROUP BY tx) t"), 2);
}

// Statements of ever other texts (searches with other filters) leave a
// bounded number prepared on the server.
TEST_F(LineFixture, aConnectionKeepsABoundedNumberOfPreparedStatements)
{
    auto db = line();
    QString error;
    for (int i = 0; i < 300; ++i) {
        QSqlQuery& q = db->prepared(QStringLiteral("SELECT COUNT(*) + %1 FROM runs WHERE barcode = ?").arg(i));
        q.bindValue(0, QStringLiteral("B%1").arg(i));
        ASSERT_TRUE(db->exec(q, error) && q.next()) << error.toStdString();
        EXPECT_EQ(q.value(0).toInt(), i);
        q.finish();
    }
    EXPECT_LE(Scalar(*db, "SELECT COUNT(*) FROM pg_prepared_statements"), qint64(Database::kPreparedKept) + 1);
}

// A server that stops answering (its processes stopped): a statement ends
// at its time limit and its connection is given up; the command line's
// forward and history end within the connection's time limit, even when
// the URL asks libpq to wait forever (connect_timeout=0). A table locked on
// the server ends a forward within the statement's limit.
TEST_F(LineFixture, aServerThatStopsAnsweringEndsEveryCallInTime)
{
    storeLocally(1, 2, 5);
    // The connection lives on a thread of its own: a call that never
    // returns fails the test (and the server thawed lets it end).
    struct Calls {
        bool first = true, second = true, lost = false;
        qint64 firstMs = -1, secondMs = -1;
        QString error;
    };
    std::promise<void> connected, frozen;
    auto calls = std::async(std::launch::async, [&] {
        Calls c;
        auto db = Database::openPostgres(url(), c.error);
        // The limit is set on the server before it is stopped.
        if (db)
            db->setQueryLimit(1000);
        connected.set_value();
        if (!db)
            return c;
        frozen.get_future().wait();
        QElapsedTimer took;
        took.start();
        c.first = db->exec(QStringLiteral("SELECT 1"), c.error);
        c.firstMs = took.restart();
        c.lost = db->lost();
        QString again;
        c.second = db->exec(QStringLiteral("SELECT 1"), again);
        db.reset();
        c.secondMs = took.elapsed();
        return c;
    });
    connected.get_future().wait();
    freezeServer();
    frozen.set_value();
    if (calls.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        thawServer();
        ADD_FAILURE() << "a statement on a stopped server did not return";
    }
    const Calls c = calls.get();
    EXPECT_FALSE(c.first);
    EXPECT_LT(c.firstMs, 4000);
    EXPECT_TRUE(c.error.contains("no answer within 1 s")) << c.error.toStdString();
    EXPECT_TRUE(c.lost);
    EXPECT_FALSE(c.second);
    EXPECT_LT(c.secondMs, 500) << "a lost connection fails at once and closes without waiting";

    for (const QStringList& args : {QStringList{"--json", "station", "forward", "--db", url()},
                                    QStringList{"--json", "station", "history", "--line", "--db", url() + "&connect_timeout=0"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        QElapsedTimer took;
        took.start();
        const CliResult r = cli(args, 30000);
        EXPECT_LT(took.elapsed(), 15000);
        EXPECT_EQ(r.code, 6) << r.err.toStdString();
        EXPECT_EQ(r.last().value("error").toObject().value("kind").toString().toStdString(), "database");
        EXPECT_TRUE(r.err.contains("timeout expired")) << r.err.toStdString();
    }

    // A lock held on the server: the statement that waits for it is
    // cancelled in time, and forwarding stops there rather than try each
    // run alone.
    thawServer();
    auto admin = line();
    QString error;
    ASSERT_TRUE(admin->begin(error) && admin->exec(QStringLiteral("LOCK TABLE runs IN ACCESS EXCLUSIVE MODE"), error))
        << error.toStdString();
    QElapsedTimer took;
    took.start();
    const CliResult locked = cli({"station", "forward", "--db", url()}, 60000);
    EXPECT_LT(took.elapsed(), 15000);
    EXPECT_EQ(locked.code, 6);
    EXPECT_TRUE(locked.err.contains("(57014)")) << locked.err.toStdString();
    admin->rollback();
}

// A server gone while connected (stopped under it): each later call fails
// at once with a plain error, with no warning of Qt's on stderr; a login
// the server refuses is a database error of the command line.
TEST_F(LineFixture, aServerGoneAndALoginRefusedArePlainDatabaseErrors)
{
    const CliResult refused = cli({"--json", "station", "history", "--line", "--db", QString(url()).replace("postgres@", "nobody:Pw1@")});
    EXPECT_EQ(refused.code, 6);
    EXPECT_EQ(refused.last().value("error").toObject().value("kind").toString().toStdString(), "database");
    EXPECT_FALSE(refused.out.contains("Pw1") || refused.err.contains("Pw1")) << refused.err.toStdString();

    static QStringList warnings;
    warnings.clear();
    auto db = line();
    ASSERT_TRUE(db);
    ASSERT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), 0);
    stopServer();
    const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        warnings.append(text);
    });
    QString error;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM runs"), -1);
        EXPECT_FALSE(db->exec(QStringLiteral("SELECT 1"), error));
    }
    db.reset();
    qInstallMessageHandler(before);
    EXPECT_TRUE(error.contains("connection to the server is lost")) << error.toStdString();
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

} // namespace
