// The command line's firmware upgrade end to end: an image made by objcopy
// reaches the pack byte for byte, and a lost answer is resent or leaves the
// board ready for a rerun.
#include "BootLoaderNote.h"
#include "CliE2e.h"

#include <fcntl.h>
#include <unistd.h>

using namespace bms;
using namespace bms::test;
using namespace bms::test::cli;

namespace {

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
    // Another build overwrites the file as soon as the run talks to the
    // pack, after the check and before the first record: the pack gets the
    // image that was checked.
    const QByteArray other = MakeObjcopyImage(files, QStringLiteral("other.hex"), 4000, 0x08020000);
    const sim::Target target = dev ? sim::Target::DevFirmware : sim::Target::MainBoard;
    bool replaced = false;
    CliStart how;
    how.whileRunning = [&] {
        if (!replaced && !pack->requests().empty())
            replaced = !files.write(QStringLiteral("fw_01020304ABCD.hex"), other).isEmpty();
    };
    startPack();
    const CliRun run = cli({QStringLiteral("--json"), QStringLiteral("--yes"), QStringLiteral("upgrade"),
                            QStringLiteral("--target"), dev ? QStringLiteral("dev") : QStringLiteral("main"),
                            files.path(QStringLiteral("fw_01020304ABCD.hex"))},
                           60000, how);
    ASSERT_EQ(run.code, 0) << run.why();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(pack->imageHex(target, "\r\n"), image.toStdString());
    const QJsonObject o = run.last();
    EXPECT_EQ(o.value("ending").toString(),
              dev ? QStringLiteral("Writed firmware information successfully!") : QStringLiteral("Upgrade Complete!"));
    EXPECT_TRUE(run.err.contains("Records ")) << run.why();
    const QStringList problems = Schema().check(run.last(), QStringLiteral("upgrade"));
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QStringLiteral("; ")).toStdString();
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
