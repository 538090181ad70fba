// The command-line program end to end: quorlex-bms-cli run as a process
// against a virtual pack on a pseudo-terminal, its JSON output, exit status,
// files and what the pack received.
#include "BootLoaderNote.h"
#include "E2eSupport.h"
#include "XlsxDump.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bms;
using namespace bms::test;

namespace {

struct CliRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;

    // The JSON objects printed, one a line.
    QList<QJsonObject> objects() const
    {
        QList<QJsonObject> list;
        for (const QByteArray& line : out.split('\n'))
            if (!line.trimmed().isEmpty())
                list.append(QJsonDocument::fromJson(line).object());
        return list;
    }
    QJsonObject last() const { return objects().value(objects().size() - 1); }
    std::string why() const { return (out + err).toStdString(); }
};

CliRun RunCli(const QStringList& args, int timeoutMs = 60000)
{
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral(BMS_CLI), args);
    p.closeWriteChannel();
    CliRun run;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    run.ms = clock.elapsed();
    run.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

sim::PackConfig StillPack(const std::string& product = "Q-Serial")
{
    sim::PackConfig config;
    config.publish = false;
    config.live = false;
    config.productType = product;
    config.bootRebootMs = 50;
    config.bootEraseMs = 50;
    config.bootCheckMs = 50;
    config.devEraseMs = 10;
    return config;
}

class CliE2e : public ::testing::Test {
protected:
    void SetUp() override { QtApp(); }
    void startPack(sim::PackConfig config = StillPack())
    {
        pack = std::make_unique<sim::VirtualPack>(std::move(config));
        port = QString::fromStdString(pack->start());
    }
    CliRun cli(QStringList args, int timeoutMs = 60000)
    {
        args.prepend(port);
        args.prepend(QStringLiteral("--port"));
        return RunCli(args, timeoutMs);
    }

    std::unique_ptr<sim::VirtualPack> pack;
    QString port;
    QTemporaryDir dir;
};

TEST_F(CliE2e, infoShowsTheInformationBlock)
{
    startPack();
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("info")});
    ASSERT_EQ(run.code, 0) << run.why();
    const QJsonObject o = run.last();
    EXPECT_EQ(o.value("barcode").toString().toStdString(), pack->barcode());
    // The pack pads it on the left; the window drops leading spaces.
    EXPECT_EQ(o.value("serial_number").toString(), QString::fromStdString(pack->serialNumber()).trimmed());
    EXPECT_EQ(o.value("rated_cap").toDouble(), pack->ratedCapacity());
    EXPECT_EQ(o.value("mfr_name").toString(), QStringLiteral("QUORLEX"));
    EXPECT_EQ(o.value("customer_code").toString().size(), 8);
    EXPECT_EQ(o.value("uid").toString().size(), 24);
    EXPECT_EQ(o.value("uid_crc").toString().size(), 4);
    EXPECT_TRUE(o.value("rtc").isString());
    for (const char* key : {"protocol_type", "sleep_multiplier", "sleep_base"})
        EXPECT_TRUE(o.value(QLatin1String(key)).isDouble()) << key;
}

class CliRead : public CliE2e, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliRead, oneRotationReadsEveryBlockThePackReports)
{
    const bool bsi = QLatin1String(GetParam()) == QLatin1String("BSI");
    startPack(StillPack(GetParam()));
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("--product"), QLatin1String(GetParam()),
                            QStringLiteral("read")});
    ASSERT_EQ(run.code, 0) << run.why();
    const QJsonObject o = run.last();
    QJsonArray blocks{0, 1, 2, 3, 4, 5, 6};
    if (bsi)
        blocks.append(7);
    EXPECT_EQ(o.value("blocks").toArray(), blocks);
    EXPECT_EQ(o.value("cell_volt").toArray().size(), 16);
    EXPECT_EQ(o.value("temp_a").toArray().size(), 4);
    EXPECT_EQ(o.value("temp_b").toArray().size(), 2);
    EXPECT_EQ(o.value("cell_volt").toArray().at(0).toInt(), pack->reg(0x0500));
    EXPECT_EQ(o.value("temp_a").toArray().at(0).toInt(), pack->reg(0x0400) - 2731);
    EXPECT_EQ(o.value("total_volt").toInt(), pack->reg(0x0017));
    EXPECT_EQ(o.contains("bsi"), bsi);
    if (bsi) {
        EXPECT_EQ(o.value("bsi").toObject().value("online_tag").toInt(), pack->reg(0x2012));
    }
    // The text shows the grid as the window does once the last block is in.
    const CliRun text = cli({QStringLiteral("--product"), QLatin1String(GetParam()), QStringLiteral("read")});
    ASSERT_EQ(text.code, 0) << text.why();
    EXPECT_TRUE(text.out.contains(QStringLiteral("Cell16 Volt: %1mV").arg(pack->reg(0x050F)).toUtf8())) << text.why();
}

