#include "UpgradeRun.h"

#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "CommandFrame.h"
#include "Convert.h"
#include "Errors.h"
#include "FirmwareReadBack.h"
#include "Image.h"
#include "ImageCheck.h"
#include "RequestBuilder.h"
#include "UpgradeHooks.h"
#include "UpgradeProgress.h"

#include <QLoggingCategory>
#include <vector>

Q_LOGGING_CATEGORY(lcUpgrade, "bms.upgrade", QtWarningMsg)

namespace bms {

uint8_t Rebooting = 0;
uint8_t WatchdogTicks = 0;

namespace {

constexpr uint16_t kRecordRegister = 0x9F00;

std::vector<uint8_t> RecordBuf; // the image record being sent
std::vector<uint8_t> PacketBuf; // record index and record (dev firmware)
int ImageRecords = 0;           // records of the image checked at Start

void Say(const QString& text)
{
    qCDebug(lcUpgrade) << "lbl35:" << text;
    App.ui->setText(QStringLiteral("lbl35"), text);
}

void SetTargetButtons(bool on)
{
    App.ui->setEnabled(QStringLiteral("rbtn_upgrade_main_board"), on);
    App.ui->setEnabled(QStringLiteral("rbtn_upgrade_wifi"), on);
}

void SetFileControls(bool on)
{
    App.ui->setEnabled(QStringLiteral("opbtn"), on);
    App.ui->setEnabled(QStringLiteral("upbtn"), on);
    App.ui->setEnabled(QStringLiteral("edt6"), on);
}

void RestartWatchdog(int ms)
{
    App.tmr4->setInterval(ms);
    App.tmr4->setEnabled(true);
}

// The part every ending shares: the run is over, the operator gets the
// file controls back, the watchdog stops, the progress shows what was sent.
void EndRun(const QString& text, bool targetsBack)
{
    if (targetsBack)
        SetTargetButtons(true);
    Say(text);
    ProgressFinished(static_cast<int>(RecordIndex));
    WatchdogTicks = 0;
    UpgradeActive = 0;
    Rebooting = 0;
    SetFileControls(true);
    App.tmr4->setEnabled(false);
}

// A run-time error inside a step: the run ends there, with every control
// the run disabled given back, and the error goes to the general handler.
void AbortRun(const QString& reason)
{
    qCWarning(lcUpgrade) << "upgrade run stopped:" << reason;
    EndRun(QStringLiteral("Upgrade Stopped! ") + reason, true);
    CloseImage();
    App.ui->showError(FormatErrorMessage(reason));
}

template <class Step>
void Guarded(Step&& step)
{
    try {
        step();
    } catch (const Error& e) {
        AbortRun(e.message());
    } catch (const std::exception& e) {
        AbortRun(QString::fromUtf8(e.what()));
    }
}

void StopSampling()
{
    if (!Sampling)
        return;
    if (UpgradeHooks.stopSampling) {
        UpgradeHooks.stopSampling();
        return;
    }
    App.tmr1->setEnabled(false);
    App.tmr2->setEnabled(false);
    Sampling = 0;
    AwaitingCheck = 0;
}

// The end of a dev-firmware image: the pack is told how many records it got.
void WriteComplete()
{
    EndRun(QStringLiteral("Write Complete!"), true);
    CloseImage();
    AwaitingCheck = 1;
    BuildRequest(cmd_write_fw_size);
}

void SendNextRecord()
{
    const QByteArray line = NextImageLine();
    const bool dev = DevFirmwareMode == 1;
    if (line.isEmpty() && dev) {
        WriteComplete();
        return;
    }
    QString problem = line.isEmpty()
        ? QStringLiteral("the image ended before the device ended the transfer")
        : ConvertLine(line, RecordBuf);
    if (problem.isEmpty() && RecordBuf[1] > MaxRecordData(dev))
        problem = QStringLiteral("the record holds %1 data bytes, more than the %2 that fit")
                      .arg(RecordBuf[1])
                      .arg(MaxRecordData(dev));
    if (!problem.isEmpty())
        throw EConvertError(QStringLiteral("Image line %1: %2").arg(ImageLineNumber()).arg(problem));

    if (dev) {
        PacketBuf.assign(4, 0);
        WriteU32BE(RecordIndex, PacketBuf, 0);
        PacketBuf.insert(PacketBuf.end(), RecordBuf.begin(), RecordBuf.end());
        SendUpgradePacket(kRecordRegister, PacketBuf.data(), static_cast<uint8_t>(PacketBuf.size()));
    } else {
        WriteFrame(RecordBuf.data(), RecordBuf.size(), Framing::MainBoard);
    }
    ++RecordIndex;
    App.ui->appendLine(QStringLiteral("mmo2"), QString::fromLatin1(line));
    ProgressRecordSent(static_cast<int>(RecordIndex));
}

void DeviceRebooting()
{
    App.tmr4->setEnabled(false);
    Say(QStringLiteral("Device Rebooting!"));
    Rebooting = 1;
    RestartWatchdog(2000);
}

void Erase()
{
    OpenImage();
    App.ui->clearMemo(QStringLiteral("mmo2"));
    RecordIndex = 0;
    ProgressStart(ImageRecords);
    App.tmr4->setEnabled(false);
    BuildRequest(cmd_write_fw_info);
    Say(QStringLiteral("Erase Flash!"));
    RestartWatchdog(5000);
}

void FirstWrite()
{
    App.tmr4->setEnabled(false);
    Say(QStringLiteral("Writing To Flash!"));
    BlockingPause(500);
    SendNextRecord();
    if (UpgradeActive)
        RestartWatchdog(1000);
}

void NextWrite()
{
    App.tmr4->setEnabled(false);
    Say(QStringLiteral("Writing To Flash!"));
    SendNextRecord();
    // The end of a dev-firmware image has just ended the run: the watchdog
    // stays off.
    if (UpgradeActive)
        RestartWatchdog(200);
}

void WriteError()
{
    EndRun(QStringLiteral("Writing To Flash Error!"), true);
    CloseImage();
}

void WaitingForCheck()
{
    EndRun(QStringLiteral("Waiting For Check!"), false);
    CloseImage();
    AwaitingCheck = 1;
    if (FirmwareReadBack* readBack = InstalledReadBack())
        readBack->transferEnded();
}

// The dev firmware's erase request reads these boxes as hexadecimal; a box
// that is not a number is reported before the run starts rather than after
// it has taken the controls.
bool FirmwareInfoConverts()
{
    try {
        HexToUInt32(App.ui->text(QStringLiteral("edt_firmware_version")));
        HexToInt(App.ui->text(QStringLiteral("edt_firmware_model")));
        HexToInt(App.ui->text(QStringLiteral("edt_firmware_packpag")));
    } catch (const EConvertError& e) {
        App.ui->showError(FormatErrorMessage(e.message()));
        return false;
    }
    return true;
}

// The run proper, once sampling has stopped (and the versions are read).
void StartRun()
{
    const bool dev = DevFirmwareMode == 1;
    SetTargetButtons(false);
    WatchdogTicks = 0;
    RecordIndex = 0;
    UpgradeActive = 1;
    Rebooting = 0;
    CloseImage();
    Say(QStringLiteral("Start Rebooting!"));
    ProgressStart(ImageRecords);

    Guarded([dev] {
        if (dev) {
            EraseDevPending = 0;
            Erase();
        } else {
            BuildRequest(cmd_enter_boot);
        }
    });
    if (!UpgradeActive)
        return;
    SetFileControls(false);
    RestartWatchdog(100);
}

} // namespace

void upbtnClick()
{
    if (UpgradeActive)
        return;
    // With the port closed nothing would reach the pack; the run would only
    // wait for the watchdog to give up.
    if (PortOpen == 0) {
        App.ui->showMessage(QStringLiteral("Please open the serial port first!"));
        return;
    }
    const bool dev = DevFirmwareMode == 1;
    const ImageCheckResult check = CheckImage(DlgFileName, dev);
    if (!check.ok()) {
        qCWarning(lcUpgrade) << check.problem;
        // Nothing of an earlier run belongs beside the refused file.
        Say(QString());
        ProgressClear();
        App.ui->showMessage(check.problem);
        return;
    }
    if (dev && !FirmwareInfoConverts())
        return;
    if (!App.ui->askYesNo(QStringLiteral("Warning"), QStringLiteral("Whether to restart the device and update?")))
        return;
    StopSampling();
    ImageRecords = check.records;

    FirmwareReadBack* readBack = InstalledReadBack();
    if (readBack && !dev) {
        // The pack's versions are read first, for the comparison after the
        // upgrade; the controls are the run's already.
        SetTargetButtons(false);
        SetFileControls(false);
        readBack->beforeRun(StartRun);
        return;
    }
    if (readBack)
        readBack->cancel();
    StartRun();
}

void RunUpgradeStep(UpgradeStep step)
{
    if (!UpgradeActive)
        return;
    qCDebug(lcUpgrade) << "step" << static_cast<int>(step) << "record" << RecordIndex;
    Guarded([step] {
        switch (step) {
        case UpgradeStep::DeviceRebooting: DeviceRebooting(); break;
        case UpgradeStep::Erase: Erase(); break;
        case UpgradeStep::FirstWrite: FirstWrite(); break;
        case UpgradeStep::NextWrite: NextWrite(); break;
        case UpgradeStep::WriteError: WriteError(); break;
        case UpgradeStep::WaitingForCheck: WaitingForCheck(); break;
        }
    });
}

void tmr4Timer()
{
    if (!UpgradeActive)
        return;
    if (Rebooting == 0 && WatchdogTicks <= 100) {
        if (WatchdogTicks <= 10 && DevFirmwareMode == 0) {
            Guarded([] { BuildRequest(cmd_enter_boot); });
            if (!UpgradeActive)
                return;
            RestartWatchdog(100);
        }
        ++WatchdogTicks;
        return;
    }
    if (WatchdogTicks > 100) {
        EndRun(QStringLiteral("Device not responding!"), true);
        return;
    }
    EndRun(QStringLiteral("Device communication timeout!"), true);
    if (ImageOpen)
        CloseImage();
}

void btn_erase_dev_firmwareClick()
{
    EraseDevPending = 1;
    App.tmr1->setEnabled(false);
    Delay(200);
    BuildRequest(cmd_erase_dev_firmware);
    if (Sampling) {
        App.tmr1->setInterval(SampleIntervalMs);
        App.tmr1->setEnabled(true);
    }
}

void ResetUpgradeRun()
{
    if (FirmwareReadBack* readBack = InstalledReadBack())
        readBack->cancel();
    Rebooting = 0;
    WatchdogTicks = 0;
    ImageRecords = 0;
    CloseImage();
    DlgFileName.clear();
    RecordBuf.clear();
    PacketBuf.clear();
}

} // namespace bms
