#include "Receive.h"

#include "App.h"
#include "Codec.h"
#include "CommRecord.h"
#include "Hooks.h"

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

template <size_t N>
void Report(const WriteReport (&table)[N], uint16_t reg)
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
        return;
    }
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
    if (MY_COM.RxLen != 8 || ReadU16BE(MY_COM.RxBuf.data(), 2) != LastWriteReg
        || ReadU16BE(MY_COM.RxBuf.data(), 4) != LastWriteQty)
        return;
    const uint16_t reg = LastWriteReg;
    if (reg == 0x9F00) {
        Step(UpgradeStep::NextWrite); // the record transfer goes on
        return;
    }
    if (reg == 0x9E00 && EraseDevPending != 1) {
        BlockingPause(2000); // the pack erases before it takes the first record
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

// An exception is attributed to the pending write whatever it contains.
void ReportWriteFailure()
{
    const uint16_t reg = LastWriteReg;
    if (reg == 0x9E00 || reg == 0x9E80) {
        App.ui->showMessage(QStringLiteral("Erase dev firmware failed!"));
        EraseDevPending = 0;
    } else if (reg == 0x9F00) {
        Step(UpgradeStep::WriteError);
        App.ui->showMessage(QStringLiteral("Write dev firmware failed!"));
    } else {
        Report(kFailure, reg);
    }
    Release(reg);
}

} // namespace bms
