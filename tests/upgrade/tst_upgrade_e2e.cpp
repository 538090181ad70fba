// Whole upgrade runs against the virtual pack over a pseudo-terminal, with
// the real serial port component and response dispatcher, for both targets:
// complete transfers of an objcopy image and the endings of a misbehaving pack.
#include "BootLoaderNote.h"
#include "QuickPack.h"
#include "E2eSupport.h"
#include "FirmwareReadBack.h"
#include "ReadAnswers.h"

#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;
using sim::Target;

namespace {

sim::PackConfig FastPack()
{
    return QuickPack();
}

class UpgradeE2eTest : public ::testing::TestWithParam<bool> {
protected:
    bool dev() const { return GetParam(); }
    Target target() const { return dev() ? Target::DevFirmware : Target::MainBoard; }

    // Makes the image, connects a pack and presses "Upgrade".
    void start(sim::PackConfig config = FastPack())
    {
        image = MakeObjcopyImage(files, QStringLiteral("fw_01020304ABCD.hex"), 6000, 0x0800F000);
        ASSERT_FALSE(image.isEmpty()) << "objcopy failed";
        lines = image.trimmed().split('\n');
        for (QByteArray& line : lines)
            line = line.trimmed();
        linked = std::make_unique<LinkedPack>(config, app);
        if (dev())
            rbtn_upgrade_wifiClick();
        else
            rbtn_upgrade_main_boardClick();
        opbtnClick(files.path(QStringLiteral("fw_01020304ABCD.hex")));
        upbtnClick();
        ASSERT_EQ(UpgradeActive, 1);
    }
    QString lbl35() const { return app.host.text(QStringLiteral("lbl35")); }
    bool waitForLabel(const char* text, int ms = 30000)
    {
        return WaitUntil([&] { return lbl35() == QLatin1String(text); }, ms);
    }
    void expectControlsBack(bool targets)
    {
        EXPECT_EQ(UpgradeActive, 0);
        EXPECT_FALSE(app.tmr4.enabled());
        EXPECT_EQ(ImageOpen, 0);
        EXPECT_TRUE(app.runControlsEnabled());
        EXPECT_EQ(app.targetButtonsEnabled(), targets);
    }

