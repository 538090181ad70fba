// The upgrade run over the fake window and port: steps ordered by hand,
// the watchdog driven with Timer::fire(), every ending with its controls.
#include "BootLoaderNote.h"
#include "Codec.h"
#include "CommRecord.h"
#include "Errors.h"
#include "UpgradeTab.h"
#include "UpgradeTestSupport.h"
#include "QtTestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <functional>

using namespace bms;
using namespace bms::test;

namespace {

using Frame = std::vector<uint8_t>;

Frame WithCrc(Frame frame)
{
    AppendCrc(frame);
    return frame;
}

// First frame of the main-board reboot request: 0x0030 to register 0x9D00.
const Frame kRebootWrite = WithCrc({0x06, 0x10, 0x9D, 0x00, 0x00, 0x01, 0x02, 0x00, 0x30});
const Frame kBootErase = {0x3A, 0x00, 0x00, 0x00, 0x37, 0xC9};

class UpgradeRunTest : public ::testing::Test {
protected:
    // Chooses an image for the target and presses "Upgrade".
    void start(const QByteArray& image, bool dev, const QString& name = QStringLiteral("fw_01020304ABCD.hex"))
    {
        if (dev)
            rbtn_upgrade_wifiClick();
        else
            rbtn_upgrade_main_boardClick();
        path = files.write(name, image);
        opbtnClick(path);
        upbtnClick();
    }
    int count(const Frame& frame) const { return static_cast<int>(std::count(app.link.frames.begin(), app.link.frames.end(), frame)); }
    QString lbl35() const { return app.host.text(QStringLiteral("lbl35")); }
    void fireWatchdog(int times)
    {
        for (int i = 0; i < times; ++i)
            app.tmr4.fire();
    }
    // The state every ending but "Waiting For Check!" leaves.
    void expectEndedWithTargetsBack(const char* text)
    {
        EXPECT_EQ(lbl35(), QLatin1String(text));
        EXPECT_EQ(UpgradeActive, 0);
        EXPECT_EQ(Rebooting, 0);
        EXPECT_EQ(WatchdogTicks, 0);
        EXPECT_FALSE(app.tmr4.enabled());
        EXPECT_TRUE(app.runControlsEnabled());
        EXPECT_TRUE(app.targetButtonsEnabled());
    }

