// Station runs end to end: quorlex-bms-cli station run with the example
// recipe against a virtual pack on a pseudo-terminal, its JSON events, exit
// status and the record it leaves; the pack made to fail each kind of limit,
// to fall silent, to vanish mid-run; a run stopped by a signal.
#include "Database.h"
#include "QtTestSupport.h"
#include "QuickPack.h"
#include "RecordStore.h"
#include "RunEvents.h"
#include "RunRecord.h"
#include "StationRecords.h"
#include "VirtualPack.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

namespace {

const QString kRecipe = QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml");

// What a run printed: every line as its JSON object, read as the Station
// tab reads it (station::ParseEvent).
struct StationResult {
    int code = -1;
    QList<QJsonObject> events;
    QByteArray err;

    QJsonObject last(const char* kind) const
    {
        for (qsizetype i = events.size() - 1; i >= 0; --i)
            if (station::EventKindNamed(events[i].value("event").toString()) == station::EventKindNamed(QLatin1String(kind)))
                return events[i];
        return {};
    }
    QJsonObject record() const { return last("record").value("record").toObject(); }
    QStringList stepOutcomes() const
    {
        QStringList out;
        for (const station::StepRecord& s : station::RunRecord::fromJson(record()).steps)
            out.append(station::OutcomeName(s.outcome));
        return out;
    }
    std::string why() const
    {
        QByteArray text = err;
        for (const QJsonObject& e : events)
            if (!station::ParseEvent(e) || !std::holds_alternative<station::RecordEvent>(station::ParseEvent(e)->event))
                text += QJsonDocument(e).toJson(QJsonDocument::Compact) + '\n';
        return text.toStdString();
    }
};

sim::PackConfig FixturePack()
{
    return test::QuickPack();
}

class StationE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "tst_station_e2e";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void startPack(sim::PackConfig config = FixturePack())
    {
        pack = std::make_unique<sim::VirtualPack>(config);
        port = QString::fromStdString(pack->start());
        pack->holdCurrent(10000); // the fixture's charger
    }

    // Runs the station; `onEvent` sees each event as it arrives and may act
    // on the pack or the process.
    StationResult station(QStringList extra, const std::function<void(const QJsonObject&, QProcess&)>& onEvent = {},
                const QString& recipe = kRecipe)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        p.setProcessEnvironment(env);
        QStringList args{QStringLiteral("--port"), port, QStringLiteral("--json"), QStringLiteral("station"),
                         QStringLiteral("run"), recipe, QStringLiteral("--results"), results(), QStringLiteral("--station"),
                         QStringLiteral("EOL-1")};
        args += extra;
        StationResult run;
        QByteArray pending;
        QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] {
            pending += p.readAllStandardOutput();
            qsizetype eol;
            while ((eol = pending.indexOf('\n')) >= 0) {
                const QJsonObject e = QJsonDocument::fromJson(pending.left(eol)).object();
                EXPECT_TRUE(station::ParseEvent(e)) << "a line of no known kind: " << pending.left(eol).left(200).toStdString();
                pending.remove(0, eol + 1);
                run.events.append(e);
                if (onEvent)
                    onEvent(e, p);
            }
        });
        p.start(QStringLiteral(BMS_CLI), args);
        const bool ended = WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 90000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        run.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.err = p.readAllStandardError();
        return run;
    }

    QString results() const { return data.filePath(QStringLiteral("results")); }
    QString database() const { return data.filePath(QStringLiteral("quorlex-bms/station.db")); }

    // The example recipe with `from` replaced by `to`, beside its image.
    QString recipeWith(const QByteArray& from, const QByteArray& to, const QString& name = QStringLiteral("changed.toml")) const
    {
        QFile source(kRecipe);
        EXPECT_TRUE(source.open(QIODevice::ReadOnly));
        QByteArray text = source.readAll();
        EXPECT_TRUE(text.contains(from));
        text.replace(from, to);
        const QString path = data.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
        QFile::copy(QStringLiteral(STATION_RECIPES "/virtual-pack-fw-1.5.4.hex"), data.filePath(QStringLiteral("virtual-pack-fw-1.5.4.hex")));
        return path;
    }

    // The record file the run names, as written.
    QJsonObject recordFile(const StationResult& run) const
    {
        QFile file(run.last("run_end").value("record").toString());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }

    QTemporaryDir data;
    std::unique_ptr<sim::VirtualPack> pack;
    QString port;
};

