#include "UpgradeTab.h"

#include "App.h"
#include "CommRecord.h"
#include "Convert.h"
#include "Image.h"
#include "UpgradeProgress.h"

namespace bms {

// Controls that only the dev-firmware target shows. The type box
// edt_firmware_model is never shown to the operator.
static const char* const kDevFirmwareControls[] = {
    "lbl_dev_firmware", "edt_firmware_version", "lbl_firmware_version", "lbl_firmware_model",
    "btn_erase_dev_firmware", "Label40", "edt_firmware_packpag", "Label41", "Label44",
};

static void ShowDevFirmwareControls(bool on)
{
    for (const char* name : kDevFirmwareControls)
        App.ui->setVisible(QLatin1String(name), on);
    App.ui->setVisible(QStringLiteral("edt_firmware_model"), false);
}

static FirmwareName FillVersionAndType(const QString& fileName)
{
    const FirmwareName name = NamingRule(fileName);
    App.ui->setText(QStringLiteral("edt_firmware_version"), name.version);
    App.ui->setText(QStringLiteral("edt_firmware_model"), name.type);
    return name;
}

void rbtn_upgrade_main_boardClick()
{
    DevFirmwareMode = 0;
    ShowDevFirmwareControls(false);
}

void rbtn_upgrade_wifiClick()
{
    DevFirmwareMode = 1;
    ShowDevFirmwareControls(true);
    FillVersionAndType(DlgFileName);
}

void opbtnClick(const QString& fileName)
{
    if (fileName.isEmpty())
        return;
    DlgFileName = fileName;
    App.ui->setText(QStringLiteral("edt6"), fileName);
    // The status and progress of an earlier run do not describe this file.
    App.ui->setText(QStringLiteral("lbl35"), QString());
    ProgressClear();
    App.ui->setEnabled(QStringLiteral("upbtn"), true);
    if (DevFirmwareMode != 1)
        return;
    const FirmwareName name = FillVersionAndType(fileName);
    App.ui->setText(QStringLiteral("Label44"), QString::number(static_cast<uint32_t>(HexToInt(name.type))));
}

} // namespace bms