    UpgradeApp app;
    ImageFiles files;
    QString path;
};

TEST_F(UpgradeRunTest, silentMainBoardGetsTwelveRebootRequestsThenDeviceNotResponding)
{
    start(MakeImage(3), false);
    EXPECT_EQ(lbl35(), QStringLiteral("Start Rebooting!"));
    EXPECT_FALSE(app.runControlsEnabled());
    EXPECT_FALSE(app.targetButtonsEnabled());
    EXPECT_TRUE(app.tmr4.enabled());
    EXPECT_EQ(app.tmr4.interval(), 100);
    fireWatchdog(101);
    EXPECT_EQ(UpgradeActive, 1);
    EXPECT_EQ(count(kRebootWrite), 12);
    EXPECT_EQ(app.link.frames.size(), 36u); // three frames per request
    fireWatchdog(1);
    expectEndedWithTargetsBack("Device not responding!");
    EXPECT_EQ(count(kRebootWrite), 12);
    EXPECT_EQ(ImageOpen, 0); // never opened
    fireWatchdog(5);
    EXPECT_EQ(app.link.frames.size(), 36u);
}

TEST_F(UpgradeRunTest, upgradeWithThePortClosedIsRefusedAtOnce)
{
    PortOpen = 0;
    start(MakeImage(2), false);
    EXPECT_EQ(app.host.messages, QStringList{QStringLiteral("Please open the serial port first!")});
    EXPECT_TRUE(app.host.questions.isEmpty());
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_EQ(UpgradeActive, 0);
    EXPECT_FALSE(app.tmr4.enabled());
}

TEST_F(UpgradeRunTest, progressShowsTheRealEndingAndNothingOfAnEarlierFile)
{
    const QString label = QStringLiteral("lbl_upgrade_progress");
    // After three of seven records, each ending leaves the count without an estimate.
    const std::pair<const char*, std::function<void()>> endings[] = {
        {"Writing To Flash Error!", [] { RunUpgradeStep(UpgradeStep::WriteError); }},
        {"Device communication timeout!", [this] { fireWatchdog(1); }},
        {"Upgrade Stopped!", [this] { // the port fails under record 4
             app.link.onSend = [](const Frame&) { throw EInOutError(QStringLiteral("the port failed")); };
             RunUpgradeStep(UpgradeStep::NextWrite);
             app.link.onSend = nullptr;
         }},
        {"Upgrade Stopped! The port was closed.", [] { UpgradePortClosed(); }},
    };
    for (const auto& [ending, end] : endings) {
        start(MakeImage(5), false);
        for (UpgradeStep step : {UpgradeStep::DeviceRebooting, UpgradeStep::Erase, UpgradeStep::FirstWrite,
                                 UpgradeStep::NextWrite, UpgradeStep::NextWrite})
            RunUpgradeStep(step);
        EXPECT_TRUE(app.host.text(label).contains(QStringLiteral("Remaining"))) << ending;
        end();
        EXPECT_TRUE(lbl35().startsWith(QLatin1String(ending))) << lbl35().toStdString();
        EXPECT_TRUE(app.host.text(label).startsWith(QStringLiteral("Records: 3 / 7 (42%)  Elapsed: ")))
            << app.host.text(label).toStdString();
        EXPECT_FALSE(app.host.text(label).contains(QStringLiteral("Remaining"))) << ending;
    }

    // A newly chosen file, and a refused one, show no status of the last run.
    const auto expectCleared = [&] {
        EXPECT_EQ(lbl35(), QString());
        EXPECT_EQ(app.host.text(label), QString());
        EXPECT_EQ(app.progress[QStringLiteral("pgb_upgrade")].first, 0);
    };
    app.host.setText(QStringLiteral("lbl35"), QStringLiteral("Upgrade Complete!"));
    opbtnClick(files.write(QStringLiteral("next.hex"), ":zz\n"));
    expectCleared();
    app.host.setText(QStringLiteral("lbl35"), QStringLiteral("Upgrade Complete!"));
    app.host.setText(label, QStringLiteral("Records: 7 / 7 (100%)"));
    app.progress[QStringLiteral("pgb_upgrade")] = {7, 7};
    upbtnClick(); // the image is refused
    expectCleared();
}

TEST_F(UpgradeRunTest, answeringNoLeavesEverythingAsItWas)
{
    Sampling = 1;
    app.host.answerYes = false;
    start(MakeImage(3), false);
    EXPECT_EQ(app.host.questions, QStringList{QStringLiteral("Warning|Whether to restart the device and update?")});
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_EQ(app.samplingStops, 0);
    EXPECT_EQ(Sampling, 1);
    EXPECT_EQ(UpgradeActive, 0);
    EXPECT_FALSE(app.tmr4.enabled());
    EXPECT_TRUE(app.targetButtonsEnabled());
}

TEST_F(UpgradeRunTest, badImageIsRefusedBeforeAnythingIsSentForBothTargets)
{
    Sampling = 1;
    const QByteArray bad = HexRecord(0, 0, "abcd") + "\n:04000000010203X4F2\n:00000001FF\n";
    for (bool dev : {false, true}) {
        app.host.messages.clear();
        start(bad, dev);
        ASSERT_EQ(app.host.messages.size(), 1);
        EXPECT_TRUE(app.host.messages[0].contains(QStringLiteral("line 2"))) << app.host.messages[0].toStdString();
        EXPECT_TRUE(app.host.questions.isEmpty());
        EXPECT_TRUE(app.link.frames.empty());
        EXPECT_EQ(app.samplingStops, 0);
        EXPECT_EQ(UpgradeActive, 0);
        EXPECT_TRUE(app.targetButtonsEnabled());
    }
    // An empty line inside a main-board image is refused too.
    app.host.messages.clear();
    start(HexRecord(0, 0, "abcd") + "\n\n:00000001FF\n", false);
    ASSERT_EQ(app.host.messages.size(), 1);
    EXPECT_TRUE(app.link.frames.empty());
}

TEST_F(UpgradeRunTest, mainBoardRunSendsEveryRecordRawAndWaitsForCheck)
{
    Sampling = 1;
    const QByteArray image = MakeImage(4);
    start(image, false);
    EXPECT_EQ(app.samplingStops, 1);
    const QList<QByteArray> lines = image.trimmed().split('\n');

    RunUpgradeStep(UpgradeStep::DeviceRebooting);
    EXPECT_EQ(lbl35(), QStringLiteral("Device Rebooting!"));
    EXPECT_EQ(app.tmr4.interval(), 2000);
    EXPECT_EQ(Rebooting, 1);
    app.link.frames.clear();
    RunUpgradeStep(UpgradeStep::Erase);
    EXPECT_EQ(lbl35(), QStringLiteral("Erase Flash!"));
    EXPECT_EQ(app.link.frames, std::vector<Frame>{kBootErase});
    EXPECT_EQ(ImageOpen, 1);
    EXPECT_EQ(app.tmr4.interval(), 5000);
    app.link.frames.clear();
    app.pauses.clear();
    RunUpgradeStep(UpgradeStep::FirstWrite);
    EXPECT_EQ(app.pauses, std::vector<int>{500});
    EXPECT_EQ(app.tmr4.interval(), 1000);
    for (int i = 1; i < lines.size(); ++i) {
        RunUpgradeStep(UpgradeStep::NextWrite);
        EXPECT_EQ(app.tmr4.interval(), 200);
    }
    ASSERT_EQ(app.link.frames.size(), static_cast<size_t>(lines.size()));
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_EQ(app.link.frames[i], LineToRecord(lines[i].trimmed())) << "record " << i;
    EXPECT_EQ(app.host.memos[QStringLiteral("mmo2")].size(), lines.size());
    EXPECT_EQ(app.host.memos[QStringLiteral("mmo2")].last(), QStringLiteral(":00000001FF"));
    EXPECT_EQ(RecordIndex, static_cast<uint32_t>(lines.size()));
    EXPECT_EQ((app.progress[QStringLiteral("pgb_upgrade")]), (std::pair<int, int>{6, 6}));
    EXPECT_TRUE(app.host.text(QStringLiteral("lbl_upgrade_progress")).startsWith(QStringLiteral("Records: 6 / 6 (100%)")));

    RunUpgradeStep(UpgradeStep::WaitingForCheck);
    EXPECT_EQ(lbl35(), QStringLiteral("Waiting For Check!"));
    EXPECT_EQ(UpgradeActive, 0);
    EXPECT_EQ(AwaitingCheck, 1);
    EXPECT_EQ(ImageOpen, 0);
    EXPECT_FALSE(app.tmr4.enabled());
    EXPECT_TRUE(app.runControlsEnabled());
    EXPECT_FALSE(app.targetButtonsEnabled()); // until the pack reports completion
}

TEST_F(UpgradeRunTest, devFirmwareSendsIndexedRecordsThenTheRecordCount)
{
    // The odd record (L = 5) gives a payload of 15 bytes and 7 registers.
    const QByteArray image = HexRecord(0, 4, QByteArray::fromHex("0800")) + "\n" + HexRecord(0, 0, "abcde") + "\n"
        + ":00000001FF\n";
    start(image, true);
    EXPECT_EQ(app.host.text(QStringLiteral("Label44")), QStringLiteral("43981"));
    // Erase at once: the information block to 0x9E00 with version and type.
    ASSERT_EQ(app.link.frames.size(), 1u);
    const Frame& info = app.link.frames[0];
    ASSERT_EQ(info.size(), 43u);
    EXPECT_EQ(Frame(info.begin(), info.begin() + 13), (Frame{0x06, 0x10, 0x9E, 0x00, 0x00, 0x11, 0x22, 0x01, 0x02, 0x03, 0x04, 0xAB, 0xCD}));
    EXPECT_EQ(lbl35(), QStringLiteral("Erase Flash!"));
    EXPECT_EQ(app.tmr4.interval(), 100);
    EXPECT_FALSE(app.runControlsEnabled());

    app.link.frames.clear();
    for (int i = 0; i < 4; ++i)
        RunUpgradeStep(UpgradeStep::NextWrite);
    ASSERT_EQ(app.link.frames.size(), 4u);
    const QList<QByteArray> lines = image.trimmed().split('\n');
    for (uint32_t i = 0; i < 3; ++i) {
        const Frame& packet = app.link.frames[i];
        const Frame record = LineToRecord(lines[static_cast<int>(i)]);
        const size_t n = record.size() + 4;
        ASSERT_EQ(packet.size(), n + 9);
        EXPECT_EQ(ReadU16BE(packet.data(), 2), 0x9F00);
        EXPECT_EQ(ReadU16BE(packet.data(), 4), n / 2);
        EXPECT_EQ(packet[6], n);
        EXPECT_EQ(ReadU32BE(packet.data(), 7), i);
        EXPECT_EQ(Frame(packet.begin() + 11, packet.end() - 2), record);
        EXPECT_TRUE(CrcMatches(packet.data(), static_cast<int>(packet.size())));
    }
    EXPECT_EQ(app.link.frames[1][6], 15); // L = 5
    EXPECT_EQ(app.link.frames[1][5], 7);
    // The empty read at the end: Write complete and the record count.
    EXPECT_EQ(app.link.frames[3], WithCrc({0x06, 0x10, 0x9E, 0x05, 0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x03}));
    expectEndedWithTargetsBack("Write Complete!");
    EXPECT_EQ(AwaitingCheck, 1);
    EXPECT_EQ(ImageOpen, 0);
}

TEST_F(UpgradeRunTest, silenceAfterRebootEndsWithCommunicationTimeoutAndClosesTheImage)
{
    const QString port = files.path(QStringLiteral("port"));
    app.host.setText(QStringLiteral("cbb1"), port);
    start(MakeImage(5), false);
    RunUpgradeStep(UpgradeStep::DeviceRebooting);
    RunUpgradeStep(UpgradeStep::Erase);
    RunUpgradeStep(UpgradeStep::FirstWrite);
    RunUpgradeStep(UpgradeStep::NextWrite);
    const size_t sent = app.link.frames.size();
    fireWatchdog(1);
    expectEndedWithTargetsBack("Device communication timeout!");
    EXPECT_EQ(ImageOpen, 0);
    // A main-board record has no index: it is never sent twice.
    fireWatchdog(10);
    EXPECT_EQ(app.link.frames.size(), sent);
    // The board waits in its boot loader: the operator is told, and the port
    // keeps a note of it for later time-outs.
    EXPECT_TRUE(app.host.memos[QStringLiteral("mmo1")].last().startsWith(BootLoaderWaitText()));
    EXPECT_TRUE(BootLoaderNoteLeft(port));
    // An answer on the port removes its note and no other port's.
    const QString other = files.path(QStringLiteral("other"));
    LeaveBootLoaderNote(other);
    RemoveBootLoaderNote(port);
    EXPECT_FALSE(BootLoaderNoteLeft(port));
    EXPECT_TRUE(BootLoaderNoteLeft(other));
    RemoveBootLoaderNote(other);
    EXPECT_FALSE(BootLoaderNoteLeft(other));
}

// An answer lost or corrupted on the line leaves the pack with the record;
// the dev firmware's index lets the record go out again harmlessly, after
// five record deadlines without an answer, as often as the retries allow.
// The run's own count of expiries goes on meanwhile.
TEST_F(UpgradeRunTest, devFirmwareRecordWithoutAnswerIsSentAgainUnderItsIndex)
{
    for (const int retries : {0, 2}) {
        SCOPED_TRACE(retries);
        start(MakeImage(3), true);
        SetRecordRetries(retries);
        RunUpgradeStep(UpgradeStep::NextWrite); // the erase acknowledged: record 0
        RunUpgradeStep(UpgradeStep::NextWrite); // record 1
        const Frame record = app.link.frames.back();
        ASSERT_EQ(ReadU32BE(record.data(), 7), 1u);
        fireWatchdog(4);
        EXPECT_EQ(count(record), 1);
        fireWatchdog(1);
        EXPECT_EQ(count(record), std::min(retries, 1) + 1);
        fireWatchdog(15);
        EXPECT_EQ(count(record), retries + 1);
        EXPECT_EQ(app.host.memos[QStringLiteral("mmo1")].size(), retries);
        EXPECT_EQ(UpgradeActive, 1);
        EXPECT_EQ(WatchdogTicks, 20);
        // The answer comes: the transfer goes on with the next record.
        RunUpgradeStep(UpgradeStep::NextWrite);
        EXPECT_EQ(ReadU32BE(app.link.frames.back().data(), 7), 2u);
        fireWatchdog(5 * (retries + 1));
        EXPECT_EQ(count(app.link.frames.back()), retries + 1);
        fireWatchdog(100);
        EXPECT_EQ(lbl35(), QStringLiteral("Device not responding!"));
        app.link.frames.clear();
        app.host.memos.clear();
    }
}

// The run's fixed pauses keep the event loop going (the window paints and
// takes input), but a step the pack orders meanwhile waits for the step
// that pauses, as behind a blocking pause.
TEST(UpgradePause, eventsGoOnAndStepsWaitForTheStepThatPauses)
{
    UpgradeApp app;
    App.blockingPause = nullptr; // real pauses
    ImageFiles files;
    rbtn_upgrade_main_boardClick();
    opbtnClick(files.write(QStringLiteral("fw.hex"), MakeImage(2)));
    upbtnClick();
    RunUpgradeStep(UpgradeStep::DeviceRebooting);
    RunUpgradeStep(UpgradeStep::Erase);
    app.link.frames.clear();
    bool handled = false;
    size_t framesMeanwhile = 99;
    QTimer::singleShot(100, [&] {
        handled = true;
        framesMeanwhile = app.link.frames.size();
        RunUpgradeStep(UpgradeStep::NextWrite); // the answer to a record, arriving early
    });
    QElapsedTimer clock;
    clock.start();
    RunUpgradeStep(UpgradeStep::FirstWrite);
    EXPECT_GE(clock.elapsed(), 500);
    EXPECT_TRUE(handled);
    EXPECT_EQ(framesMeanwhile, 0u);
    ASSERT_EQ(app.link.frames.size(), 1u); // the first record; the held step has not run yet
    EXPECT_TRUE(WaitUntil([&] { return app.link.frames.size() == 2; }, 2000));
    EXPECT_EQ(app.link.frames[1], LineToRecord(MakeImage(2).split('\n')[1].trimmed()));
}

TEST_F(UpgradeRunTest, writeErrorEndsTheRunAndLateStepsDoNothing)
{
    start(MakeImage(5), false);
    RunUpgradeStep(UpgradeStep::Erase);
    RunUpgradeStep(UpgradeStep::FirstWrite);
    RunUpgradeStep(UpgradeStep::WriteError);
    expectEndedWithTargetsBack("Writing To Flash Error!");
    EXPECT_EQ(ImageOpen, 0);
    const size_t sent = app.link.frames.size();
    RunUpgradeStep(UpgradeStep::NextWrite);
    EXPECT_EQ(app.link.frames.size(), sent);
    EXPECT_EQ(lbl35(), QStringLiteral("Writing To Flash Error!"));
}

TEST_F(UpgradeRunTest, eraseWithoutRebootKeepsCountingAndRepeatsTheRebootRequest)
{
    start(MakeImage(2), false);
    RunUpgradeStep(UpgradeStep::Erase); // 0x32 without 0x31 first
    EXPECT_EQ(app.tmr4.interval(), 5000);
    const int before = count(kRebootWrite);
    fireWatchdog(1);
    EXPECT_EQ(count(kRebootWrite), before + 1);
    EXPECT_EQ(app.tmr4.interval(), 100);
    EXPECT_EQ(UpgradeActive, 1);
}

TEST_F(UpgradeRunTest, devFirmwareExpiriesOnlyCountUntilTheHundredAndSecond)
{
    start(MakeImage(2), true);
    app.link.frames.clear();
    fireWatchdog(101);
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_EQ(UpgradeActive, 1);
    fireWatchdog(1);
    expectEndedWithTargetsBack("Device not responding!");
}

// The run sends the lines that were checked, whatever becomes of the file.
TEST_F(UpgradeRunTest, imageSpoiledAfterTheCheckIsNotReadAgain)
{
    start(MakeImage(3), false);
    RunUpgradeStep(UpgradeStep::DeviceRebooting);
    files.write(QFileInfo(path).fileName(), ":0400000001020304F2\n:zz\n");
    RunUpgradeStep(UpgradeStep::Erase);
    RunUpgradeStep(UpgradeStep::FirstWrite);
    RunUpgradeStep(UpgradeStep::NextWrite);
    EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(UpgradeActive, 1);
    const QList<QByteArray> lines = MakeImage(3).split('\n');
    EXPECT_EQ(app.host.memos[QStringLiteral("mmo2")],
              (QStringList{QString::fromLatin1(lines[0].trimmed()), QString::fromLatin1(lines[1].trimmed())}));
}

TEST_F(UpgradeRunTest, mainBoardAskingPastTheLastRecordEndsTheRunWithAnError)
{
    start(MakeImage(1), false);
    RunUpgradeStep(UpgradeStep::Erase);
    RunUpgradeStep(UpgradeStep::FirstWrite);
    RunUpgradeStep(UpgradeStep::NextWrite);
    RunUpgradeStep(UpgradeStep::NextWrite);
    ASSERT_TRUE(app.host.errors.isEmpty());
    RunUpgradeStep(UpgradeStep::NextWrite); // no fourth line
    EXPECT_EQ(app.host.errors.size(), 1);
    EXPECT_EQ(UpgradeActive, 0);
    EXPECT_TRUE(app.runControlsEnabled());
    EXPECT_TRUE(app.targetButtonsEnabled());
}

TEST_F(UpgradeRunTest, imageRemovedAfterTheCheckIsStillSentAsChecked)
{
    rbtn_upgrade_wifiClick();
    path = files.write(QStringLiteral("x_01020304ABCD.hex"), MakeImage(2));
    opbtnClick(path);
    // The check passes; the file is gone by the time the dev-firmware erase
    // starts the transfer.
    const QString removed = path;
    UpgradeHooks.stopSampling = [removed] { QFile::remove(removed); };
    Sampling = 1;
    upbtnClick();
    EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lbl35(), QStringLiteral("Erase Flash!"));
    EXPECT_FALSE(app.link.frames.empty());
    EXPECT_EQ(UpgradeActive, 1);
    EXPECT_EQ(ImageOpen, 1);
}

