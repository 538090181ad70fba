#include "Selectors.h"

#include "App.h"
#include "CommRecord.h"
#include "Convert.h"
#include "Errors.h"

namespace bms {

namespace {

// Set while the address box holds a refused text, so that the operator is
// told once rather than at every further keystroke.
bool addressRefused = false;

} // namespace

void cbb_addrChange()
{
    const QString text = App.ui->text(QStringLiteral("cbb_addr")).trimmed();
    int32_t addr = -1;
    if (!text.isEmpty()) {
        try {
            addr = HexToInt(text);
        } catch (const EConvertError&) {
            addr = -1;
        }
    }
    // An empty box or 0 is a step of retyping: the address stays as it was.
    // Address 0 would reach every pack on the bus.
    if (text.isEmpty() || addr == 0) {
        addressRefused = false;
        return;
    }
    if (addr < 0 || addr > 0xFF) {
        if (!addressRefused)
            App.ui->showMessage(QStringLiteral("Please enter the device address as a hexadecimal number from 01 to FF!"));
        addressRefused = true;
        return;
    }
    addressRefused = false;
    SlaveAddr = static_cast<uint8_t>(addr);
    App.ui->setText(QStringLiteral("lbl_addr_read"),
                    QStringLiteral("Addr: ") + QStringLiteral("%1").arg(SlaveAddr, 2, 16, QLatin1Char('0')).toUpper());
}

void cbb_pdTypeChange()
{
    NotBsi = App.ui->text(QStringLiteral("cbb_pdType")) == QLatin1String("BSI") ? 0 : 1;
    App.ui->setText(QStringLiteral("lblvtxt"),
                    QStringLiteral("Please input the first and second cell voltage!\r\n"
                                   "(do not charge or discharge! No need to enter\r\n"
                                   "a plus or minus sign and unit.\r\n"
                                   "Input range: 1000~5000)"));
    App.ui->setText(QStringLiteral("lblv2"), QStringLiteral(" Cell 2 Voltage:"));
}

void rb_stand_aloneClick() { App.ui->setText(QStringLiteral("cbb_pretype"), QStringLiteral("0")); }
void rb_single_serialClick() { App.ui->setText(QStringLiteral("cbb_pretype"), QStringLiteral("1")); }
void rb_single_parallelClick() { App.ui->setText(QStringLiteral("cbb_pretype"), QStringLiteral("2")); }
void rb_serial_parallelClick() { App.ui->setText(QStringLiteral("cbb_pretype"), QStringLiteral("3")); }

void shp_sp_resetMouseDown()
{
    if (App.ui->colour(QStringLiteral("shp_sp_reset")) == ColLime) {
        App.ui->setColour(QStringLiteral("shp_sp_reset"), ColGrey);
        App.ui->setText(QStringLiteral("lbl_sp_reset"), QStringLiteral("None"));
    } else {
        App.ui->setColour(QStringLiteral("shp_sp_reset"), ColLime);
        App.ui->setText(QStringLiteral("lbl_sp_reset"), QStringLiteral("Reset"));
    }
}

} // namespace bms
