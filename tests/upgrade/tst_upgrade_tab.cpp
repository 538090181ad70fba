// The target radio buttons and the "Open" button of the Device Upgrade tab.
#include "CommRecord.h"
#include "Errors.h"
#include "UpgradeProgress.h"
#include "UpgradeTab.h"
#include "UpgradeTestSupport.h"

#include <gtest/gtest.h>

using namespace bms;
using namespace bms::test;

namespace {

const QString kFile = QStringLiteral("C:/fw/dev_01020304ABCD.hex");

class UpgradeTabTest : public ::testing::Test {
protected:
    QString text(const char* control) const { return app.host.text(QLatin1String(control)); }
    UpgradeApp app;
};

TEST_F(UpgradeTabTest, targetButtonsShowAndHideTheDevFirmwareControls)
{
    rbtn_upgrade_wifiClick();
    EXPECT_EQ(DevFirmwareMode, 1);
    for (const char* name : {"lbl_dev_firmware", "edt_firmware_version", "lbl_firmware_version", "lbl_firmware_model",
                             "btn_erase_dev_firmware", "Label40", "edt_firmware_packpag", "Label41", "Label44"})
        EXPECT_TRUE(app.host.isVisible(QLatin1String(name))) << name;
    EXPECT_FALSE(app.host.isVisible(QStringLiteral("edt_firmware_model")));
    // Before any file has been chosen, version and type become empty.
    EXPECT_EQ(app.host.texts.value(QStringLiteral("edt_firmware_version"), QStringLiteral("x")), QString());
    rbtn_upgrade_main_boardClick();
    EXPECT_EQ(DevFirmwareMode, 0);
    EXPECT_FALSE(app.host.isVisible(QStringLiteral("Label44")));
    EXPECT_FALSE(app.host.isVisible(QStringLiteral("btn_erase_dev_firmware")));
}

TEST_F(UpgradeTabTest, fileChosenForTheMainBoardFillsVersionAndTypeOnlyOnSwitching)
{
    app.host.setText(QStringLiteral("Label44"), QStringLiteral("7"));
    rbtn_upgrade_main_boardClick();
    opbtnClick(kFile);
    EXPECT_EQ(text("edt6"), kFile);
    EXPECT_TRUE(app.host.enabled.value(QStringLiteral("upbtn")));
    EXPECT_FALSE(app.host.texts.contains(QStringLiteral("edt_firmware_version")));
    EXPECT_EQ(text("Label44"), QStringLiteral("7"));
    rbtn_upgrade_wifiClick();
    EXPECT_EQ(text("edt_firmware_version"), QStringLiteral("01020304"));
    EXPECT_EQ(text("edt_firmware_model"), QStringLiteral("ABCD"));
    EXPECT_EQ(text("Label44"), QStringLiteral("7"));
}

TEST_F(UpgradeTabTest, fileChosenForTheDevFirmwareShowsTheTypeInDecimal)
{
    rbtn_upgrade_wifiClick();
    opbtnClick(kFile);
    EXPECT_EQ(text("edt_firmware_version"), QStringLiteral("01020304"));
    EXPECT_EQ(text("Label44"), QStringLiteral("43981"));
    EXPECT_EQ(DlgFileName, kFile);
}

TEST_F(UpgradeTabTest, cancelledDialogChangesNothing)
{
    rbtn_upgrade_wifiClick();
    opbtnClick(kFile);
    app.host.setEnabled(QStringLiteral("upbtn"), false);
    opbtnClick(QString());
    EXPECT_EQ(DlgFileName, kFile);
    EXPECT_EQ(text("edt6"), kFile);
    EXPECT_FALSE(app.host.isEnabled(QStringLiteral("upbtn")));
}

TEST_F(UpgradeTabTest, typeThatIsNotHexRaisesAfterTheFileNameAndUpgradeButtonWereSet)
{
    rbtn_upgrade_wifiClick();
    app.host.setText(QStringLiteral("Label44"), QStringLiteral("43981"));
    app.host.setEnabled(QStringLiteral("upbtn"), false);
    const QString name = QStringLiteral("/fw/dev_0102030412XY.hex");
    EXPECT_THROW(opbtnClick(name), EConvertError);
    EXPECT_EQ(text("edt6"), name);
    EXPECT_TRUE(app.host.isEnabled(QStringLiteral("upbtn")));
    EXPECT_EQ(text("edt_firmware_model"), QStringLiteral("12XY"));
    EXPECT_EQ(text("Label44"), QStringLiteral("43981"));
}

} // namespace

namespace {

TEST(UpgradeProgress, durationsReadAsMinutesAndSeconds)
{
    EXPECT_EQ(bms::FormatDuration(0), QStringLiteral("0:00"));
    EXPECT_EQ(bms::FormatDuration(61499), QStringLiteral("1:01"));
    EXPECT_EQ(bms::FormatDuration(3661000), QStringLiteral("1:01:01"));
}

TEST_F(UpgradeTabTest, progressLabelEstimatesTheRemainingTimeWhileRecordsAreLeft)
{
    bms::ProgressStart(4);
    EXPECT_EQ(text("lbl_upgrade_progress"), QStringLiteral("Records: 0 / 4 (0%)"));
    bms::ProgressRecordSent(1);
    EXPECT_FALSE(text("lbl_upgrade_progress").contains(QStringLiteral("Remaining")));
    bms::ProgressRecordSent(2);
    EXPECT_TRUE(text("lbl_upgrade_progress").startsWith(QStringLiteral("Records: 2 / 4 (50%)  Elapsed: 0:00  Remaining: about ")))
        << text("lbl_upgrade_progress").toStdString();
    bms::ProgressRecordSent(4);
    EXPECT_FALSE(text("lbl_upgrade_progress").contains(QStringLiteral("Remaining")));
    EXPECT_EQ((app.progress[QStringLiteral("pgb_upgrade")]), (std::pair<int, int>{4, 4}));
}

} // namespace