// One run does it all: the barcode scanned, the upgrade, identity written,
// both calibrations, settings and the check; every step passes and the
// record says what was done to the pack.
TEST_F(StationE2e, exampleRecipePassesAndItsRecordHoldsTheWholeRun)
{
    startPack();
    pack->setCellFault(1, 15);     // cell 1 reads 15 mV high until calibrated
    pack->setCurrentError(2);      // the current 2 % high until calibrated
    const StationResult run = station({QStringLiteral("--barcode"), QStringLiteral("202612080042"), QStringLiteral("--operator"),
                             QStringLiteral("anna"), QStringLiteral("--yes")});
    ASSERT_EQ(run.code, 0) << run.why();
    const QJsonObject end = run.events.last();
    EXPECT_EQ(end.value("event").toString(), QStringLiteral("run_end"));
    EXPECT_EQ(end.value("outcome").toString(), QStringLiteral("PASS"));
    EXPECT_EQ(end.value("exit").toInt(), 0);
    EXPECT_EQ(run.events.first().value("event").toString(), QStringLiteral("run_start"));
    EXPECT_EQ(run.stepOutcomes(), QStringList(9, QStringLiteral("PASS")));

    const QJsonObject r = recordFile(run);
    EXPECT_EQ(r, run.record()) << "the file holds the record the run printed";
    {
        // ... and the PC's records database holds the same run.
        QString error;
        auto records = records::StationRecords::open({data.filePath(QStringLiteral("quorlex-bms/station.db")), {}}, error);
        ASSERT_TRUE(records) << error.toStdString();
        const auto stored = records->localStore().load(r.value("run_id").toString(), error);
        ASSERT_TRUE(stored) << error.toStdString();
        EXPECT_EQ(stored->value("outcome"), r.value("outcome"));
        EXPECT_EQ(stored->value("measurements").toArray().size(), r.value("measurements").toArray().size());
    }
    EXPECT_EQ(r.value("outcome").toString(), QStringLiteral("PASS"));
    EXPECT_EQ(r.value("failure_code"), QJsonValue());
    EXPECT_EQ(r.value("station_id").toString(), QStringLiteral("EOL-1"));
    EXPECT_EQ(r.value("operator").toString(), QStringLiteral("anna"));
    EXPECT_EQ(r.value("recipe").toObject().value("sha256").toString().size(), 64);
    const QJsonObject packJson = r.value("pack").toObject();
    EXPECT_EQ(packJson.value("sw_version_before").toString(), QStringLiteral("1.5.3"));
    EXPECT_EQ(packJson.value("sw_version_after").toString(), QStringLiteral("1.5.4"));
    EXPECT_EQ(pack->reg(0x000B), 0x1054);
    // The identity the record names is the one the pack holds now.
    EXPECT_EQ(pack->barcode(), "202612080042");
    EXPECT_EQ(packJson.value("barcode").toString(), QStringLiteral("202612080042"));
    const QString serial = packJson.value("serial_number").toString();
    EXPECT_TRUE(serial.startsWith(QStringLiteral("QX") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))) << serial.toStdString();
    EXPECT_EQ(QString::fromStdString(pack->serialNumber()).trimmed(), serial);
    EXPECT_FALSE(r.value("serial_reservation").toObject().value("released").toBool());
    EXPECT_EQ(packJson.value("uid").toString().size(), 24);
    // The calibrations saw the errors and took them out.
    auto measured = [&](const QString& step, const QString& name) {
        for (const QJsonValue& m : r.value("measurements").toArray()) {
            const QJsonObject o = m.toObject();
            const int index = o.value("step").toInt();
            if (r.value("steps").toArray().at(index).toObject().value("name").toString() == step
                && o.value("name").toString() == name)
                return o;
        }
        return QJsonObject();
    };
    EXPECT_EQ(measured("calibrate_current", "error_before").value("value").toDouble(), 200);
    EXPECT_EQ(measured("calibrate_current", "error_after").value("value").toDouble(), 0);
    EXPECT_EQ(measured("calibrate_voltage", "error_after").value("limits").toObject(), (QJsonObject{{"low", -5}, {"high", 5}}));
    EXPECT_EQ(measured("check", "cell_16").value("unit").toString(), QStringLiteral("mV"));
    EXPECT_EQ(measured("write_identity", "rtc_weekday").value("outcome").toString(), QStringLiteral("PASS"));
    // Every frame of the run is in its trace.
    const QByteArray trace = station::TraceLog::Decode(r.value("trace").toObject());
    EXPECT_EQ(trace.count('\n'), r.value("trace").toObject().value("frames").toInt());
    EXPECT_TRUE(trace.contains(" TX 06 10 9D 05 00 06 0C 32 30 32 36")) << "the barcode write";
    EXPECT_TRUE(trace.contains(" TX 3A 00 00 00 37 C9")) << "the erase of the upgrade";

    // The same pack again: the upgrade is skipped, the barcode refused as
    // already passed here.
    const StationResult again = station({QStringLiteral("--barcode"), QStringLiteral("202612080042"), QStringLiteral("--yes")});
    EXPECT_EQ(again.code, 1) << again.why();
    EXPECT_EQ(again.last("run_end").value("failure_code").toString(), QStringLiteral("scan.already_passed"));
    const StationResult other = station({QStringLiteral("--barcode"), QStringLiteral("202612080043"), QStringLiteral("--yes")});
    EXPECT_EQ(other.code, 0) << other.why();
    EXPECT_EQ(other.stepOutcomes().at(2), QStringLiteral("SKIPPED"));
}

