// Station runs end to end: quorlex-bms-cli station run with the example
// recipe against a virtual pack on a pseudo-terminal, its JSON events, exit
// status and the record it leaves; the pack made to fail each kind of limit,
// to fall silent, to vanish mid-run; a run stopped by a signal.
#include "QtTestSupport.h"
#include "QuickPack.h"
#include "RecordStore.h"
#include "RunRecord.h"
#include "StationRecords.h"
#include "VirtualPack.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

namespace {

const QString kRecipe = QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml");

struct StationResult {
    int code = -1;
    QList<QJsonObject> events;
    QByteArray err;

    QJsonObject last(const char* kind) const
    {
        for (qsizetype i = events.size() - 1; i >= 0; --i)
            if (events[i].value("event").toString() == QLatin1String(kind))
                return events[i];
        return {};
    }
    QJsonObject record() const { return last("record").value("record").toObject(); }
    QStringList stepOutcomes() const
    {
        QStringList out;
        for (const QJsonValue& s : record().value("steps").toArray())
            out.append(s.toObject().value("outcome").toString());
        return out;
    }
    std::string why() const
    {
        QByteArray text = err;
        for (const QJsonObject& e : events)
            if (e.value("event").toString() != QLatin1String("record"))
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
        const QJsonValue reservation = r.value("serial_reservation");
        EXPECT_TRUE(reservation.isNull() || reservation.toObject().value("released").toBool());
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
        const char* stopAtStep; // the pack is stopped when this step starts
        const char* code;
    };
    const ErrorCase cases[] = {
        {"silent pack", [](sim::VirtualPack& p) { p.setSilent(); }, nullptr, "identify.error"},
        {"parameter write refused", [](sim::VirtualPack& p) { p.refuseRegister(0x9CFA); }, nullptr, "settings.error"},
        {"pack killed mid-run", [](sim::VirtualPack&) {}, "calibrate_current", "calibrate_current.error"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        startPack();
        c.fault(*pack);
        const StationResult run = station({QStringLiteral("--barcode"), QStringLiteral("202612080201"), QStringLiteral("--yes")},
                                [&](const QJsonObject& e, QProcess&) {
                                    if (c.stopAtStep && e.value("event").toString() == QLatin1String("step_start")
                                        && e.value("name").toString() == QLatin1String(c.stopAtStep))
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
    }
}

// The serial number's write answered and its read-back both corrupted:
// the write ends at once with the value not read back, not when the step's
// 30 s run out.
TEST_F(StationE2e, corruptedReadBackEndsTheWriteAtOnce)
{
    startPack();
    QFile source(kRecipe);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray text = source.readAll();
    text.replace("kind = \"write_identity\"", "kind = \"write_identity\"\nbarcode = false\nrtc = false\n#");
    const QString recipe = data.filePath(QStringLiteral("serial.toml"));
    QFile out(recipe);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
    out.close();
    QFile::copy(QStringLiteral(STATION_RECIPES "/virtual-pack-fw-1.5.4.hex"), data.filePath(QStringLiteral("virtual-pack-fw-1.5.4.hex")));
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

// SIGINT while the operator is asked to connect the charger: ABORTED
// (exit 5), the record written, the serial number given back.
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
    EXPECT_TRUE(r.value("serial_reservation").toObject().value("released").toBool());
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
    QFile source(kRecipe);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray text = source.readAll();
    text.replace("writes = [\"sleep 1 3600\"", "writes = [\"sleep 1\"");
    const QString bad = data.filePath(QStringLiteral("bad.toml"));
    QFile out(bad);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text);
    out.close();
    QFile::copy(QStringLiteral(STATION_RECIPES "/virtual-pack-fw-1.5.4.hex"), data.filePath(QStringLiteral("virtual-pack-fw-1.5.4.hex")));
    const StationResult run = station({QStringLiteral("--barcode"), QStringLiteral("202612080501")}, {}, bad);
    EXPECT_EQ(run.code, 2) << run.why();
    const int line = static_cast<int>(text.left(text.indexOf("writes = [")).count('\n')) + 1;
    const QJsonObject last = run.events.last();
    EXPECT_TRUE(last.value("errors").toArray().first().toString().startsWith(QStringLiteral("%1:%2:11: sleep: arguments").arg(bad).arg(line)))
        << run.why();
    EXPECT_EQ(last.value("recipe_error").toObject().value("line").toInt(), line);
    EXPECT_TRUE(pack->requests().empty());
    EXPECT_FALSE(QDir(results()).exists() && !QDir(results()).isEmpty());
}

} // namespace
