// The command-line program end to end: quorlex-bms-cli run as a process
// against a virtual pack on a pseudo-terminal, its JSON output, exit status,
// files and what the pack received.
#include "CliE2e.h"
#include "XlsxDump.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bms;
using namespace bms::test;
using namespace bms::test::cli;

namespace {

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
    EXPECT_EQ(o.value("bsi").isObject(), bsi);
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
    const char* said = nullptr; // on stderr
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
        {"serial beyond its bytes", {"set", "serial", "日本"}, 2, false},
        {"protocol above its help", {"set", "protocol", "16"}, 2, false},
        {"parameter without a layout", {"set", "param", "rsoc", "50"}, 2, false, "'rsoc' is not a parameter"},
        {"empty log name", {"watch", "--count", "1", "--log", ""}, 2, false},
        {"argument info does not take", {"info", "extra"}, 2, false},
        {"address with a blank", {"--addr", " 6", "info"}, 2, false},
        {"address with a sign", {"--addr", "+6", "info"}, 2, false},
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
        if (c.said) {
            EXPECT_TRUE(run.err.contains(c.said)) << run.why();
        }
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
    // Block 1 (the fault words) is refused in every rotation: its cells stay
    // empty, never a value the pack did not give for that row.
    pack->refuseRegister(0x0080);
    const QString xlsx = dir.filePath(QStringLiteral("log.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("log.csv"));
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("watch"), QStringLiteral("--count"),
                            QStringLiteral("3"), QStringLiteral("--log"), xlsx, QStringLiteral("--csv"), csv});
    ASSERT_EQ(run.code, 1) << run.why();
    const QList<QJsonObject> objects = run.objects();
    ASSERT_EQ(objects.size(), 4);
    EXPECT_EQ(objects[2].value("rotation").toInt(), 3);
    EXPECT_EQ(objects[3].value("rotations").toInt(), 3);
    EXPECT_TRUE(objects[0].value("fault_status").isNull());
    constexpr int kFaultStatus0 = 25; // columns 25..28

    QString error;
    const std::optional<XlsxDump> dump = ReadXlsx(xlsx, &error);
    ASSERT_TRUE(dump) << error.toStdString();
    // Device line, header, one row per rotation.
    ASSERT_EQ(dump->maxRow(), 5);
    EXPECT_EQ(dump->text(2, 2), QStringLiteral("Bat Volt(mV)"));
    EXPECT_EQ(dump->rowLength(2), 38 + 16 + 4 + 2);
    EXPECT_EQ(dump->text(2, kFaultStatus0), QStringLiteral("Fault Status0"));
    for (int row = 3; row <= 5; ++row) {
        EXPECT_EQ(dump->number(row, 2), objects[row - 3].value("total_volt").toInt() * 10.0);
        EXPECT_EQ(dump->rowLength(row), 60);
        for (int column = kFaultStatus0; column < kFaultStatus0 + 4; ++column)
            EXPECT_TRUE(dump->cell(row, column).isEmpty()) << row << "/" << column;
        EXPECT_TRUE(dump->isNumber(row, kFaultStatus0 + 4)); // Bms Status0
    }
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("Sampling Time,Bat Volt(mV),Current(mA)"));
    const QList<QByteArray> fields = lines[3].split(',');
    ASSERT_EQ(fields.size(), 60);
    EXPECT_EQ(fields.mid(kFaultStatus0 - 1, 4), QList<QByteArray>(4));
    EXPECT_FALSE(fields[kFaultStatus0 + 3].isEmpty());
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

// Every command's JSON, whatever the outcome: the keys and types of the
// schema, the exit status and the kind of error it stands for.
enum class Fault { None, Silent, BadCrc, RefuseFaultWords, RefuseRemainCapacity };

struct JsonCase {
    const char* name;
    QStringList args;
    const char* def; // of the last object; watch's rotations are watch_rotation
    int code;
    const char* kind; // of the error; nullptr: null
    Fault fault = Fault::None;
    const char* product = "Q-Serial";
};