INSTANTIATE_TEST_SUITE_P(Products, CliRead, ::testing::Values("Q-Serial", "BSI"));

TEST_F(CliE2e, barcodeWriteIsAcknowledgedAndReadBack)
{
    startPack();
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("set"), QStringLiteral("barcode"),
                            QStringLiteral("202612089999")});
    ASSERT_EQ(run.code, 0) << run.why();
    EXPECT_EQ(pack->barcode(), "202612089999");
    const QJsonObject o = run.last();
    EXPECT_TRUE(o.value("acknowledged").toBool());
    EXPECT_EQ(o.value("readback").toObject().value("barcode").toString(), QStringLiteral("202612089999"));
    EXPECT_TRUE(o.value("messages").toArray().contains(QStringLiteral("Modified barcode successfully!")));
}

// Exit status 1 for a pack that refuses or stays silent, 2 for bad input
// with nothing sent.
struct ExitCase {
    const char* name;
    QStringList args;
    int code;
    bool sends;
};

TEST_F(CliE2e, exitStatusTellsRefusalSilenceAndBadInput)
{
    const QString image = dir.filePath(QStringLiteral("bad.hex"));
    QFile bad(image);
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(":10000000zz\n");
    bad.close();
    // A checksum off by one: the record converts, the board would erase.
    const QString checksum = dir.filePath(QStringLiteral("checksum.hex"));
    QFile wrong(checksum);
    ASSERT_TRUE(wrong.open(QIODevice::WriteOnly));
    wrong.write(":0400000001020304F3\n:00000001FF\n");
    wrong.close();
    // A named pipe nobody writes to: opening it would wait for ever.
    const QString fifo = dir.filePath(QStringLiteral("pipe.hex"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const ExitCase cases[] = {
        {"refused register", {"set", "remain-capacity", "1000"}, 1, true},
        {"refused block", {"read"}, 1, true},
        {"silent pack", {"--timeout", "300", "info"}, 1, true},
        {"unknown command", {"frobnicate"}, 2, false},
        {"short barcode", {"set", "barcode", "123"}, 2, false},
        {"not a number", {"calibrate", "current", "12a"}, 2, false},
        {"voltage out of range", {"calibrate", "voltage", "5000"}, 2, false},
        {"address too big", {"--addr", "100", "read"}, 2, false},
        {"unreadable image", {"upgrade", "--target", "main", "/nonexistent/fw.hex"}, 2, false},
        {"bad image", {"upgrade", "--target", "dev", "--yes", image}, 2, false},
        {"wrong record checksum", {"--trace", "upgrade", "--target", "main", "--yes", checksum}, 2, false},
        {"image that is a named pipe", {"upgrade", "--target", "main", "--yes", fifo}, 2, false},
        {"retries out of range", {"upgrade", "--target", "dev", "--yes", "--retries", "11", checksum}, 2, false},
        {"log file exists", {"watch", "--count", "1", "--log", image}, 2, false},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PackConfig config = StillPack();
        startPack(config);
        pack->refuseRegister(0x0019);
        if (QLatin1String(c.name) == QLatin1String("silent pack"))
            pack->setSilent();
        const CliRun run = cli(c.args);
        EXPECT_EQ(run.code, c.code) << run.why();
        EXPECT_FALSE(run.err.isEmpty());
        EXPECT_EQ(pack->requests().empty(), !c.sends);
        if (!c.sends) {
            EXPECT_FALSE(run.err.contains(" TX ")) << run.why();
        }
        if (QLatin1String(c.name) == QLatin1String("silent pack")) {
            EXPECT_LT(run.ms, 300 + 2000);
        }
    }
}

TEST_F(CliE2e, portHeldByAnotherProgramExitsThree)
{
    startPack();
    TComm other;
    other.setCommName(port);
    other.OpenComm();
    const CliRun run = cli({QStringLiteral("info")});
    EXPECT_EQ(run.code, 3) << run.why();
    EXPECT_TRUE(run.err.contains("Error opening serial port")) << run.why();
    EXPECT_TRUE(pack->requests().empty());
}

TEST_F(CliE2e, watchLogsEveryRotationToWorkbookAndCsv)
{
    startPack();
    const QString xlsx = dir.filePath(QStringLiteral("log.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("log.csv"));
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("watch"), QStringLiteral("--count"),
                            QStringLiteral("3"), QStringLiteral("--log"), xlsx, QStringLiteral("--csv"), csv});
    ASSERT_EQ(run.code, 0) << run.why();
    const QList<QJsonObject> objects = run.objects();
    ASSERT_EQ(objects.size(), 4);
    EXPECT_EQ(objects[2].value("rotation").toInt(), 3);
    EXPECT_EQ(objects[3].value("rotations").toInt(), 3);

    QString error;
    const std::optional<XlsxDump> dump = ReadXlsx(xlsx, &error);
    ASSERT_TRUE(dump) << error.toStdString();
    // Device line, header, one row per rotation.
    ASSERT_EQ(dump->maxRow(), 5);
    EXPECT_EQ(dump->text(2, 2), QStringLiteral("Bat Volt(mV)"));
    EXPECT_EQ(dump->rowLength(2), 38 + 16 + 4 + 2);
    for (int row = 3; row <= 5; ++row) {
        EXPECT_EQ(dump->number(row, 2), objects[row - 3].value("total_volt").toInt() * 10.0);
        EXPECT_EQ(dump->rowLength(row), 60);
    }
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("Sampling Time,Bat Volt(mV),Current(mA)"));
    EXPECT_EQ(lines[3].split(',').size(), 60);
}

TEST_F(CliE2e, traceShowsTheRequestAndItsAnswer)
{
    startPack();
    const CliRun good = cli({QStringLiteral("--trace"), QStringLiteral("info")});
    ASSERT_EQ(good.code, 0) << good.why();
    const QString err = QString::fromUtf8(good.err);
    // The information read and the start of its 81-byte answer.
    static const QRegularExpression tx(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} TX 06 04 9D 01 00 26 [0-9A-F]{2} [0-9A-F]{2}  "),
                                       QRegularExpression::MultilineOption);
    static const QRegularExpression rx(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} RX 06 04 4C( [0-9A-F]{2}){78}  "),
                                       QRegularExpression::MultilineOption);
    EXPECT_TRUE(tx.match(err).hasMatch()) << good.why();
    EXPECT_TRUE(rx.match(err).hasMatch()) << good.why();
    EXPECT_LT(err.indexOf(QStringLiteral(" TX ")), err.indexOf(QStringLiteral(" RX ")));

    pack->setCorruptCrc();
    const CliRun bad = cli({QStringLiteral("--trace"), QStringLiteral("--timeout"), QStringLiteral("300"), QStringLiteral("info")});
    EXPECT_EQ(bad.code, 1) << bad.why();
    EXPECT_TRUE(bad.err.contains(" RX 06 04 4C ") && bad.err.contains("  CRC error")) << bad.why();
}