TEST_F(UpgradeRunTest, devFirmwareVersionThatIsNotHexIsReportedBeforeTheRun)
{
    rbtn_upgrade_wifiClick();
    opbtnClick(files.write(QStringLiteral("x_01020304ABCD.hex"), MakeImage(2)));
    app.host.setText(QStringLiteral("edt_firmware_version"), QStringLiteral("1.2"));
    upbtnClick();
    EXPECT_EQ(app.host.errors, QStringList{QStringLiteral("'$1.2' is not a valid integer value.")});
    EXPECT_TRUE(app.host.questions.isEmpty());
    EXPECT_TRUE(app.link.frames.empty());
    EXPECT_EQ(UpgradeActive, 0);
}

TEST_F(UpgradeRunTest, eraseDevFirmwareButtonWritesRegister9E80AndResumesSampling)
{
    Sampling = 1;
    SampleIntervalMs = 1000;
    app.tmr1.setInterval(1000);
    app.tmr1.setEnabled(true);
    btn_erase_dev_firmwareClick();
    EXPECT_EQ(EraseDevPending, 1);
    ASSERT_EQ(app.link.frames.size(), 1u);
    EXPECT_EQ(app.link.frames[0], WithCrc({0x06, 0x10, 0x9E, 0x80, 0x00, 0x01, 0x02, 0x00, 0x00}));
    EXPECT_TRUE(app.tmr1.enabled());
    EXPECT_TRUE(app.tmr2.enabled());
}

} // namespace