TEST_F(CliE2e, jsonOutputFollowsItsSchemaWhateverTheOutcome)
{
    const QStringList lint = Schema().lint();
    EXPECT_TRUE(lint.isEmpty()) << lint.join(QStringLiteral("; ")).toStdString();
    const JsonCase cases[] = {
        {"ports", {"ports"}, "ports", 0, nullptr},
        {"info", {"info"}, "info", 0, nullptr},
        {"info, silent pack", {"--timeout", "300", "info"}, "info", 1, "timeout", Fault::Silent},
        {"info, corrupted answer", {"--timeout", "300", "info"}, "info", 1, "crc", Fault::BadCrc},
        {"read, refused block", {"read"}, "read", 1, "refused", Fault::RefuseFaultWords},
        {"read, BSI", {"--product", "BSI", "read"}, "read", 0, nullptr, Fault::None, "BSI"},
        {"watch", {"watch", "--count", "2"}, "watch", 0, nullptr},
        {"set, read back", {"set", "barcode", "202612089999"}, "set", 0, nullptr},
        {"set, refused", {"set", "remain-capacity", "1000"}, "set", 1, "refused", Fault::RefuseRemainCapacity},
        {"calibrate, not a number", {"calibrate", "current", "12a"}, "calibrate", 2, "usage"},
        {"option error", {"--addr", "100", "read"}, "read", 2, "usage"},
        {"argument too many", {"info", "extra"}, "info", 2, "usage"},
        {"no such port", {"--port", "/nonexistent/ttyQ0", "info"}, "info", 3, "port"},
        {"image not there", {"upgrade", "--target", "main", "/nonexistent/fw.hex"}, "upgrade", 2, "usage"},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        startPack(StillPack(c.product));
        switch (c.fault) {
        case Fault::None: break;
        case Fault::Silent: pack->setSilent(); break;
        case Fault::BadCrc: pack->setCorruptCrc(); break;
        case Fault::RefuseFaultWords: pack->refuseRegister(0x0080); break;
        case Fault::RefuseRemainCapacity: pack->refuseRegister(0x0019); break;
        }
        const CliRun run = cli(QStringList{QStringLiteral("--json")} + c.args);
        EXPECT_EQ(run.code, c.code) << run.why();
        const QList<QJsonObject> objects = run.objects();
        ASSERT_FALSE(objects.isEmpty()) << run.why();
        const bool watch = QLatin1String(c.def) == QLatin1String("watch");
        EXPECT_EQ(objects.size(), watch ? 3 : 1) << run.why();
        for (qsizetype i = 0; i < objects.size(); ++i) {
            const bool last = i + 1 == objects.size();
            const QStringList problems
                = Schema().check(objects[i], last ? QLatin1String(c.def) : QLatin1String("watch_rotation"));
            EXPECT_TRUE(problems.isEmpty()) << problems.join(QStringLiteral("; ")).toStdString() << "\n" << run.why();
        }
        const QJsonObject o = objects.last();
        EXPECT_EQ(o.value("exit").toInt(), c.code);
        if (c.kind) {
            EXPECT_EQ(o.value("error").toObject().value("kind").toString(), QLatin1String(c.kind)) << run.why();
            EXPECT_FALSE(o.value("error").toObject().value("message").toString().isEmpty());
        } else {
            EXPECT_TRUE(o.value("error").isNull()) << run.why();
        }
    }
}