// Runs the program with its stderr on a terminal and returns what the
// terminal showed (the program's line feeds arrive as CR LF).
QByteArray RunCliOnTerminal(const QStringList& args)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return {};
    const QByteArray slave = ::ptsname(master);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    QProcess p;
    p.setChildProcessModifier([slave] {
        const int fd = ::open(slave.constData(), O_RDWR | O_NOCTTY);
        if (fd >= 0)
            ::dup2(fd, STDERR_FILENO);
    });
    p.start(QStringLiteral(BMS_CLI), args);
    p.closeWriteChannel();
    QByteArray shown;
    const auto drain = [&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, n);
    };
    WaitUntil([&] {
        drain();
        return p.state() == QProcess::NotRunning;
    }, 60000);
    drain();
    ::close(master);
    return shown;
}

class CliUpgrade : public CliE2e, public ::testing::WithParamInterface<bool> {};

TEST_P(CliUpgrade, objcopyImageArrivesByteForByte)
{
    const bool dev = GetParam();
    ImageFiles files;
    const QByteArray image = MakeObjcopyImage(files, QStringLiteral("fw_01020304ABCD.hex"), 4000, 0x0800F000);
    ASSERT_FALSE(image.isEmpty()) << "objcopy failed";
    startPack();
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("--yes"), QStringLiteral("upgrade"),
                            QStringLiteral("--target"), dev ? QStringLiteral("dev") : QStringLiteral("main"),
                            files.path(QStringLiteral("fw_01020304ABCD.hex"))});
    ASSERT_EQ(run.code, 0) << run.why();
    const sim::Target target = dev ? sim::Target::DevFirmware : sim::Target::MainBoard;
    EXPECT_EQ(QByteArray::fromStdString(pack->imageHex(target, "\r\n")), image);
    const QJsonObject o = run.last();
    EXPECT_EQ(o.value("ending").toString(),
              dev ? QStringLiteral("Writed firmware information successfully!") : QStringLiteral("Upgrade Complete!"));
    EXPECT_TRUE(run.err.contains("Records ")) << run.why();
    // The versions read back as text (none for the dev firmware), the
    // transfer time in whole milliseconds.
    EXPECT_EQ(o.value("version_before"), dev ? QJsonValue() : QJsonValue(QStringLiteral("1.5.3"))) << run.why();
    EXPECT_EQ(o.value("version_after"), dev ? QJsonValue() : QJsonValue(QStringLiteral("1.5.4"))) << run.why();
    const double ms = o.value("transfer_seconds").toDouble() * 1000;
    EXPECT_GT(ms, 0);
    EXPECT_NEAR(ms, std::round(ms), 1e-6) << run.why();
}