// Each kind of limit failed on purpose: the run ends FAIL with the first
// failing measurement as its failure code, exit 1, and gives its serial
// number back.
struct FailCase {
    const char* name;
    std::function<void(sim::VirtualPack&)> fault;
    const char* barcode;
    const char* code;
    bool keepVersion = false;
};

TEST_F(StationE2e, eachFailedLimitKindEndsFailWithItsCode)
{
    const FailCase cases[] = {
        {"low: one cell 250 mV down", [](sim::VirtualPack& p) { p.setCellFault(3, -250); }, "202612080101", "check.cell_3"},
        {"high: a hot sensor", [](sim::VirtualPack& p) { p.setTemperature(false, 2, 61.5); }, "202612080102", "check.cell_temp_2"},
        {"mask: an alarm bit", [](sim::VirtualPack& p) { p.setForcedBits(0x0080, 1u << 6); }, "202612080103", "check.alarm"},
        {"equals: the new image did not start", [](sim::VirtualPack&) {}, "202612080104", "upgrade.sw_version_after", true},
        {"matches: a barcode of the wrong shape", [](sim::VirtualPack&) {}, "20261208010", "scan.barcode"},
        {"current 10 % off before calibration", [](sim::VirtualPack& p) { p.setCurrentError(10); }, "202612080105",
         "calibrate_current.error_before"},
        {"cell 1 off before calibration", [](sim::VirtualPack& p) { p.setCellFault(1, 60); }, "202612080106",
         "calibrate_voltage.error_before"},
    };
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PackConfig config = FixturePack();
        config.keepVersion = c.keepVersion;
        startPack(config);
        c.fault(*pack);
        const StationResult run = station({QStringLiteral("--barcode"), QLatin1String(c.barcode), QStringLiteral("--yes")});
        EXPECT_EQ(run.code, 1) << run.why();
        EXPECT_EQ(run.last("run_end").value("error"), QJsonValue()) << "a FAIL is the test's outcome, no error of the tool";
        const QJsonObject r = recordFile(run);
        EXPECT_EQ(r.value("outcome").toString(), QStringLiteral("FAIL"));
        EXPECT_EQ(r.value("failure_code").toString(), QLatin1String(c.code)) << run.why();
        EXPECT_FALSE(r.value("failure_reason").toString().isEmpty());
        // A number that went out to the pack stays the pack's; one that
        // never did goes back.
        const bool written = r.value("steps").toArray().at(3).toObject().value("outcome").toString() != QLatin1String("NOT_RUN");
        EXPECT_EQ(r.value("serial_reservation").toObject().value("state").toString(),
                  written ? QStringLiteral("written") : QStringLiteral("released"));
        EXPECT_TRUE(r.value("steps").toArray().last().toObject().value("outcome").toString() == QLatin1String("NOT_RUN")
                    || QLatin1String(c.code).startsWith(QLatin1String("check.")));
    }
}

