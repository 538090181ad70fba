#include "UpgradeRun.h"

#include "App.h"
#include "BootLoaderNote.h"
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
#include <QTime>
#include <algorithm>
#include <cmath>
#include <vector>

Q_LOGGING_CATEGORY(lcUpgrade, "bms.upgrade", QtWarningMsg)

namespace bms {

uint8_t Rebooting = 0;
uint8_t WatchdogTicks = 0;

namespace {

constexpr uint16_t kRecordRegister = 0x9F00;
// The record deadline of the transfer; a dev-firmware record is sent again
// after this many of them without an answer (and never before its bytes can
// have crossed the line three times).
constexpr int kRecordDeadlineMs = 200;
constexpr int kResendAfterDeadlines = 5;

std::vector<uint8_t> RecordBuf; // the image record being sent
std::vector<uint8_t> PacketBuf; // record index and record (dev firmware)
ImageCheckResult RunImage;      // the image checked at Start: the run sends its bytes
bool BootLoaderEntered = false; // the main board has answered from its boot loader
bool RecordUnanswered = false;  // a dev-firmware record waits for its answer
int RecordDeadlines = 0;        // deadlines it has passed
int RecordResends = 0;          // times it was sent again
int RecordRetries = kDefaultRecordRetries; // resends allowed a record

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

void TransferReads(bool immediate)
{
    if (UpgradeHooks.transferReads)
        UpgradeHooks.transferReads(immediate);
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
    RecordUnanswered = false;
    SetFileControls(true);
    App.tmr4->setEnabled(false);
    TransferReads(false);
}

// Before an ending that is no success. The run is over for the read-back
// too. A main board that answered from its boot loader stays there until an
// upgrade runs through: the operator is told (ahead of the ending, which may
// end the command line), and the port keeps a note of it for later
// time-outs.
void RunFailed()
{
    if (FirmwareReadBack* readBack = InstalledReadBack())
        readBack->runFailed();
    if (DevFirmwareMode == 1 || !BootLoaderEntered)
        return;
    LeaveBootLoaderNote(PortBoxName());
    App.ui->appendLine(QStringLiteral("mmo1"), BootLoaderWaitText() + QStringLiteral("(") +
                                                   QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) +
                                                   QLatin1Char(')'));
}

// A run-time error inside a step: the run ends there, with every control
// the run disabled given back, and the error goes to the general handler.
void AbortRun(const QString& reason)
{
    qCWarning(lcUpgrade) << "upgrade run stopped:" << reason;
    RunFailed();
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
        RecordUnanswered = true;
        RecordDeadlines = 0;
        RecordResends = 0;
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
    OpenImage(RunImage.image);
    App.ui->clearMemo(QStringLiteral("mmo2"));
    RecordIndex = 0;
    ProgressStart(RunImage.records);
    App.tmr4->setEnabled(false);
    BuildRequest(cmd_write_fw_info);
    Say(QStringLiteral("Erase Flash!"));
    RestartWatchdog(5000);
}

void FirstWrite()
{
    App.tmr4->setEnabled(false);
    Say(QStringLiteral("Writing To Flash!"));
    if (!UpgradePause(500))
        return;
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
    RunFailed();
    EndRun(QStringLiteral("Writing To Flash Error!"), true);
    CloseImage();
}

// Deadlines a dev-firmware record waits for its answer before it is sent
// again: five, or as many as three crossings of the line by the packet and
// its answer take at the port's speed.
int ResendAfterDeadlines()
{
    const int baud = App.ui->text(QStringLiteral("cbb2")).toInt();
    if (baud <= 0)
        return kResendAfterDeadlines;
    const double lineMs = static_cast<double>(PacketBuf.size() + 9 + 8) * 10.0 * 1000.0 / baud;
    return std::max(kResendAfterDeadlines, static_cast<int>(std::ceil(3.0 * lineMs / kRecordDeadlineMs)));
}

// A watchdog expiry while a dev-firmware record waits for its answer. An
// answer lost or corrupted on the line leaves the pack with the record and
// the run without its order to go on: once the wait is long against any
// answer's time, the record goes out again under its index, which makes the
// pack take it in the place of the first (a main-board record has no index:
// the board would write it twice, so it is never resent). The wait is long
// so that a slow answer to the first sending is not taken for the answer to
// the next record. The run's own count of expiries goes on meanwhile.
void RecordDeadlinePassed()
{
    if (!RecordUnanswered || ++RecordDeadlines < ResendAfterDeadlines() || RecordResends >= RecordRetries)
        return;
    RecordDeadlines = 0;
    ++RecordResends;
    qCInfo(lcUpgrade) << "record" << RecordIndex << "sent again";
    SendUpgradePacket(kRecordRegister, PacketBuf.data(), static_cast<uint8_t>(PacketBuf.size()));
    App.ui->appendLine(QStringLiteral("mmo1"), QStringLiteral("Note: record %1 was not answered and is sent again (%2 of %3)!(%4)")
                                                   .arg(RecordIndex)
                                                   .arg(RecordResends)
                                                   .arg(RecordRetries)
                                                   .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))));
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
    BootLoaderEntered = false;
    CloseImage();
    Say(QStringLiteral("Start Rebooting!"));
    ProgressStart(RunImage.records);
    // The transfer's answers are handed on as soon as they are in.
    TransferReads(true);

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