// One answer lost at record 10. The dev firmware's record goes out again and
// the run completes. The main board's run ends; `info` then says that the
// pack waits in its boot loader, and the upgrade run again at once goes
// through, its ending before the firmware line.
TEST_P(CliUpgrade, lostAnswerIsResentOrLeavesTheBoardReadyForARerun)
{
    const bool dev = GetParam();
    ImageFiles files;
    const QString image = files.write(QStringLiteral("fw_01020304ABCD.hex"), MakeImage(40));
    const QStringList upgrade = {QStringLiteral("--yes"), QStringLiteral("upgrade"), QStringLiteral("--target"),
                                 dev ? QStringLiteral("dev") : QStringLiteral("main"), image};
    startPack();
    pack->setLoseAnswerAtRecord(10);
    const CliRun run = cli(QStringList{QStringLiteral("--json")} + upgrade);
    const QJsonObject o = run.last();
    const QString notes = o.value("notes").toVariant().toStringList().join(QLatin1Char('\n'));
    if (dev) {
        ASSERT_EQ(run.code, 0) << run.why();
        EXPECT_TRUE(notes.contains(QStringLiteral("Note: record 10 was not answered and is sent again (1 of 2)!"))) << run.why();
        EXPECT_EQ(pack->devRecordIndices().size(), 42u);
        // On a terminal the progress line drawn over itself is ended before
        // the note goes out.
        pack->setLoseAnswerAtRecord(10);
        const QByteArray shown = RunCliOnTerminal(QStringList{QStringLiteral("--port"), port} + upgrade);
        const qsizetype note = shown.indexOf("Note: record 10 was not answered");
        ASSERT_GT(note, 0) << shown.toStdString();
        EXPECT_TRUE(shown.lastIndexOf("\033[K", note) < shown.lastIndexOf('\n', note)) << shown.toStdString();
        return;
    }
    EXPECT_EQ(run.code, 1) << run.why();
    EXPECT_EQ(o.value("ending").toString(), QStringLiteral("Device communication timeout!"));
    EXPECT_TRUE(notes.contains(BootLoaderWaitText())) << run.why();

    const CliRun info = cli({QStringLiteral("--timeout"), QStringLiteral("300"), QStringLiteral("info")});
    EXPECT_EQ(info.code, 1) << info.why();
    EXPECT_TRUE(info.err.contains(BootLoaderWaitText().toUtf8())) << info.why();

    const CliRun again = cli(upgrade);
    ASSERT_EQ(again.code, 0) << again.why();
    EXPECT_EQ(again.out, "Upgrade Complete!\nFirmware before: not read after: HV:2.1.0 SV:1.5.4\n");
    EXPECT_FALSE(BootLoaderNoteLeft(port));
}

INSTANTIATE_TEST_SUITE_P(Targets, CliUpgrade, ::testing::Values(false, true));

} // namespace