// The station's lines: every event of a run (a recipe that makes the run
// ask, refuse an answer, try a step again and fail a limit), the record in
// its event and in its file, a run that never starts, and station check.
TEST_F(CliE2e, stationLinesFollowTheirSchema)
{
    startPack();
    const QByteArray data = QFile::encodeName(dir.filePath(QStringLiteral("data")));
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data);
    const auto restore = qScopeGuard([&] { oldData.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", oldData); });
    const QString recipe = dir.filePath(QStringLiteral("schema.toml"));
    QFile file(recipe);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("name = \"schema\"\nversion = 1\n"
               "[[steps]]\nkind = \"scan\"\npattern = '\\d{12}'\n"
               "[[steps]]\nkind = \"identify\"\non_fail = \"continue\"\nlimits.cell_count = { equals = 99 }\n"
               "[[steps]]\nkind = \"check\"\nretries = 1\non_fail = \"continue\"\nlimits.cell_spread = { high = -1 }\n"
               "[[steps]]\nkind = \"calibrate\"\nquantity = \"current\"\nreference = { prompt = \"Meter (mA)\" }\ntolerance = 1000000\n"
               "[[steps]]\nkind = \"prompt\"\ntext = \"Done\"\n");
    file.close();
    const auto check = [](const CliRun& run, const QSet<QString>& kinds) {
        QSet<QString> seen;
        for (const QJsonObject& o : run.objects()) {
            const QString event = o.value("event").toString();
            seen.insert(event);
            const QString def = event.isEmpty() ? QStringLiteral("station_not_started")
                                : event == QLatin1String("record") ? QStringLiteral("station_record_event")
                                                                   : QStringLiteral("station_") + event;
            const QStringList problems = Schema().check(o, def);
            EXPECT_TRUE(problems.isEmpty()) << def.toStdString() << ": " << problems.join(QStringLiteral("; ")).toStdString();
        }
        EXPECT_EQ(seen, kinds) << run.why();
    };
    const QString results = dir.filePath(QStringLiteral("results"));
    CliStart typed;
    typed.input = "202612089999\nabc\n10000\nyes\n";
    const CliRun run = cli({"--json", "station", "run", recipe, "--results", results}, 60000, typed);
    EXPECT_EQ(run.code, 1) << run.why();
    check(run, {"run_start", "step_start", "measurement", "prompt", "prompt_refused", "prompt_closed", "step_retry",
                "step_end", "record", "run_end"});
    QFile record(run.last().value("record").toString());
    ASSERT_TRUE(record.open(QIODevice::ReadOnly)) << run.why();
    const QStringList problems = Schema().check(QJsonDocument::fromJson(record.readAll()).object(), QStringLiteral("station_record"));
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QStringLiteral("; ")).toStdString();

    file.open(QIODevice::Append);
    file.write("[[steps]]\nkind = \"settings\"\nwrites = [\"sleep 1\"]\n");
    file.close();
    // A bad recipe (exit 2), a port that does not open (3).
    check(cli({"--json", "station", "run", recipe}), {QString()});
    check(RunCli({"--json", "--port", "/nonexistent/ttyQ0", "station", "run", STATION_RECIPE, "--results", results}), {QString()});
    for (const QString& path : {QStringLiteral(STATION_RECIPE), recipe}) {
        const CliRun checked = RunCli({"--json", "station", "check", path});
        EXPECT_EQ(checked.code, path == recipe ? 2 : 0) << checked.why();
        const QStringList found = Schema().check(checked.last(), QStringLiteral("station_check"));
        EXPECT_TRUE(found.isEmpty()) << found.join(QStringLiteral("; ")).toStdString();
    }
}

// What a script sees besides the JSON: the versions as text, the protocol
// type in the text of read.
TEST_F(CliE2e, infoAndReadGiveFirmwareVersionsAndProtocolType)
{
    startPack();
    pack->setRegister(0x000A, 0x0107); // protocol soft version 1, protocol type 7
    pack->setRegister(0x000B, 0x1053); // software 1.5.3
    pack->setRegister(0x000C, 0x2010); // hardware 2.1.0
    for (const char* command : {"info", "read"}) {
        const CliRun json = cli({QStringLiteral("--json"), QLatin1String(command)});
        ASSERT_EQ(json.code, 0) << json.why();
        EXPECT_EQ(json.last().value("sw_version_text").toString(), QStringLiteral("1.5.3")) << command;
        EXPECT_EQ(json.last().value("hw_version_text").toString(), QStringLiteral("2.1.0")) << command;
        EXPECT_EQ(json.last().value("sw_version").toInt(), 0x1053) << command;
    }
    const CliRun text = cli({QStringLiteral("read")});
    ASSERT_EQ(text.code, 0) << text.why();
    EXPECT_TRUE(text.out.contains("\nProtocol Type: 7\n")) << text.why();
}