// "Upgrade" pressed; `given` is an image the caller has read and checked,
// else the file DlgFileName names is read in and checked now. The run sends
// the checked bytes: the file is not read again.
void PressUpgrade(const ImageCheckResult* given)
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
    ImageCheckResult check;
    if (!given)
        check = CheckImage(DlgFileName, dev);
    else if (given->ok() && given->devFirmware != dev)
        check = CheckImageText(given->image, dev, given->fileName);
    else
        check = *given;
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
    RunImage = std::move(check);

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

} // namespace

void upbtnClick()
{
    PressUpgrade(nullptr);
}

void upbtnClickChecked(const ImageCheckResult& checked)
{
    PressUpgrade(&checked);
}

void RunUpgradeStep(UpgradeStep step)
{
    if (!UpgradeActive)
        return;
    // During one of the run's pauses the step waits for the step that
    // pauses, as it would behind a blocking pause.
    if (HoldDuringUpgradePause([step] { RunUpgradeStep(step); }))
        return;
    if (DevFirmwareMode == 0)
        BootLoaderEntered = true;
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
    // An expiry during one of the run's pauses is dropped, as no expiry is
    // handled during a blocking pause; the watchdog runs on after it.
    if (!UpgradeActive || InUpgradePause())
        return;
    if (Rebooting == 0 && WatchdogTicks <= 100) {
        if (WatchdogTicks <= 10 && DevFirmwareMode == 0) {
            Guarded([] { BuildRequest(cmd_enter_boot); });
            if (!UpgradeActive)
                return;
            RestartWatchdog(100);
        } else if (DevFirmwareMode == 1) {
            Guarded(RecordDeadlinePassed);
        }
        ++WatchdogTicks;
        return;
    }
    if (WatchdogTicks > 100) {
        RunFailed();
        EndRun(QStringLiteral("Device not responding!"), true);
        return;
    }
    RunFailed();
    EndRun(QStringLiteral("Device communication timeout!"), true);
    if (ImageOpen)
        CloseImage();
}

void btn_erase_dev_firmwareClick()
{
    if (UpgradeRefuses())
        return;
    EraseDevPending = 1;
    App.tmr1->setEnabled(false);
    Delay(200);
    BuildRequest(cmd_erase_dev_firmware);
    if (Sampling) {
        App.tmr1->setInterval(SampleIntervalMs);
        App.tmr1->setEnabled(true);
    }
}

bool UpgradeRefuses()
{
    const FirmwareReadBack* readBack = InstalledReadBack();
    if (UpgradeActive == 0 && !(readBack && readBack->busy()))
        return false;
    App.ui->showMessage(QStringLiteral("Please wait until the upgrade has ended!"));
    return true;
}

void UpgradePortClosed()
{
    StopUpgradeRun(QStringLiteral("The port was closed."));
}

void StopUpgradeRun(const QString& reason)
{
    const QString stopped = QStringLiteral("Upgrade Stopped! ") + reason;
    if (UpgradeActive) {
        RunFailed();
        EndRun(stopped, true);
        CloseImage();
        return;
    }
    // The versions are being read before the run: it does not start.
    FirmwareReadBack* readBack = InstalledReadBack();
    if (readBack && readBack->startingRun()) {
        readBack->cancel();
        SetTargetButtons(true);
        SetFileControls(true);
        Say(stopped);
    }
}

void SetRecordRetries(int retries)
{
    RecordRetries = retries;
}

void ResetUpgradeRun()
{
    if (FirmwareReadBack* readBack = InstalledReadBack())
        readBack->cancel();
    Rebooting = 0;
    WatchdogTicks = 0;
    RunImage = {};
    RecordRetries = kDefaultRecordRetries;
    BootLoaderEntered = false;
    RecordUnanswered = false;
    CloseImage();
    DlgFileName.clear();
    RecordBuf.clear();
    PacketBuf.clear();
}

} // namespace bms