// The pack or the port fails: ERROR (exit 4), the record still written.
TEST_F(StationE2e, silentPackRefusedWriteAndVanishedPackEndInError)
{
    struct ErrorCase {
        const char* name;
        std::function<void(sim::VirtualPack&)> fault;
        const char* stopAtStep; // the pack is stopped when this step starts ("?": at the prompt)
        const char* code;
    };
    const ErrorCase cases[] = {
        {"silent pack", [](sim::VirtualPack& p) { p.setSilent(); }, nullptr, "identify.error"},
        {"parameter write refused", [](sim::VirtualPack& p) { p.refuseRegister(0x9CFA); }, nullptr, "settings.error"},
        {"pack killed mid-run", [](sim::VirtualPack&) {}, "calibrate_current", "calibrate_current.error"},
        // Noticed while the operator is asked, not after the answer.
        {"pack pulled at a prompt", [](sim::VirtualPack&) {}, "?", "prompt.error"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        startPack();
        c.fault(*pack);
        const bool atPrompt = c.stopAtStep && QLatin1String(c.stopAtStep) == QLatin1String("?");
        QStringList args{QStringLiteral("--barcode"), QStringLiteral("202612080201")};
        if (!atPrompt)
            args.append(QStringLiteral("--yes"));
        const StationResult run = station(args, [&](const QJsonObject& e, QProcess&) {
                                    const QString event = e.value("event").toString();
                                    if ((atPrompt && event == QLatin1String("prompt"))
                                        || (c.stopAtStep && event == QLatin1String("step_start")
                                            && e.value("name").toString() == QLatin1String(c.stopAtStep)))
                                        pack->stop();
                                });
        EXPECT_EQ(run.code, 4) << run.why();
        const QJsonObject error = run.last("run_end").value("error").toObject();
        EXPECT_TRUE(error.value("kind") == QLatin1String("timeout") || error.value("kind") == QLatin1String("refused"))
            << run.why();
        const QJsonObject r = recordFile(run);
        EXPECT_EQ(r.value("outcome").toString(), QStringLiteral("ERROR"));
        EXPECT_EQ(error.value("message"), r.value("failure_reason"));
        EXPECT_EQ(r.value("failure_code").toString(), QLatin1String(c.code)) << run.why();
        if (atPrompt) {
            EXPECT_TRUE(r.value("failure_reason").toString().endsWith(QStringLiteral(" was lost"))) << run.why();
            EXPECT_LT(run.last("step_end").value("duration_s").toDouble(), 5) << run.why();
        }
    }
}

// An upgrade step that times out stops its transfer there: no frame of it
// after the step's end, nothing of a later step sent to the boot loader it
// left the pack in, and the record says where the pack waits. The next run
// is told the same by the port's note, and its upgrade brings the pack back.
TEST_F(StationE2e, anUpgradeThatTimesOutStopsAndTheBootLoaderIsNamed)
{
    sim::PackConfig config = FixturePack();
    startPack(config);
    pack->setAnswerDelay(60); // records take about three seconds
    const QString image = data.filePath(QStringLiteral("virtual-pack-fw-1.5.4.hex"));
    QFile::copy(QStringLiteral(STATION_RECIPES "/virtual-pack-fw-1.5.4.hex"), image);
    const auto recipe = [&](const char* upgradeKeys) {
        const QString path = data.filePath(QStringLiteral("upgrade.toml"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("name = \"u\"\nversion = 1\n[line]\ntimeout = 300\n"
                              "[[steps]]\nkind = \"identify\"\non_fail = \"continue\"\n"
                              "[[steps]]\nkind = \"upgrade\"\nimage = \"virtual-pack-fw-1.5.4.hex\"\nversion = \"1.5.4\"\n"
                              "sha256 = \"e8248921513e4a7506fd1ef8b9a27f1eb0ad62dee38251157a1715f02ca22495\"\n")
                   + upgradeKeys + "\n[[steps]]\nkind = \"check\"\n");
        return path;
    };
    const auto framesReceived = [&] {
        uint64_t n = 0;
        for (int f = 0; f < 256; ++f)
            n += pack->requestCount(static_cast<uint8_t>(f));
        return n;
    };
    std::optional<uint64_t> atUpgradeEnd;
    const StationResult cut = station({}, [&](const QJsonObject& e, QProcess&) {
        if (e.value("event").toString() == QLatin1String("step_end") && e.value("name").toString() == QLatin1String("upgrade")) {
            QThread::msleep(150); // what was on the line has arrived
            atUpgradeEnd = framesReceived();
        }
    }, recipe("timeout = 1.5\non_fail = \"continue\""));
    EXPECT_EQ(cut.code, 4) << cut.why();
    EXPECT_EQ(cut.stepOutcomes(), (QStringList{"PASS", "ERROR", "ERROR"})) << cut.why();
    const QJsonArray steps = cut.record().value("steps").toArray();
    EXPECT_TRUE(steps[1].toObject().value("reason").toString().contains(QStringLiteral("longer than its 1.5 s; the pack waits in its boot loader")))
        << cut.why();
    EXPECT_EQ(steps[2].toObject().value("reason").toString(), QStringLiteral("the pack waits in its boot loader: run the upgrade"));
    EXPECT_LT(cut.last("step_end").value("duration_s").toDouble(), 1) << "the check hung";
    EXPECT_EQ(cut.record().value("pack").toObject().value("sw_version_after"), QJsonValue());
    ASSERT_TRUE(atUpgradeEnd);
    EXPECT_EQ(framesReceived(), *atUpgradeEnd) << "frames went out after the upgrade step ended";
    EXPECT_TRUE(pack->bootState() != sim::BootLoader::State::Application);
    EXPECT_EQ(pack->reg(0x000B), 0x1053);

    pack->setAnswerDelay(0);
    const StationResult next = station({}, {}, recipe(""));
    EXPECT_EQ(next.code, 4) << next.why();
    EXPECT_EQ(next.stepOutcomes(), (QStringList{"ERROR", "PASS", "PASS"})) << next.why();
    EXPECT_EQ(next.record().value("steps").toArray()[0].toObject().value("reason").toString(),
              QStringLiteral("the pack waits in its boot loader: run the upgrade"));
    EXPECT_EQ(next.record().value("pack").toObject().value("sw_version_after").toString(), QStringLiteral("1.5.4"));
    EXPECT_EQ(pack->reg(0x000B), 0x1054);
}

// The serial number's write answered and its read-back both corrupted:
// the write ends at once with the value not read back, not when the step's
// 30 s run out.
TEST_F(StationE2e, corruptedReadBackEndsTheWriteAtOnce)
{
    startPack();
    const QString recipe = recipeWith("kind = \"write_identity\"", "kind = \"write_identity\"\nbarcode = false\nrtc = false\n#");
    const StationResult run = station({QStringLiteral("--barcode"), QStringLiteral("202612080202"), QStringLiteral("--yes")},
                                      [&](const QJsonObject& e, QProcess&) {
                                          if (e.value("event").toString() == QLatin1String("step_start")
                                              && e.value("name").toString() == QLatin1String("write_identity"))
                                              pack->setCorruptCrc(2);
                                      }, recipe);
    EXPECT_EQ(run.code, 4) << run.why();
    const QJsonObject r = recordFile(run);
    EXPECT_EQ(r.value("failure_code").toString(), QStringLiteral("write_identity.error"));
    EXPECT_TRUE(r.value("failure_reason").toString().endsWith(QStringLiteral("the value was not read back"))) << run.why();
}

// A parameter's index named in the recipe reaches the pack; one that names
// none writes the selector's first entry, whatever an earlier write chose.
TEST_F(StationE2e, aParametersIndexInTheRecipeReachesThePack)
{
    startPack();
    const QString recipe = data.filePath(QStringLiteral("param.toml"));
    QFile file(recipe);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("name = \"p\"\nversion = 1\n[[steps]]\nkind = \"settings\"\n"
               "writes = [\"param cell-volt 3650 --index 2\", \"param cell-volt 3640\"]\n");
    file.close();
    const StationResult run = station({}, {}, recipe);
    EXPECT_EQ(run.code, 0) << run.why();
    QList<QByteArray> written; // type, index byte, value
    for (const std::vector<uint8_t>& f : pack->requests())
        if (f.size() > 11 && f[1] == 0x10 && f[2] == 0x9C && f[3] == 0xFA)
            written << QByteArray(reinterpret_cast<const char*>(f.data()) + 7, 4);
    EXPECT_EQ(written, (QList<QByteArray>{QByteArray("\x01\x01\x0E\x42", 4), QByteArray("\x01\x00\x0E\x38", 4)}));
}

// A serial number written into a pack stays with that pack: a FAIL after
// the write keeps it from the next pack, the pack's retest is given it
// again (with and without allow_retest), and its passport shows it.
TEST_F(StationE2e, serialNumberStaysWithThePackThroughFailsAndRetests)
{
    const auto test = [&](const char* barcode, bool fault, const QString& recipe = kRecipe) {
        startPack();
        if (fault)
            pack->setCellFault(3, -250);
        const StationResult run = station({QStringLiteral("--barcode"), QLatin1String(barcode), QStringLiteral("--yes")}, {}, recipe);
        EXPECT_EQ(run.code, fault ? 1 : 0) << run.why();
        EXPECT_EQ(QString::fromStdString(pack->serialNumber()).trimmed(),
                  run.record().value("serial_reservation").toObject().value("value").toString());
        return run.record().value("serial_reservation").toObject();
    };
    const QJsonObject failed = test("202612080601", true);
    EXPECT_EQ(failed.value("state").toString(), QStringLiteral("written"));
    const QJsonObject next = test("202612080602", false);
    EXPECT_NE(next.value("value"), failed.value("value")) << "a failed pack's number went to the next pack";
    const QJsonObject retest = test("202612080601", false);
    EXPECT_EQ(retest.value("value"), failed.value("value"));
    EXPECT_TRUE(retest.value("reused").toBool());
    EXPECT_EQ(retest.value("state").toString(), QStringLiteral("committed"));
    // Tested again where retests are allowed, and failing: it keeps its number.
    const QString retests = recipeWith("allow_retest = false", "allow_retest = true");
    const QJsonObject again = test("202612080601", true, retests);
    EXPECT_EQ(again.value("value"), failed.value("value"));
    const QJsonObject last = test("202612080603", false, retests);
    EXPECT_NE(last.value("value"), failed.value("value"));
    EXPECT_NE(last.value("value"), next.value("value"));
    QProcess passport;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    passport.setProcessEnvironment(env);
    passport.start(QStringLiteral(BMS_CLI), {"--json", "station", "passport", "202612080601"});
    ASSERT_TRUE(passport.waitForFinished(30000));
    const QByteArray out = passport.readAllStandardOutput().trimmed();
    const QJsonObject p = QJsonDocument::fromJson(out.mid(out.lastIndexOf('\n') + 1)).object().value("passport").toObject();
    EXPECT_EQ(p.value("serial_number"), failed.value("value")) << out.toStdString();
}

// Nothing touches the pack unless its record can be kept, and a record
// that cannot be written at the end turns the run into an ERROR with the
// reason, everywhere; a record the database cannot take yet is kept in the
// results folder and stored by the next run.
TEST_F(StationE2e, aRunWhoseRecordCannotBeKeptSaysSo)
{
    startPack();
    // The results folder is a file: the run does not start.
    QFile blocker(data.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcess p;
    p.setProcessEnvironment([&] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        return env;
    }());
    p.start(QStringLiteral(BMS_CLI), {"--port", port, "--json", "station", "run", kRecipe, "--results", blocker.fileName(),
                                      "--barcode", "202612080701", "--yes"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(pack->requests().empty()) << "the pack was touched";

    // The folder goes away while the pack is tested: ERROR, not PASS.
    const StationResult lost = station({QStringLiteral("--barcode"), QStringLiteral("202612080702"), QStringLiteral("--yes")},
                                       [&](const QJsonObject& e, QProcess&) {
                                           if (e.value("event").toString() == QLatin1String("step_start")
                                               && e.value("name").toString() == QLatin1String("check")) {
                                               QDir(results()).removeRecursively();
                                               QFile file(results());
                                               EXPECT_TRUE(file.open(QIODevice::WriteOnly));
                                           }
                                       });
    EXPECT_EQ(lost.code, 4) << lost.why();
    const QJsonObject end = lost.last("run_end");
    EXPECT_EQ(end.value("outcome").toString(), QStringLiteral("ERROR"));
    EXPECT_EQ(end.value("failure_code").toString(), QStringLiteral("run.error"));
    EXPECT_TRUE(end.value("error").toObject().value("message").toString().contains(QStringLiteral("record could not be written")))
        << lost.why();
    EXPECT_EQ(lost.record().value("serial_reservation").toObject().value("state").toString(), QStringLiteral("written"));
    QFile::remove(results());

    // The records database is locked by another program at the end: the
    // run keeps its outcome, says where its record is, and the next run
    // stores it.
    startPack();
    QString error;
    auto locker = records::Database::openSqlite(database(), error);
    ASSERT_TRUE(locker) << error.toStdString();
    const StationResult kept = station({QStringLiteral("--barcode"), QStringLiteral("202612080703"), QStringLiteral("--yes")},
                                       [&](const QJsonObject& e, QProcess&) {
                                           if (e.value("event").toString() == QLatin1String("step_start")
                                               && e.value("name").toString() == QLatin1String("check")) {
                                               EXPECT_TRUE(locker->exec(QStringLiteral("BEGIN EXCLUSIVE"), error)) << error.toStdString();
                                           }
                                       });
    locker->rollback();
    locker.reset();
    EXPECT_EQ(kept.code, 0) << kept.why();
    EXPECT_TRUE(kept.why().find("not yet in the records database") != std::string::npos) << kept.why();
    const QString keptId = kept.last("run_end").value("run_id").toString();
    startPack();
    const StationResult next = station({QStringLiteral("--barcode"), QStringLiteral("202612080704"), QStringLiteral("--yes")});
    EXPECT_EQ(next.code, 0) << next.why();
    auto records = records::StationRecords::open({database(), {}}, error);
    ASSERT_TRUE(records) << error.toStdString();
    EXPECT_EQ(records->localStore().load(keptId, error).value_or(QJsonObject()).value("outcome").toString(), QStringLiteral("PASS"));
}

// SIGINT while the operator is asked to connect the charger: ABORTED
// (exit 5), the record written, the serial number (written already) kept
// with the pack.
TEST_F(StationE2e, signalAbortsTheRunAndTheRecordIsWritten)
{
    startPack();
    const StationResult run = station({QStringLiteral("--barcode"), QStringLiteral("202612080301")}, [](const QJsonObject& e, QProcess& p) {
        if (e.value("event").toString() == QLatin1String("prompt"))
            ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    });
    EXPECT_EQ(run.code, 5) << run.why();
    const QJsonObject r = recordFile(run);
    EXPECT_EQ(r.value("outcome").toString(), QStringLiteral("ABORTED"));
    EXPECT_EQ(r.value("failure_code").toString(), QStringLiteral("prompt.aborted"));
    EXPECT_EQ(r.value("serial_reservation").toObject().value("state").toString(), QStringLiteral("written"));
    EXPECT_EQ(run.stepOutcomes().mid(4), (QStringList{"ABORTED", "NOT_RUN", "NOT_RUN", "NOT_RUN", "NOT_RUN"}));
    EXPECT_TRUE(run.last("prompt_closed").value("how").toString() == QLatin1String("cancelled"));
}

// The barcode scanned and the instruction confirmed on standard input, as
// a keyboard-wedge scanner and the Station tab answer.
TEST_F(StationE2e, promptsAreAnsweredOnStandardInput)
{
    startPack();
    const StationResult run = station({}, [](const QJsonObject& e, QProcess& p) {
        if (e.value("event").toString() != QLatin1String("prompt"))
            return;
        const QString id = e.value("id").toString();
        if (e.value("kind").toString() == QLatin1String("barcode"))
            p.write("\n202612080401\n"); // a stray Enter first
        else
            p.write(QStringLiteral("@%1 yes\n").arg(id).toUtf8());
    });
    EXPECT_EQ(run.code, 0) << run.why();
    EXPECT_EQ(run.record().value("pack").toObject().value("barcode").toString(), QStringLiteral("202612080401"));
}

// A bad recipe is refused before anything is sent, with its place.
TEST_F(StationE2e, badRecipeIsRefusedWithItsLineBeforeAByteIsSent)
{
    startPack();
    const QString bad = recipeWith("writes = [\"sleep 1 3600\"", "writes = [\"sleep 1\"", QStringLiteral("bad.toml"));
    QFile changed(bad);
    ASSERT_TRUE(changed.open(QIODevice::ReadOnly));
    const QByteArray text = changed.readAll();
    const StationResult run = station({QStringLiteral("--barcode"), QStringLiteral("202612080501")}, {}, bad);
    EXPECT_EQ(run.code, 2) << run.why();
    const int line = static_cast<int>(text.left(text.indexOf("writes = [")).count('\n')) + 1;
    const QJsonObject last = run.events.last();
    EXPECT_TRUE(last.value("errors").toArray().first().toString().startsWith(QStringLiteral("%1:%2:11: sleep: arguments").arg(bad).arg(line)))
        << run.why();
    EXPECT_EQ(last.value("recipe_error").toObject().value("line").toInt(), line);
    // Text for the record with a control character in it: refused too.
    const StationResult named = station({QStringLiteral("--barcode"), QStringLiteral("202612080501"), QStringLiteral("--operator"),
                                         QStringLiteral("ann\x1b[2Ja")});
    EXPECT_EQ(named.code, 2) << named.why();
    EXPECT_TRUE(pack->requests().empty());
    EXPECT_FALSE(QDir(results()).exists() && !QDir(results()).isEmpty());
}

} // namespace