    UpgradeApp app;
    ImageFiles files;
    QByteArray image;
    QList<QByteArray> lines;
    std::unique_ptr<LinkedPack> linked;
};

TEST_P(UpgradeE2eTest, objcopyImageArrivesCompleteAndByteForByte)
{
    start();
    ASSERT_GE(lines.size(), 300);
    ASSERT_GE(lines.count(":020000040800F2") + lines.count(":020000040801F1"), 2);
    if (dev()) {
        ASSERT_TRUE(waitForLabel("Writed firmware information successfully!")) << lbl35().toStdString();
        EXPECT_EQ(linked->pack.devRecordCount(), static_cast<uint32_t>(lines.size()));
        const std::vector<uint32_t> indices = linked->pack.devRecordIndices();
        ASSERT_EQ(indices.size(), static_cast<size_t>(lines.size()));
        for (uint32_t i = 0; i < indices.size(); ++i)
            ASSERT_EQ(indices[i], i);
        const std::vector<uint8_t> info = linked->pack.devFirmwareInfo();
        ASSERT_GE(info.size(), 6u);
        EXPECT_EQ(std::vector<uint8_t>(info.begin(), info.begin() + 6), (std::vector<uint8_t>{1, 2, 3, 4, 0xAB, 0xCD}));
        expectControlsBack(true);
    } else {
        ASSERT_TRUE(waitForLabel("Upgrade Complete!")) << lbl35().toStdString();
        EXPECT_EQ(AwaitingCheck, 0);
        expectControlsBack(true);
    }
    EXPECT_EQ(QByteArray::fromStdString(linked->pack.imageHex(target(), "\r\n")), image);
    EXPECT_EQ(app.host.memos[QStringLiteral("mmo2")].size(), lines.size());
    EXPECT_EQ(app.progress[QStringLiteral("pgb_upgrade")], (std::pair<int, int>{int(lines.size()), int(lines.size())}));
    EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join(QLatin1Char('\n')).toStdString();
}

// The main board refuses record 10 with status 0x35, the dev firmware with
// an exception response to its 0x9F00 write.
TEST_P(UpgradeE2eTest, writeErrorAtRecordTenEndsTheRunThere)
{
    start();
    // The fault is armed once the pack runs; record 10 is still far ahead.
    linked->pack.setWriteErrorAtRecord(10);
    ASSERT_TRUE(waitForLabel("Writing To Flash Error!")) << lbl35().toStdString();
    expectControlsBack(true);
    EXPECT_EQ(RecordIndex, 10u);
    if (dev()) {
        EXPECT_TRUE(WaitUntil([&] { return app.host.messages.contains(QStringLiteral("Write dev firmware failed!")); }, 5000));
    }
    // Nothing more goes out after the ending.
    const auto received = linked->pack.records(target()).size();
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(linked->pack.records(target()).size(), received);
}

TEST_P(UpgradeE2eTest, silenceAfterRecordFiveEndsByTheWatchdog)
{
    start();
    linked->pack.setSilenceAfterRecord(5);
    if (dev()) {
        // Only counted expiries: the 102nd of the run ends it.
        ASSERT_TRUE(waitForLabel("Device not responding!", 60000)) << lbl35().toStdString();
        EXPECT_EQ(ImageOpen, 1); // this ending keeps the image open
        EXPECT_EQ(UpgradeActive, 0);
        EXPECT_TRUE(app.runControlsEnabled());
        EXPECT_TRUE(app.targetButtonsEnabled());
    } else {
        ASSERT_TRUE(waitForLabel("Device communication timeout!")) << lbl35().toStdString();
        expectControlsBack(true);
    }
    // Record 5 is still answered; the sixth gets no answer.
    EXPECT_EQ(RecordIndex, 6u);
    EXPECT_EQ(linked->pack.records(target()).size(), 6u);
}

// One answer lost, or corrupted, on the line at record 10. The dev firmware
// sends the record again under its index and the run completes; a
// main-board record cannot be sent twice: the run ends, the operator is
// told that the board waits in its boot loader, and pressing "Upgrade" again
// at once runs through (the pack's firmware then answers, and the note on
// the port goes).
TEST_P(UpgradeE2eTest, lostOrCorruptedAnswerIsResentOrLeavesTheBoardReadyForARerun)
{
    for (const bool corrupt : {false, true}) {
        SCOPED_TRACE(corrupt ? "corrupted" : "lost");
        app.host.memos.clear();
        start();
        const QString port = QString::fromStdString(linked->pack.slavePath());
        app.host.setText(QStringLiteral("cbb1"), port);
        if (corrupt)
            linked->pack.setCorruptAnswerAtRecord(10);
        else
            linked->pack.setLoseAnswerAtRecord(10);
        // The memo's lines but the "communication is normal" of every answer.
        const auto notes = [this] {
            QStringList lines = app.host.memos[QStringLiteral("mmo1")];
            lines.removeIf([](const QString& l) { return l.startsWith(QLatin1String("Note: communication is normal!")); });
            return lines.join(QLatin1Char('\n'));
        };
        if (dev()) {
            ASSERT_TRUE(waitForLabel("Writed firmware information successfully!")) << lbl35().toStdString();
            EXPECT_EQ(QByteArray::fromStdString(linked->pack.imageHex(target(), "\r\n")), image);
            EXPECT_TRUE(notes().startsWith(QStringLiteral("Note: record 10 was not answered and is sent again (1 of 2)!(")))
                << notes().toStdString();
            EXPECT_EQ(notes().count(QLatin1Char('\n')), 0) << notes().toStdString();
        } else {
            ASSERT_TRUE(waitForLabel("Device communication timeout!")) << lbl35().toStdString();
            expectControlsBack(true);
            EXPECT_EQ(RecordIndex, 10u);
            EXPECT_EQ(linked->pack.records(target()).size(), 10u); // record 10 went out once
            EXPECT_TRUE(notes().startsWith(BootLoaderWaitText())) << notes().toStdString();
            EXPECT_TRUE(BootLoaderNoteLeft(port));
            // Again at once, with the versions read as the window reads them.
            Hooks.telemetry = [] { TakeReadAnswer(); };
            FirmwareReadBack readBack({300, 800, 5000, 100});
            readBack.install();
            upbtnClick();
            ASSERT_TRUE(WaitUntil([&] { return !readBack.busy(); }, 30000)) << lbl35().toStdString();
            EXPECT_EQ(lbl35(), QStringLiteral("Upgrade Complete!"));
            EXPECT_EQ(QByteArray::fromStdString(linked->pack.imageHex(target(), "\r\n")), image);
            EXPECT_FALSE(BootLoaderNoteLeft(port));
        }
        EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join(QLatin1Char('\n')).toStdString();
        linked.reset();
        RemoveBootLoaderNote(port);
    }
}

// The image is read once, checked, and exactly those bytes are sent. A file
// overwritten in place during the run (another build right after the check;
// a broken one, whose records the check would refuse, half-way through the
// transfer) changes nothing of what reaches the pack.
TEST_P(UpgradeE2eTest, imageRewrittenDuringTheRunIsNotSent)
{
    for (const bool broken : {false, true}) {
        SCOPED_TRACE(broken ? "a broken image during the transfer" : "another build right after the check");
        start();
        QByteArray other = MakeObjcopyImage(files, QStringLiteral("other.hex"), 6000, 0x08020000);
        ASSERT_FALSE(other.isEmpty()) << "objcopy failed";
        if (broken) {
            QList<QByteArray> wrong = other.split('\n');
            for (QByteArray& line : wrong) {
                const QByteArray record = line.trimmed();
                if (record.size() >= 11 && record.mid(7, 2) == "00")
                    line = record.chopped(2) + QByteArray::number((record.right(2).toInt(nullptr, 16) + 1) & 0xFF, 16)
                                                   .rightJustified(2, '0')
                                                   .toUpper()
                        + '\r';
            }
            other = wrong.join('\n');
            ASSERT_TRUE(WaitUntil([] { return RecordIndex >= 20; }, 10000));
        }
        files.write(QStringLiteral("fw_01020304ABCD.hex"), other);
        ASSERT_TRUE(waitForLabel(dev() ? "Writed firmware information successfully!" : "Upgrade Complete!"))
            << lbl35().toStdString();
        EXPECT_EQ(QByteArray::fromStdString(linked->pack.imageHex(target(), "\r\n")), image);
        EXPECT_EQ(app.host.memos[QStringLiteral("mmo2")].size(), lines.size());
        EXPECT_TRUE(app.host.errors.isEmpty()) << app.host.errors.join(QLatin1Char('\n')).toStdString();
        linked.reset();
    }
}

INSTANTIATE_TEST_SUITE_P(BothTargets, UpgradeE2eTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "devFirmware" : "mainBoard"; });

class MainBoardE2eTest : public UpgradeE2eTest {};

TEST_P(MainBoardE2eTest, packThatNeverChecksLeavesTheRunWaitingWithTargetsLocked)
{
    sim::PackConfig config = FastPack();
    config.bootCheckMs = 600000;
    start(config);
    ASSERT_TRUE(waitForLabel("Waiting For Check!")) << lbl35().toStdString();
    expectControlsBack(false);
    EXPECT_EQ(AwaitingCheck, 1);
    EXPECT_TRUE(MainBoardFramingInForce());
    // No watchdog runs any more: the label stays.
    WaitUntil([] { return false; }, 500);
    EXPECT_EQ(lbl35(), QStringLiteral("Waiting For Check!"));
    EXPECT_EQ(QByteArray::fromStdString(linked->pack.imageHex(Target::MainBoard, "\r\n")), image);
}

INSTANTIATE_TEST_SUITE_P(Main, MainBoardE2eTest, ::testing::Values(false));

} // namespace
