#include "RequestBuilder.h"

#include "App.h"
#include "CommRecord.h"
#include "CommandFrame.h"
#include "CommandTable.h"
#include "Convert.h"
#include "FrameRecord.h"
#include "PackTable.h"
#include "ReadRequests.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <optional>

namespace bms {

namespace {

QString Box(const char* control) { return App.ui->text(QString::fromLatin1(control)); }

void Refuse(const char* message) { App.ui->showMessage(QString::fromUtf8(message)); }

// Reads a decimal box for a field that holds [lo, hi]. A value outside is
// refused with `message`, or with the range named when the request has no
// message of its own; a text that is not a number raises EConvertError.
std::optional<int64_t> FieldValue(const QString& text, int64_t lo, int64_t hi, const char* message = nullptr)
{
    const int64_t value = StrToInt64(text);
    if (value >= lo && value <= hi)
        return value;
    if (message)
        Refuse(message);
    else
        App.ui->showMessage(QString::fromLatin1(kRangeMessageFormat).arg(lo).arg(hi));
    return std::nullopt;
}

// The header of a write-multiple-registers request up to its byte count.
std::vector<uint8_t> WriteHeader(uint8_t addr, uint16_t reg, uint16_t quantity, uint8_t byteCount)
{
    std::vector<uint8_t> body;
    PutU8(body, addr);
    PutU8(body, 0x10);
    PutU16(body, reg);
    PutU16(body, quantity);
    PutU8(body, byteCount);
    return body;
}

void Record(uint16_t reg, uint16_t quantity)
{
    LastWriteReg = reg;
    LastWriteQty = quantity;
}

void SendRequest(const std::vector<uint8_t>& body)
{
    SendFramed(MY_COM.TxBuf, body);
    ArmReplyTimeout();
}

uint16_t BlockQuantity(const ReadBlockEntry& block)
{
    const PackRecord& pack = PackTable[0];
    switch (block.count) {
    case BlockCount::TempA: return pack.temp_a_count;
    case BlockCount::TempB: return pack.temp_b_count;
    case BlockCount::Cells: return pack.cell_count;
    case BlockCount::Fixed: break;
    }
    return block.quantity;
}

void ReadBlockRequest()
{
    // Blocks outside 0..7 have no registers; such a read is not sent.
    if (ReadBlock < 0 || ReadBlock >= kReadBlockCount)
        return;
    const ReadBlockEntry& block = kReadBlocks[ReadBlock];
    const uint16_t quantity = BlockQuantity(block);
    std::vector<uint8_t> body;
    PutU8(body, SlaveAddr);
    PutU8(body, 0x04);
    PutU16(body, block.reg);
    PutU16(body, quantity);
    ReadRequests.record(ReadBlock, block.reg, quantity, MonotonicMs());
    SendRequest(body);
}

void ReadInfoRequest()
{
    ReadBlock = 8;
    std::vector<uint8_t> body;
    PutU8(body, SlaveAddr);
    PutU8(body, 0x04);
    PutU16(body, 0x9D01);
    PutU16(body, 0x0026);
    ReadRequests.record(8, 0x9D01, 0x0026, MonotonicMs());
    SendRequest(body);
}

void ValueRequest(const ValueCommand& cmd)
{
    int64_t value = 0;
    if (!(cmd.zeroFlag && *cmd.zeroFlag == 1)) {
        const QString text = Box(cmd.box);
        if (cmd.emptyMessage && text.isEmpty())
            return Refuse(cmd.emptyMessage);
        const std::optional<int64_t> checked = FieldValue(text, cmd.lo, cmd.hi, cmd.rangeMessage);
        if (!checked)
            return;
        value = *checked;
    }
    std::vector<uint8_t> body;
    if (cmd.function == 0x10) {
        body = WriteHeader(SlaveAddr, cmd.reg, cmd.width / 2, cmd.width);
    } else {
        PutU8(body, SlaveAddr);
        PutU8(body, cmd.function);
        PutU8(body, 0x00);
        PutU8(body, cmd.width);
    }
    const auto raw = static_cast<uint32_t>(value);
    if (cmd.width == 4)
        PutU32(body, raw);
    else if (cmd.lowByteOnly)
        PutU16(body, static_cast<uint8_t>(raw));
    else
        PutU16(body, static_cast<uint16_t>(raw));
    if (cmd.recorded)
        Record(cmd.reg, cmd.width / 2);
    SendRequest(body);
}

void BarcodeRequest()
{
    const QString text = Box("edt1");
    if (text.size() != 12)
        return Refuse("Please enter 12 bits 0~9 data!");
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9D05, 6, 12);
    for (const QChar ch : text)
        PutU8(body, static_cast<uint8_t>(0x30 + StrToInt(QString(ch))));
    Record(0x9D05, 6);
    SendRequest(body);
}

// True when every character of `text` is one byte of printable ASCII, the
// only characters a text register holds as they are typed.
bool FitsTextRegister(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() <= 0x7E; });
}

