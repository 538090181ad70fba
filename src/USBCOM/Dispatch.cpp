#include "Receive.h"

#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "FrameRecord.h"
#include "Hooks.h"
#include "ReadRequests.h"

#include <QLoggingCategory>
#include <QTime>
#include <algorithm>
#include <climits>

namespace bms {

namespace {

Q_LOGGING_CATEGORY(lcLink, "bms.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLinkRaw, "bms.link.raw", QtWarningMsg) // every complete frame in hexadecimal

// Response codes that only show a message.
struct CodeMessage {
    uint8_t code;
    const char* message;
};

const CodeMessage kCodeMessages[] = {
    {17, "Current calibration completed!"},
    {145, "Current calibration failed!"},
    {18, "Set baud rate successfully!"},
    {146, "Set baud rate failed!"},
    {19, "Modified barcode successfully!"},
    {20, "Set rated capacity completely!"},
    {148, "Set rated capacity failed"},
    {27, "Modified PACK ID successfully!"},
    {155, "Modified PACK ID failed!"},
    {28, "Modified Parameter successfully!"},
    {156, "Modified Parameter failed!"},
    {57, "Set remain capacity completely!"},
    {163, "Set remain capacity failed"},
    {82, "Set upload interval time successfully!"},
    {210, "Set upload interval time failed!"},
    {83, "RTC Time Calibration Successful!"},
    {211, "RTC Time Calibration failed!"},
    {84, "Setup function module successfully!"},
    {212, "Setup function module failed!"},
    {86, "Setup serial parallel successfully!"},
    {214, "Setup serial parallel failed!"},
    {88, "Setup protocol type successfully!"},
    {216, "Setup protocol type failed!"},
};

// Response codes 0x31..0x36 drive these upgrade steps, in order.
const UpgradeStep kUpgradeSteps[] = {
    UpgradeStep::DeviceRebooting, UpgradeStep::Erase,      UpgradeStep::FirstWrite,
    UpgradeStep::NextWrite,       UpgradeStep::WriteError, UpgradeStep::WaitingForCheck,
};

bool RunUpgradeStep(uint8_t code)
{
    if (code < 0x31 || code > 0x36)
        return false;
    if (Hooks.upgradeStep)
        Hooks.upgradeStep(kUpgradeSteps[code - 0x31]);
    return true;
}

// Response code 0x38, directly (which ends the wait for the check) or
// carried in a code-81 frame (which does not).
void UpgradeComplete(bool endsCheck)
{
    App.ui->setEnabled(QStringLiteral("rbtn_upgrade_main_board"), true);
    App.ui->setEnabled(QStringLiteral("rbtn_upgrade_wifi"), true);
    App.ui->setText(QStringLiteral("lbl35"), QStringLiteral("Upgrade Complete!"));
    if (endsCheck)
        AwaitingCheck = 0;
    if (Hooks.upgradeComplete)
        Hooks.upgradeComplete();
}

// Response code 81 carries a frame at bytes 4..4+k of the received frame,
// k being byte 3. It counts only when those k + 1 bytes lie before the
// received frame's own CRC, are a frame of at least 3 bytes, and pass their
// own CRC check.
void DispatchCarriedFrame()
{
    const int received = MY_COM.RxLen;
    if (received < 4)
        return;
    const int k = MY_COM.RxBuf[3];
    const int length = k + 1;
    if (length < 3 || 4 + length > received - 2)
        return;
    std::copy_n(MY_COM.RxBuf.begin() + 4, length, MY_COM.SubRxBuf.begin());
    MY_COM.SubRxLen = static_cast<uint16_t>(length);
    if (!CrcMatches(MY_COM.SubRxBuf.data(), MY_COM.SubRxLen))
        return;
    const uint8_t code = MY_COM.SubRxBuf[1];
    MY_COM.RespFunc = code;
    if (RunUpgradeStep(code))
        return;
    if (code == 0x38)
        UpgradeComplete(false);
}

void Act(uint8_t code)
{
    switch (code) {
    case 0x04:
        // The consumer matches the answer to its request and decodes it
        // (TakeReadAnswer).
        if (Hooks.telemetry)
            Hooks.telemetry();
        return;
    case 0x84:
        if (Hooks.readRefused)
            Hooks.readRefused();
        return;
    case 0x10: return ReportWriteSuccess();
    case 0x90: return ReportWriteFailure();
    case 23:
        if (Hooks.deviceInfo)
            Hooks.deviceInfo();
        App.ui->showMessage(QStringLiteral("Get the information completely!"));
        return;
    case 0x38: return UpgradeComplete(true);
    case 0x51: return DispatchCarriedFrame();
    default: break;
    }
    if (RunUpgradeStep(code))
        return;
    for (const CodeMessage& entry : kCodeMessages) {
        if (entry.code == code) {
            App.ui->showMessage(QString::fromLatin1(entry.message));
            return;
        }
    }
}

int SinceMatched(const ReadMatch& match)
{
    return match.kind == ReadMatchKind::Matched ? static_cast<int>(MonotonicMs() - match.request.sentMs) : -1;
}

// Milliseconds since the request a received frame answers, as the dispatcher
// itself matches it: a read answer or refusal by the read requests
// (ReadRequests.h), a write's acknowledgement by the write of its register
// and quantity, a write's exception by the write it is reported for (the
// last write sent when that is not the recorded one), anything else (the
// boot loader's status frames, the pack's own functions) by the last frame
// sent. -1 when the dispatcher matches it to no request: a time from another
// request would be wrong.
int SinceRequest(const uint8_t* frame, int length, bool mainBoard)
{
    if (mainBoard || length < 5)
        return MsSinceLastTx();
    const int64_t now = MonotonicMs();
    switch (frame[1]) {
    case 0x04: return SinceMatched(ReadRequests.peekAnswer(frame[2], now));
    case 0x84: return SinceMatched(ReadRequests.peekRefusal(now));
    case 0x10: return length >= 8 ? MsSinceWrite(ReadU16BE(frame, 2), ReadU16BE(frame, 4)) : -1;
    case 0x90: {
        const std::vector<uint8_t>& tx = MY_COM.TxBuf;
        const bool unrecordedSent = UpgradeActive == 0 && tx.size() >= 9 && tx[1] == 0x10 && ReadU16BE(tx.data(), 2) != LastWriteReg;
        if (unrecordedSent)
            return MsSinceWrite(ReadU16BE(tx.data(), 2), ReadU16BE(tx.data(), 4));
        return LastWriteReg != 0 ? MsSinceWrite(LastWriteReg) : -1;
    }
    default: return MsSinceLastTx();
    }
}

void RecordFrame(bool good, int length)
{
    if (!FrameObserversActive())
        return;
    const bool mainBoard = MainBoardFramingInForce();
    RecordRx(good ? FrameKind::Frame : FrameKind::BadCrc, MY_COM.RxBuf.data(), static_cast<size_t>(length),
             mainBoard ? Framing::MainBoard : Framing::Ordinary, SinceRequest(MY_COM.RxBuf.data(), length, mainBoard));
}

} // namespace

void DispatchResponse()
{
    const QString now = QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
    const int length = std::min<int>(MY_COM.RxLen, kMaxFrame);
    qCDebug(lcLinkRaw, "rx %s", BytesToHex(MY_COM.RxBuf.data(), static_cast<size_t>(length)).c_str());

    const bool good = CrcMatches(MY_COM.RxBuf.data(), length);
    RecordFrame(good, length);
    if (good) {
        CrcErrorCount = 0;
        App.ui->appendLine(QStringLiteral("mmo1"), QStringLiteral("Note: communication is normal!(") + now + QLatin1Char(')'));
        App.ui->setColour(QStringLiteral("shp9"), ColLime);
        // Read the code now: a handler may re-enter the event loop, and a
        // nested dispatch overwrites the record.
        const uint8_t code = MainBoardFramingInForce() ? MY_COM.RxBuf[2] : MY_COM.RxBuf[1];
        MY_COM.RespFunc = code;
        if (Hooks.frameAccepted)
            Hooks.frameAccepted();
        Act(code);
        MY_COM.RespFunc = 0;
    } else {
        qCDebug(lcLink, "CRC check failed on a %d-byte frame", length);
        if (CrcErrorCount < INT_MAX)
            ++CrcErrorCount;
    }
    if (CrcErrorCount > 10)
        App.ui->appendLine(QStringLiteral("mmo1"), QStringLiteral("Note: error check code received!(") + now + QLatin1Char(')'));
}

} // namespace bms
