// `bus scan` and `bus watch` end to end: the command line as a process
// against a rack of virtual packs on one pseudo-terminal. The values each
// pack event carries are that pack's own, a collision is no pack, a pack
// that falls silent is told within two sweeps and comes back, the workbook
// has one row per pack per sweep, the Trends tab's loader reads each pack's
// rows back from it, and every object follows the schema.
#include "JsonSchemaCheck.h"
#include "LogLoader.h"
#include "QuickPack.h"
#include "VirtualBus.h"
#include "XlsxDump.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <csignal>
#include <map>
#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

namespace {

QCoreApplication& QtApp()
{
    static int argc = 1;
    static char name[] = "tst_cli_bus";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

const JsonSchemaCheck& Schema()
{
    static const JsonSchemaCheck schema = [] {
        QFile file(QStringLiteral(CLI_JSON_SCHEMA));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return JsonSchemaCheck(QJsonDocument::fromJson(file.readAll()).object());
    }();
    return schema;
}

// The definition an object of `bus --json` follows.
QString DefinitionOf(const QJsonObject& o)
{
    const QString event = o.value("event").toString();
    return event.isEmpty() ? QStringLiteral("bus") : QStringLiteral("bus_") + event;
}

class CliBus : public ::testing::Test {
protected:
    void SetUp() override { QtApp(); }
    void startBus(int count, int collide = 0, sim::PackConfig base = QuickPack())
    {
        rack = std::make_unique<sim::VirtualBus>(sim::RackConfigs(count, base, collide), base);
        sim::ApplyRackTraits(*rack, count);
        port = QString::fromStdString(rack->start());
    }
    // Starts the program; its JSON lines are read as they come.
    void start(const QStringList& args)
    {
        process.start(QStringLiteral(BMS_CLI), QStringList{QStringLiteral("--port"), port, QStringLiteral("--json")} + args);
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForStarted());
    }
    // The next object printed (empty once the program has ended).
    QJsonObject next(int timeoutMs = 20000)
    {
        while (!process.canReadLine() && process.state() != QProcess::NotRunning)
            process.waitForReadyRead(timeoutMs);
        const QByteArray line = process.readLine();
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.isEmpty()) {
            const QStringList problems = Schema().check(o, command.isEmpty() ? DefinitionOf(o) : command);
            EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString() << "\n" << line.toStdString();
        }
        return o;
    }
    QList<QJsonObject> all()
    {
        QList<QJsonObject> out;
        for (QJsonObject o = next(); !o.isEmpty(); o = next())
            out.append(o);
        process.waitForFinished();
        return out;
    }

    std::unique_ptr<sim::VirtualBus> rack;
    QString command; // the definition of a command other than bus
    QString port;
    QProcess process;
    QTemporaryDir dir;
};

TEST_F(CliBus, ScanListsEveryPackAndTellsACollisionFromAPack)
{
    struct Case {
        int collide;
        int packs;
        int exit;
    };
    for (const Case c : {Case{0, 8, 0}, Case{2, 7, 1}}) {
        startBus(8, c.collide);
        start({QStringLiteral("bus"), QStringLiteral("scan")});
        const QList<QJsonObject> objects = all();
        ASSERT_EQ(objects.size(), 1);
        const QJsonObject& last = objects.last();
        EXPECT_EQ(process.exitCode(), c.exit);
        EXPECT_EQ(last.value("exit").toInt(), c.exit);
        const QJsonArray packs = last.value("packs").toArray();
        ASSERT_EQ(packs.size(), c.packs);
        for (const QJsonValue& v : packs) {
            const QJsonObject p = v.toObject();
            const int address = p.value("address").toInt();
            EXPECT_NE(address, c.collide);
            sim::VirtualPack& pack = *rack->packs(uint8_t(address)).front();
            EXPECT_EQ(p.value("serial").toString().toStdString(), pack.serialNumber().substr(8));
            EXPECT_EQ(p.value("barcode").toString().toStdString(), pack.barcode());
            EXPECT_EQ(p.value("cells").toInt(), 16);
            EXPECT_EQ(p.value("firmware").toString(), "1.5.3");
            EXPECT_EQ(p.value("uid").toString().size(), 24);
        }
        EXPECT_EQ(last.value("collisions").toArray(), c.collide ? QJsonArray{c.collide} : QJsonArray{});
        if (c.collide) {
            EXPECT_EQ(last.value("error").toObject().value("kind").toString(), "crc");
        }
    }
}

