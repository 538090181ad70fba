#include "Receive.h"

#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "Hooks.h"

#include <QTime>
#include <optional>

namespace bms {

namespace {

// What an acknowledgement or an exception to a recorded write does, by the
// recorded start register. Rows with special handling are handled in code.
struct WriteReport {
    uint16_t reg;
    bool reRead;              // re-read the device information first
    const char* message;      // message box, or nullptr
    const char* label;        // text for lbl35, or nullptr
};

const WriteReport kSuccess[] = {
    {0x0015, false, "Current calibration completed!", nullptr},
    {0x0500, false, "Voltage calibration completed!", nullptr},
    {0x9D1D, false, "Series-Parallel Setting completed!", nullptr},
    {0x9CFA, false, "Modified Parameter successfully!", nullptr},
    {0x9E05, false, nullptr, "Writed firmware information successfully!"},
    {0x9D1E, true, "Setup protocol type successfully!", nullptr},
    {0x9D05, true, "Modified barcode successfully!", nullptr},
    {0x9D25, true, "Sleep time setting successfully!", nullptr},
    {0x9D19, true, "RTC Time Calibration Successful!", nullptr},
};

const WriteReport kFailure[] = {
    {0x0015, false, "Current calibration failed!", nullptr},
    {0x0500, false, "Voltage calibration failed!", nullptr},
    {0x9D1D, false, "Series-Parallel Setting failed!", nullptr},
    {0x9CFA, false, "Modified parameter failed!", nullptr},
    {0x9E05, false, nullptr, "Writed firmware information failed!"},
    {0x9D1E, true, "Setup protocol type failed!", nullptr},
    {0x9D05, true, "Modified barcode failed!", nullptr},
    {0x9D25, true, "Sleep time setting failed!", nullptr},
    {0x9D19, true, "RTC Time Calibration failed!", nullptr},
};

// True when the table has a row for the register (and it was carried out).
template <size_t N>
bool Report(const WriteReport (&table)[N], uint16_t reg)
{
    for (const WriteReport& row : table) {
        if (row.reg != reg)
            continue;
        if (row.reRead && Hooks.reReadDeviceInfo)
            Hooks.reReadDeviceInfo();
        if (row.message)
            App.ui->showMessage(QString::fromLatin1(row.message));
        if (row.label)
            App.ui->setText(QStringLiteral("lbl35"), QString::fromLatin1(row.label));
        return true;
    }
    return false;
}

// Writes that are not recorded for a message of their own (the zero-drift
// word, the remaining capacity, the customer code) are still answered by the
// pack; a memo line tells the operator the outcome. The write is found in
// the last request sent, which is still in TxBuf when its answer comes.
struct SentWrite {
    uint16_t reg = 0;
    uint16_t quantity = 0;
};

std::optional<SentWrite> LastSentWrite()
{
    const std::vector<uint8_t>& tx = MY_COM.TxBuf;
    if (tx.size() < 9 || tx[1] != 0x10)
        return std::nullopt;
    return SentWrite{ReadU16BE(tx.data(), 2), ReadU16BE(tx.data(), 4)};
}

QString Hex(unsigned value, int digits)
{
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

struct RegisterName {
    uint16_t reg;
    const char* name;
};

const RegisterName kWriteNames[] = {
    {0x9D27, "zero drift"},
    {0x0019, "remain capacity"},
    {0x9D01, "customer code"},
    {0x9E80, "dev firmware erase"},
};

QString WriteName(uint16_t reg)
{
    const QString where = QStringLiteral("register 0x") + Hex(reg, 4);
    for (const RegisterName& entry : kWriteNames)
        if (entry.reg == reg)
            return QStringLiteral("the %1 write (%2)").arg(QString::fromLatin1(entry.name), where);
    return QStringLiteral("the write to %1").arg(where);
}

QString ExceptionText(uint8_t code)
{
    static const char* const kNames[] = {"illegal function", "illegal data address", "illegal data value",
                                         "device failure", "acknowledge", "device busy"};
    const QString number = QStringLiteral("exception ") + Hex(code, 2);
    if (code >= 1 && code <= 6)
        return number + QStringLiteral(", ") + QString::fromLatin1(kNames[code - 1]);
    return number;
}

void Note(const QString& text)
{
    App.ui->appendLine(QStringLiteral("mmo1"), QStringLiteral("Note: ") + text + QStringLiteral("!(")
                                                   + QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(')'));
}

void Step(UpgradeStep step)
{
    if (Hooks.upgradeStep)
        Hooks.upgradeStep(step);
}

} // namespace

// The pending write stays recorded while its report runs: the re-read of the
// device information answers during the message box, and the decoder keeps
// quiet about it while an identity write is pending. Afterwards the write is
// released, unless another write was recorded meanwhile (the report re-enters
// the event loop), which then stays pending for its own acknowledgement.
static void Release(uint16_t reg)
{
    if (LastWriteReg == reg)
        LastWriteReg = 0;
}

void ReportWriteSuccess()
{
    if (MY_COM.RxLen != 8)
        return;
    const uint16_t ackReg = ReadU16BE(MY_COM.RxBuf.data(), 2);
    const uint16_t ackQty = ReadU16BE(MY_COM.RxBuf.data(), 4);
    if (ackReg != LastWriteReg || ackQty != LastWriteQty) {
        // Not the recorded write: the acknowledgement of an unrecorded one
        // just sent is noted; anything else is ignored.
        const std::optional<SentWrite> sent = LastSentWrite();
        if (sent && sent->reg == ackReg && sent->quantity == ackQty)
            Note(QStringLiteral("the pack accepted ") + WriteName(ackReg));
        return;
    }
    const uint16_t reg = LastWriteReg;
    if (reg == 0x9F00) {
        Step(UpgradeStep::NextWrite); // the record transfer goes on
        return;
    }
    if (reg == 0x9E00 && EraseDevPending != 1) {
        // The pack erases before it takes the first record.
        if (UpgradePause(2000))
            Step(UpgradeStep::NextWrite);
        return;
    }
    if (reg == 0x9E00 || reg == 0x9E80) {
        EraseDevPending = 0;
        App.ui->showMessage(QStringLiteral("Erase dev firmware successfully!"));
    } else {
        Report(kSuccess, reg);
    }
    Release(reg);
}

// An exception is attributed to the pending write whatever it contains,
// unless the last request sent was an unrecorded write (outside upgrade
// runs): the answer is to that one, and the recorded write stays pending.
// An exception that no recorded write explains is noted in the memo.
void ReportWriteFailure()
{
    const uint16_t reg = LastWriteReg;
    const uint8_t code = MY_COM.RxLen >= 5 ? MY_COM.RxBuf[2] : 0;
    const std::optional<SentWrite> sent = LastSentWrite();
    if (UpgradeActive == 0 && sent && sent->reg != reg) {
        Note(QStringLiteral("the pack refused ") + WriteName(sent->reg) + QStringLiteral(": ") + ExceptionText(code));
        return;
    }
    if (reg == 0x9E00 || reg == 0x9E80) {
        App.ui->showMessage(QStringLiteral("Erase dev firmware failed!"));
        EraseDevPending = 0;
    } else if (reg == 0x9F00) {
        Step(UpgradeStep::WriteError);
        App.ui->showMessage(QStringLiteral("Write dev firmware failed!"));
    } else if (!Report(kFailure, reg)) {
        Note(QStringLiteral("the pack refused ") + (reg != 0 ? WriteName(reg) : QStringLiteral("a write")) + QStringLiteral(": ")
             + ExceptionText(code));
    }
    Release(reg);
}

} // namespace bms