void PackIdRequest()
{
    // A character outside printable ASCII has no byte of its own in the
    // register (it would go out as 0x00 and wipe the pack's serial number).
    const QString text = Box("edt_pack_id");
    if (text.isEmpty() || text.size() > 20 || !FitsTextRegister(text))
        return Refuse("Please enter 1-20 data!");
    const QString padded = text.rightJustified(20, QLatin1Char(' '));
    std::vector<uint8_t> body;
    PutU8(body, SlaveAddr);
    PutU8(body, 0x1B);
    PutU8(body, 0x00);
    PutU8(body, 0x14);
    for (const QChar ch : padded)
        PutU8(body, static_cast<uint8_t>(ch.unicode()));
    SendRequest(body);
}

void ParamRequest()
{
    // Types without a table row have no value source, as type 12.
    const ParamSource& src = ParamType < kParamTypeCount ? kParamSources[ParamType] : kParamSources[12];
    QString valueText;
    if (src.value == ParamValue::Zero)
        valueText = QStringLiteral("0");
    else if (src.value == ParamValue::Box)
        valueText = Box(src.valueBox);
    QString indexText = src.indexBox ? Box(src.indexBox) : QStringLiteral("1");
    if (indexText == QLatin1String("ALL"))
        indexText = QStringLiteral("256");
    if (valueText.isEmpty() || indexText.isEmpty())
        return Refuse("Please enter the value!");

    const std::optional<int64_t> indexNumber = FieldValue(indexText, kParamIndexRange.lo, kParamIndexRange.hi);
    if (!indexNumber)
        return;
    const ValueRange range = ParamRange(src);
    const std::optional<int64_t> number = src.value == ParamValue::Zero ? 0 : FieldValue(valueText, range.lo, range.hi);
    if (!number)
        return;
    const auto index = static_cast<uint8_t>(*indexNumber - 1);
    const auto value = static_cast<uint32_t>(*number);
    const auto quantity = static_cast<uint16_t>(src.width / 2 + 1);
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9CFA, quantity, static_cast<uint8_t>(src.width + 2));
    PutU8(body, ParamType);
    PutU8(body, index);
    if (src.width == 8)
        body.insert(body.end(), 8, uint8_t{0});
    else if (src.width == 4)
        PutU32(body, value);
    else
        PutU16(body, static_cast<uint16_t>(value));
    Record(0x9CFA, quantity);
    SendRequest(body);
}

void EnterBootRequest()
{
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9D00, 1, 2);
    PutU16(body, 0x0030);
    SendFramed(MY_COM.UpgTxBuf, body);
    if (!UpgradePause(300))
        return;
    SendBootCommand(MY_COM.UpgTxBuf, 0x30);
    if (!UpgradePause(50))
        return;
    SendFramed(MY_COM.UpgTxBuf, {SlaveAddr, 0x30});
    ArmReplyTimeout();
}

void FirmwareInfoRequest()
{
    if (DevFirmwareMode != 1) {
        SendBootCommand(MY_COM.UpgTxBuf, 0x37);
        return;
    }
    uint32_t version = 0;
    uint16_t model = 0;
    if (EraseDevPending != 1) {
        version = static_cast<uint32_t>(HexToInt(Box("edt_firmware_version")));
        model = static_cast<uint16_t>(HexToInt(Box("edt_firmware_model")));
    }
    // The package number is judged before it is cut to 16 bits, so that a
    // large number cannot wrap into a valid package.
    const int64_t package = StrToInt64(QLatin1Char('$') + Box("edt_firmware_packpag"));
    uint16_t packageIndex = 0;
    if (package >= 0 && package <= 5) {
        packageIndex = static_cast<uint16_t>(package - 1);
    } else {
        App.ui->showMessage(QStringLiteral("You entered value exceeded, error, upgrade package 1 by default"));
        App.ui->setText(QStringLiteral("edt_firmware_packpag"), QStringLiteral("1"));
    }
    std::vector<uint8_t>& payload = MY_COM.UpgTxBuf;
    payload.clear();
    PutU32(payload, version);
    PutU16(payload, model);
    PutU16(payload, 0);
    PutU16(payload, 38);
    PutU32(payload, 0);
    payload.insert(payload.end(), 16, 0xFF);
    PutU16(payload, 1);
    PutU16(payload, packageIndex);
    SendUpgradePacket(0x9E00, payload.data(), static_cast<uint8_t>(payload.size()));
}