TEST_F(CliBus, WatchCarriesEachPacksOwnValuesAndLogsARowPerPackPerSweep)
{
    startBus(8);
    const QString xlsx = dir.filePath(QStringLiteral("bus.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("bus.csv"));
    start({QStringLiteral("bus"), QStringLiteral("watch"), QStringLiteral("--count"), QStringLiteral("2"),
           QStringLiteral("--log"), xlsx, QStringLiteral("--csv"), csv});
    const QList<QJsonObject> objects = all();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    // scan, 8 packs and a sweep twice, the last object.
    ASSERT_EQ(objects.size(), 1 + 2 * 9 + 1);
    QList<QJsonObject> readings;
    for (const QJsonObject& o : objects)
        if (o.value("event") == "pack")
            readings.append(o);
    ASSERT_EQ(readings.size(), 16);
    for (const QJsonObject& r : readings) {
        const int address = r.value("address").toInt();
        sim::VirtualPack& pack = *rack->packs(uint8_t(address)).front();
        EXPECT_TRUE(r.value("answered").toBool());
        EXPECT_EQ(r.value("rsoc").toInt(), pack.reg(0x0018)) << address;
        EXPECT_EQ(r.value("total_volt").toInt(), pack.reg(0x0017)) << address;
        EXPECT_EQ(r.value("cycles").toInt(), pack.reg(0x001B)) << address;
        EXPECT_EQ(r.value("fault_status").toArray().at(0).toInt(), pack.reg(0x0080)) << address;
        const QJsonArray cells = r.value("cell_volt").toArray();
        ASSERT_EQ(cells.size(), 16);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(cells[i].toInt(), pack.reg(uint16_t(0x0500 + i))) << address << "/" << i;
    }
    EXPECT_EQ(readings[sim::RackAlarmAddress(8) - 1].value("fault_status").toArray().at(0).toInt(), 1 << 6);
    const QJsonObject sweep = objects[9];
    EXPECT_EQ(sweep.value("answering").toInt(), 8);
    EXPECT_GT(sweep.value("wire_seconds").toDouble(), 0);

    // Read back with openpyxl: a title row, the header, then one row per
    // pack per sweep: time, address, serial, the data log's columns.
    QString error;
    const std::optional<XlsxDump> dump = ReadXlsx(xlsx, &error);
    ASSERT_TRUE(dump) << error.toStdString();
    ASSERT_EQ(dump->maxRow(), 2 + 16);
    EXPECT_EQ(dump->text(2, 2), "Address");
    EXPECT_EQ(dump->text(2, 3), "Serial");
    EXPECT_EQ(dump->text(2, 4), "Bat Volt(mV)");
    for (int row = 3; row <= 18; ++row) {
        const QJsonObject& r = readings[row - 3];
        EXPECT_EQ(dump->number(row, 2), r.value("address").toInt());
        EXPECT_EQ(dump->text(row, 3), r.value("serial").toString());
        EXPECT_EQ(dump->number(row, 4), r.value("total_volt").toInt() * 10.0);
    }
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1 + 16);
    EXPECT_TRUE(lines[0].startsWith("Sampling Time,Address,Serial,Bat Volt(mV)"));
    EXPECT_EQ(lines[5].split(',').value(1), "5");
}

TEST_F(CliBus, TheTrendsLoaderDrawsEachPackOfABusLogFromItsOwnRows)
{
    // Packs whose values move, so that every row differs from the last.
    sim::PackConfig live = QuickPack();
    live.live = true;
    startBus(4, 0, live);
    const QString xlsx = dir.filePath(QStringLiteral("rack.xlsx"));
    start({QStringLiteral("bus"), QStringLiteral("watch"), QStringLiteral("--count"), QStringLiteral("3"),
           QStringLiteral("--log"), xlsx});
    std::map<int, QList<QJsonObject>> logged;
    for (const QJsonObject& o : all())
        if (o.value("event") == "pack" && o.value("answered").toBool())
            logged[o.value("address").toInt()].append(o);
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    ASSERT_EQ(logged.size(), 4u);

    const trends::LoadedLog log = trends::LoadDataLog(xlsx);
    EXPECT_TRUE(log.busLog);
    EXPECT_EQ(log.samples, 12);
    EXPECT_EQ(log.skipped, 0);
    ASSERT_EQ(log.packs.size(), 4u);
    for (const trends::PackTimeline& pack : log.packs) {
        SCOPED_TRACE(pack.address);
        const QList<QJsonObject>& rows = logged[pack.address];
        EXPECT_EQ(pack.serial, rows.first().value("serial").toString());
        ASSERT_EQ(pack.samples, rows.size());
        int n = 0;
        pack.store.forEachRow(0, pack.store.lastTime(), [&](int64_t t, trends::SampleStore::RowKind, const trends::SampleValues& v) {
            const QJsonObject& r = rows[n++];
            QDateTime when = QDateTime::fromString(r.value("time").toString(), Qt::ISODateWithMs);
            when.setTime(QTime(when.time().hour(), when.time().minute(), when.time().second()));
            EXPECT_EQ(t, when.toMSecsSinceEpoch());
            EXPECT_EQ(v[trends::PackVoltage], r.value("total_volt").toInt() * 10);
            EXPECT_EQ(v[trends::PackCurrent], r.value("current").toInt());
            EXPECT_EQ(v[trends::Rsoc], r.value("rsoc").toInt());
            EXPECT_EQ(v[trends::MaxCellTemp], r.value("max_cell_temp").toInt());
            const QJsonArray cells = r.value("cell_volt").toArray();
            ASSERT_EQ(cells.size(), 16);
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(v[size_t(trends::FirstCell + i)], cells[i].toInt()) << i;
            const QJsonArray sensors = r.value("temp_a").toArray();
            for (int i = 0; i < sensors.size(); ++i)
                EXPECT_EQ(v[size_t(trends::FirstCellTemp + i)], sensors[i].toInt()) << i;
        });
        EXPECT_EQ(n, rows.size());
    }
}

// Against a Modbus slave of libmodbus serving addresses 2 and 9: the scan
// finds both with the identity `info --addr` reads, and each watched pack
// carries every value `read --addr` reads from it, its own.
TEST_F(CliBus, ScanAndWatchOfAnotherModbusSlaveGiveWhatReadAndInfoGive)
{
    QProcess slave;
    slave.start(QStringLiteral(MODBUS_RACK_SLAVE), {QStringLiteral("2"), QStringLiteral("9")});
    ASSERT_TRUE(slave.waitForReadyRead(10000));
    port = QString::fromLocal8Bit(slave.readLine()).trimmed();
    ASSERT_TRUE(port.startsWith("/dev/pts/")) << port.toStdString();
    auto run = [this](const QStringList& args) {
        command = args.contains(QStringLiteral("bus")) ? QString() : args.last();
        start(args);
        const QList<QJsonObject> out = all();
        EXPECT_EQ(process.exitCode(), 0) << args.join(' ').toStdString();
        return out;
    };
    const QList<QJsonObject> scan = run({QStringLiteral("bus"), QStringLiteral("scan"), QStringLiteral("--addr"), QStringLiteral("1-10")});
    const QList<QJsonObject> watch = run({QStringLiteral("bus"), QStringLiteral("watch"), QStringLiteral("--addr"),
                                          QStringLiteral("1-10"), QStringLiteral("--count"), QStringLiteral("2")});
    const QJsonArray found = scan.value(0).value("packs").toArray();
    ASSERT_EQ(found.size(), 2);
    QList<QJsonObject> watched;
    for (const QJsonObject& o : watch)
        if (o.value("event") == "pack")
            watched.append(o);
    ASSERT_EQ(watched.size(), 4);
    const QSet<QString> perCall{"errors", "messages", "notes", "error", "exit", "time", "event", "address", "serial", "sweep", "answered"};
    for (int i = 0; i < 2; ++i) {
        const int address = i ? 9 : 2;
        SCOPED_TRACE(address);
        const QString addr = QStringLiteral("%1").arg(address, 2, 10, QLatin1Char('0'));
        const QJsonObject info = run({QStringLiteral("--addr"), addr, QStringLiteral("info")}).value(0);
        const QJsonObject read = run({QStringLiteral("--addr"), addr, QStringLiteral("read")}).value(0);
        const QJsonObject p = found[i].toObject();
        EXPECT_EQ(p.value("address").toInt(), address);
        EXPECT_EQ(p.value("serial"), info.value("serial_number"));
        EXPECT_EQ(p.value("barcode"), info.value("barcode"));
        EXPECT_EQ(p.value("uid"), info.value("uid"));
        EXPECT_EQ(p.value("firmware"), info.value("sw_version_text"));
        EXPECT_EQ(p.value("cells"), read.value("cell_count"));
        EXPECT_EQ(p.value("serial").toString(), QStringLiteral("LM-SLAVE-%1").arg(address, 4, 10, QLatin1Char('0')));
        // The slave's own values, so that agreement is no accident.
        EXPECT_EQ(read.value("rsoc").toInt(), 400 + 25 * address);
        EXPECT_EQ(read.value("cell_volt").toArray().at(15).toInt(), 3290 + 7 * address + 15);
        for (const QJsonObject& w : {watched[i], watched[i + 2]}) {
            EXPECT_EQ(w.value("address").toInt(), address);
            EXPECT_EQ(w.value("serial"), p.value("serial"));
            for (auto it = read.begin(); it != read.end(); ++it) {
                if (!perCall.contains(it.key())) {
                    EXPECT_EQ(w.value(it.key()), it.value()) << it.key().toStdString();
                }
            }
        }
    }
    slave.closeWriteChannel(); // its end
    EXPECT_TRUE(slave.waitForFinished(5000));
}

TEST_F(CliBus, ASilencedPackIsToldWithinTwoSweepsAndComesBack)
{
    startBus(3);
    // Sweeps half a second apart: the pack is silenced before the watch has
    // gone on to the next sweep, however late this test reads the events.
    start({QStringLiteral("bus"), QStringLiteral("watch"), QStringLiteral("--interval"), QStringLiteral("0.5")});
    ASSERT_EQ(next().value("event"), "scan");
    int silencedAt = 0;
    int missedAt = 0;
    int backAt = 0;
    for (QJsonObject o = next(); !o.isEmpty() && !backAt; o = next()) {
        const int sweep = o.value("sweep").toInt();
        if (o.value("event") == "sweep" && sweep == 2) {
            rack->packs(2).front()->setSilent(-1);
            silencedAt = sweep;
        }
        if (o.value("event") != "pack" || o.value("address").toInt() != 2 || !silencedAt)
            continue;
        if (!missedAt && !o.value("answered").toBool()) {
            missedAt = sweep;
            EXPECT_TRUE(o.value("total_volt").isNull());
            rack->packs(2).front()->setSilent(0);
        } else if (missedAt && o.value("answered").toBool()) {
            backAt = sweep;
        }
    }
    ASSERT_GT(missedAt, 0);
    EXPECT_LE(missedAt, silencedAt + 2);
    EXPECT_GT(backAt, missedAt);
    ::kill(pid_t(process.processId()), SIGINT);
    const QList<QJsonObject> rest = all();
    ASSERT_FALSE(rest.isEmpty());
    EXPECT_EQ(rest.last().value("exit").toInt(), 1); // sweeps went without pack 2
    EXPECT_GE(rest.last().value("incomplete").toInt(), 1);
}

TEST_F(CliBus, BadUsageSendsNothingAndKeepsTheKeys)
{
    startBus(2);
    for (const QStringList& args : {QStringList{"bus"}, QStringList{"bus", "scan", "--addr", "3-1"},
                                    QStringList{"bus", "scan", "--log", "x.xlsx"}, QStringList{"bus", "list"}}) {
        start(args);
        const QList<QJsonObject> objects = all();
        ASSERT_EQ(objects.size(), 1) << args.join(' ').toStdString();
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_EQ(objects[0].value("error").toObject().value("kind"), "usage");
    }
    EXPECT_EQ(rack->pack(0).requestCount(0x04), 0u);
}

} // namespace