// Output that cannot be written is never a success: the exit status says
// so, and the message says what is safe and where.
TEST_F(CliE2e, outputThatCannotBeWrittenExitsFourSayingWhatIsSafe)
{
    startPack();
    const CliRun full = cli({QStringLiteral("info")}, 60000, {QStringLiteral("/dev/full"), {}, {}, {}});
    EXPECT_EQ(full.code, 4) << full.why();
    EXPECT_TRUE(full.err.contains("Cannot write to standard output: No space left on device")) << full.why();

    // A closed stdout would hand its number to the serial port: refused
    // before anything is sent.
    startPack();
    const CliRun closed = cli({QStringLiteral("info")}, 60000, {{}, [] { ::close(STDOUT_FILENO); }, {}});
    EXPECT_EQ(closed.code, 4) << closed.why();
    EXPECT_TRUE(closed.err.contains("standard output is closed")) << closed.why();
    EXPECT_TRUE(pack->requests().empty());

    // Files that reach a size limit part-way (as a full disk): the CSV file
    // ends with its last whole row, and the message counts them.
    const QString csv = dir.filePath(QStringLiteral("limited.csv"));
    const QString xlsx = dir.filePath(QStringLiteral("limited.xlsx"));
    const CliRun limited = cli({QStringLiteral("--json"), QStringLiteral("watch"), QStringLiteral("--count"),
                                QStringLiteral("30"), QStringLiteral("--csv"), csv, QStringLiteral("--log"), xlsx},
                               60000, {{}, [] {
                                           const rlimit limit{3000, 3000};
                                           ::setrlimit(RLIMIT_FSIZE, &limit);
                                       }, {}});
    EXPECT_EQ(limited.code, 4) << limited.why();
    EXPECT_EQ(limited.last().value("error").toObject().value("kind").toString(), QStringLiteral("io"));
    EXPECT_LT(limited.last().value("rotations").toInt(), 30);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    ASSERT_TRUE(content.endsWith('\n')) << content.right(80).toStdString();
    const qsizetype rows = content.count('\n') - 1;
    static const QRegularExpression said(QStringLiteral("limited\\.(csv|journal)[^\n]* holds (the header and )?(\\d+) rows?"));
    const QRegularExpressionMatch m = said.match(QString::fromUtf8(limited.err));
    ASSERT_TRUE(m.hasMatch()) << limited.why();
    if (m.captured(1) == QLatin1String("csv")) {
        EXPECT_EQ(m.captured(3).toLongLong(), rows) << limited.why();
    }
}

// A reader of stdout that went away, a closed terminal and SIGTERM end a
// watch as Ctrl-C does, with its files written; a write interrupted after it
// was sent says that it may have been applied, and nothing more is sent.
TEST_F(CliE2e, signalsAndAGoneReaderEndWithTheFilesWritten)
{
    startPack();
    const QString xlsx = dir.filePath(QStringLiteral("piped.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("piped.csv"));
    QProcess shell;
    shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\" | head -1; exit ${PIPESTATUS[0]}"),
                                         QStringLiteral(BMS_CLI), QStringLiteral("--port"), port, QStringLiteral("watch"),
                                         QStringLiteral("--log"), xlsx, QStringLiteral("--csv"), csv});
    ASSERT_TRUE(shell.waitForFinished(30000));
    EXPECT_EQ(shell.exitCode(), 4) << shell.readAllStandardError().toStdString();
    EXPECT_TRUE(ReadXlsx(xlsx).has_value());
    EXPECT_TRUE(QFileInfo(csv).size() > 0);

    struct SignalCase {
        int signal;
        QStringList args;
        int code;
    };
    const SignalCase cases[] = {
        {SIGHUP, {"watch", "--log", dir.filePath("hup.xlsx")}, 129},
        {SIGTERM, {"watch", "--log", dir.filePath("term.xlsx")}, 143},
        {SIGINT, {"watch", "--log", dir.filePath("int.xlsx")}, 0},
        // Sixteen writes 0.7 s apart, interrupted after the first.
        {SIGINT, {"--trace", "set", "role", "stand-alone"}, 130},
    };
    for (const SignalCase& c : cases) {
        SCOPED_TRACE(c.signal);
        startPack();
        QProcess p;
        p.start(QStringLiteral(BMS_CLI), QStringList{QStringLiteral("--port"), port} + c.args);
        const bool watch = c.args.first() == QLatin1String("watch");
        // A rotation printed, or a frame sent.
        QByteArray err;
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && (watch ? p.bytesAvailable() == 0 : !err.contains(" TX "))) {
            p.waitForReadyRead(50);
            err += p.readAllStandardError();
        }
        ASSERT_FALSE(deadline.hasExpired());
        ::kill(static_cast<pid_t>(p.processId()), c.signal);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        err += p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), c.code) << err.toStdString();
        if (watch) {
            EXPECT_TRUE(ReadXlsx(c.args.last()).has_value());
        } else {
            EXPECT_TRUE(err.contains("may have applied it")) << err.toStdString();
            EXPECT_LT(err.count(" TX "), 3) << err.toStdString();
        }
    }
}


} // namespace
