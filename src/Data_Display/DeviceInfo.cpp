// The device-information block (registers 0x9D01..0x9D26): customer code,
// rated capacity, barcode, manufacturer, serial number, clock, protocol type,
// UID with its CRC and the sleep time, written straight into the controls.
#include "App.h"
#include "Clocks.h"
#include "Codec.h"
#include "CommRecord.h"
#include "PackTable.h"
#include "ResponseData.h"
#include "TextFormat.h"

#include <QHash>
#include <QString>

namespace bms {

namespace {

// Data byte offsets of the information block.
constexpr int kCustomerCode = 0, kCustomerCodeBytes = 4;
constexpr int kRatedCapacity = 4;
constexpr int kBarcode = 8, kBarcodeBytes = 12;
constexpr int kManufacturer = 20, kManufacturerBytes = 8;
constexpr int kSerial = 28, kSerialBytes = 20;
constexpr int kClock = 48;
constexpr int kProtocolType = 58;
constexpr int kUid = 60, kUidBytes = 12;
constexpr int kSleepMultiplier = 72, kSleepBase = 74;

// Text bytes as Latin-1 (plain ASCII unchanged); a zero byte ends the
// visible text.
QString VisibleText(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

QString TextField(const ResponseData& data, int offset, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>(data.byte(offset + i)));
    return VisibleText(bytes);
}

// The serial number drops spaces while nothing has been taken yet, so leading
// spaces go and inner or trailing ones stay.
QString SerialNumber(const ResponseData& data)
{
    QByteArray bytes;
    for (int i = 0; i < kSerialBytes; ++i) {
        const char c = static_cast<char>(data.byte(kSerial + i));
        if (c == ' ' && bytes.isEmpty())
            continue;
        bytes.append(c);
    }
    return VisibleText(bytes);
}

// The controls an information read fills, with their texts at start. The
// edit boxes are inputs of the writes as well ("Modify Barcode" reads edt1).
struct InfoControl {
    const char* name;
    const char* startText;
    bool input;
};

constexpr InfoControl kInfoControls[] = {
    {"Customer_code_edit", "", true}, {"edt4", "", true},          {"edt1", "", true},
    {"edt2", "", true},               {"edt_pack_id", "", true},   {"lbl_rtc", "RTC Time: ", false},
    {"edt_uid", "", true},            {"lbl_uid_crc", "", false},  {"lbl_sleep_time", "Sleep Time:", false},
};

// What the last information read put into each control, so that a text the
// operator typed since is told apart from the pack's.
QHash<QString, QString> shownByRead;

void Show(UiHost& ui, const QString& control, const QString& text)
{
    ui.setText(control, text);
    shownByRead.insert(control, text);
}

} // namespace

void ShowNoDeviceInfo()
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    for (const InfoControl& c : kInfoControls) {
        const QString name = QString::fromLatin1(c.name);
        // A box the operator has typed into since keeps the text: it is the
        // input of a write, not the last pack's value.
        if (c.input && ui.text(name) != shownByRead.value(name))
            continue;
        ui.setText(name, QString::fromLatin1(c.startText));
    }
    shownByRead.clear();
    // The UID shown is gone: there is nothing to save.
    ui.setEnabled(QStringLiteral("btn_uid_save"), false);
}

void DecodeDeviceInfo()
{
    if (!App.ui)
        return;
    UiHost& ui = *App.ui;
    const ResponseData data = ResponseData::FromRx();

    // The customer code is always shown, whatever the length of the frame,
    // but only with the bytes this response carried: a short frame must not
    // show bytes left in the buffer by an earlier one.
    QString customer;
    for (int i = 0; i < kCustomerCodeBytes && data.fits(kCustomerCode + i, 1); ++i)
        customer += HexText(data.byte(kCustomerCode + i), 2);
    Show(ui, QStringLiteral("Customer_code_edit"), customer);

    if (data.fits(kRatedCapacity, 4))
        Show(ui, QStringLiteral("edt4"), QString::number(data.u32(kRatedCapacity)));
    if (data.fits(kBarcode, kBarcodeBytes))
        Show(ui, QStringLiteral("edt1"), TextField(data, kBarcode, kBarcodeBytes));
    if (data.fits(kManufacturer, kManufacturerBytes))
        Show(ui, QStringLiteral("edt2"), TextField(data, kManufacturer, kManufacturerBytes));
    if (data.fits(kSerial, kSerialBytes))
        Show(ui, QStringLiteral("edt_pack_id"), SerialNumber(data));

    // Clock bytes that do not form a date and time leave the label as it
    // was; the fields after them are decoded all the same.
    if (data.fits(kClock, static_cast<int>(DeviceClock.size()))) {
        for (size_t i = 0; i < DeviceClock.size(); ++i)
            DeviceClock[i] = data.byte(kClock + static_cast<int>(i));
        if (const auto text = DeviceClockText(DeviceClock))
            Show(ui, QStringLiteral("lbl_rtc"), *text);
    }

    if (data.fits(kProtocolType, 2))
        ProtocolType = static_cast<uint8_t>(data.u16(kProtocolType));

    if (data.fits(kUid, kUidBytes)) {
        const uint8_t* uid = MY_COM.RxBuf.data() + 3 + kUid;
        Show(ui, QStringLiteral("edt_uid"), QString::fromStdString(BytesToHex(uid, kUidBytes)));
        Show(ui, QStringLiteral("lbl_uid_crc"), HexText(Crc16(uid, kUidBytes), 4));
        if (UidWorkbookOpen)
            ui.setEnabled(QStringLiteral("btn_uid_save"), true);
    }

    if (data.fits(kSleepMultiplier, 2) && data.fits(kSleepBase, 2)) {
        Show(ui, QStringLiteral("lbl_sleep_time"),
             QStringLiteral("Sleep Time: %1 X %2 S").arg(data.u16(kSleepMultiplier)).arg(data.u16(kSleepBase)));
    }
}

} // namespace bms