void FirmwareSizeRequest()
{
    if (DevFirmwareMode != 1)
        return;
    std::vector<uint8_t>& payload = MY_COM.UpgTxBuf;
    payload.clear();
    PutU32(payload, RecordIndex);
    SendUpgradePacket(0x9E05, payload.data(), static_cast<uint8_t>(payload.size()));
}

void RtcRequest()
{
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = QTimeZone::systemTimeZone().standardTimeOffset(now);
    const std::array<uint8_t, 8> fields = RtcFields(now, offset);
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9D19, 4, 8);
    body.insert(body.end(), fields.begin(), fields.end());
    Record(0x9D19, 4);
    SendRequest(body);
}

void SeriesParallelRequest()
{
    const QString text = Box("cbb_pretype");
    if (text.isEmpty()) {
        Refuse("Please choose the value!");
    } else if (const std::optional<int64_t> role = FieldValue(text, 0, 127)) {
        // The role number doubled must fit the code byte.
        auto code = static_cast<uint8_t>(*role * 2);
        if (App.ui->colour(QStringLiteral("shp_sp_reset")) == ColLime)
            code = 1;
        std::vector<uint8_t> body = WriteHeader(ParallelAddr, 0x9D1D, 1, 2);
        PutU8(body, 0x00);
        PutU8(body, code);
        Record(0x9D1D, 1);
        SendRequest(body);
    }
}

void SleepTimeRequest()
{
    const QString mul = Box("edt_sleep_time_mul");
    const QString base = Box("edt_sleep_time_base");
    if (mul.isEmpty() || base.isEmpty())
        return Refuse("Please enter value!");
    const std::optional<int64_t> mulValue = FieldValue(mul, 0, 65535);
    if (!mulValue)
        return;
    const std::optional<int64_t> baseValue = FieldValue(base, 0, 65535);
    if (!baseValue)
        return;
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9D25, 2, 4);
    PutU16(body, static_cast<uint16_t>(*mulValue));
    PutU16(body, static_cast<uint16_t>(*baseValue));
    Record(0x9D25, 2);
    SendRequest(body);
}

void CustomerCodeRequest()
{
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9D01, 2, 4);
    PutU32(body, 0x00005E00);
    SendRequest(body);
}

void EraseDevFirmwareRequest()
{
    std::vector<uint8_t> body = WriteHeader(SlaveAddr, 0x9E80, 1, 2);
    PutU16(body, 0x0000);
    // Recorded so that the pack's answer reports the erase to the operator;
    // never in the middle of an upgrade run, whose record write is pending.
    if (UpgradeActive == 0) {
        LastWriteReg = 0x9E80;
        LastWriteQty = 1;
    }
    SendRequest(body);
}

} // namespace

void BuildRequest(uint8_t command)
{
    // Every call prepares reception for a new response, whatever follows; a
    // frame still being assembled is abandoned.
    if (FrameObserversActive() && MY_COM.RxState >= 2 && MY_COM.RxState <= 6 && MY_COM.RxLen > 0)
        RecordRx(FrameKind::Fragment, MY_COM.RxBuf.data(), MY_COM.RxLen,
                 MainBoardFramingInForce() ? Framing::MainBoard : Framing::Ordinary);
    MY_COM.RxState = 1;
    MY_COM.RxLen = 0;
    std::fill_n(MY_COM.RxBuf.begin(), 101, uint8_t{0});

    if (const ValueCommand* value = FindValueCommand(command))
        return ValueRequest(*value);

    switch (command) {
    case cmd_read_block: return ReadBlockRequest();
    case cmd_set_barcode: return BarcodeRequest();
    case cmd_read_info: return ReadInfoRequest();
    case cmd_set_pack_id: return PackIdRequest();
    case cmd_set_param: return ParamRequest();
    case cmd_enter_boot: return EnterBootRequest();
    case cmd_write_fw_info: return FirmwareInfoRequest();
    case cmd_write_fw_size: return FirmwareSizeRequest();
    case cmd_set_rtc: return RtcRequest();
    case cmd_set_series_parallel: return SeriesParallelRequest();
    case cmd_set_sleep_time: return SleepTimeRequest();
    case cmd_set_customer_code: return CustomerCodeRequest();
    case cmd_erase_dev_firmware: return EraseDevFirmwareRequest();
    default: return; // no entry (84 among them): nothing is sent
    }
}

} // namespace bms
