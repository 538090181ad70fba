#include "Connection.h"

#include "App.h"
#include "CommRecord.h"
#include "Convert.h"
#include "Errors.h"
#include "OpenFailure.h"
#include "PackTable.h"
#include "ReadRequests.h"
#include "Sampling.h"
#include "SerialComm.h"
#include "Settings.h"
#include "UpgradeRun.h"

#include <QTime>

#include <algorithm>

namespace bms {

std::function<std::optional<QStringList>()> PortSource;

namespace {

// Buttons that need a link, switched by the toggle.
const char* const kLinkButtons[] = {
    "cybtn", "btn3", "btn_read_sleep_time", "btn_set_sleep_time", "btn_read_time",
    "btn_rtc", "btn8", "btn_rcap", "Button3",
};

void EnableLinkButtons(bool on)
{
    for (const char* name : kLinkButtons)
        App.ui->setEnabled(QString::fromLatin1(name), on);
}

// A memo line saying why the port did not open, ahead of the message box.
void NoteOpenFailure(const ECommsError& e)
{
    const QString note = OpenFailureNote(GatherOpenFailureFacts(e.device(), e.cause()));
    if (!note.isEmpty())
        App.ui->appendLine(QStringLiteral("mmo1"),
                           note + QStringLiteral("(") + QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QStringLiteral(")"));
}

} // namespace

namespace {

std::optional<QStringList> SortedPorts()
{
    if (!PortSource)
        return std::nullopt;
    std::optional<QStringList> ports = PortSource();
    if (ports) {
        std::sort(ports->begin(), ports->end(), [](const QString& a, const QString& b) {
            return QString::compare(a, b, Qt::CaseInsensitive) < 0;
        });
    }
    return ports;
}

} // namespace

void FillPorts()
{
    const std::optional<QStringList> sorted = SortedPorts();
    if (!sorted)
        return;
    App.ui->setItems(QStringLiteral("cbb1"), *sorted);
    if (!sorted->isEmpty())
        App.ui->setText(QStringLiteral("cbb1"), sorted->last());
}

void RefreshPorts()
{
    const std::optional<QStringList> sorted = SortedPorts();
    if (!sorted || *sorted == App.ui->items(QStringLiteral("cbb1")))
        return;
    const QString keep = App.ui->text(QStringLiteral("cbb1"));
    App.ui->setItems(QStringLiteral("cbb1"), *sorted);
    if (!keep.isEmpty())
        App.ui->setText(QStringLiteral("cbb1"), keep);
    else if (!sorted->isEmpty())
        App.ui->setText(QStringLiteral("cbb1"), sorted->last());
}

void ShowPortOpen()
{
    App.ui->setEnabled(QStringLiteral("cbb1"), false);
    App.ui->setEnabled(QStringLiteral("cbb2"), false);
    App.ui->setEnabled(QStringLiteral("cbb3"), true);
    App.ui->setText(QStringLiteral("opencom"), QStringLiteral("Close Port"));
    EnableLinkButtons(true);
    App.ui->setEnabled(QStringLiteral("opbtn"), true);
    PortOpen = 1;
    App.ui->setPanel(0, QStringLiteral("Connected to the communication box!"));
    App.ui->setColour(QStringLiteral("shp9"), ColRed);
}

void ShowPortClosed()
{
    App.ui->setEnabled(QStringLiteral("cbb1"), true);
    App.ui->setEnabled(QStringLiteral("cbb2"), true);
    App.ui->setEnabled(QStringLiteral("cbb3"), false);
    App.ui->setText(QStringLiteral("opencom"), QStringLiteral("Open Port"));
    App.ui->setText(QStringLiteral("cybtn"), QStringLiteral("Start Sampling"));
    App.ui->setColour(QStringLiteral("shp9"), ColGrey);
    EnableLinkButtons(false);
    App.tmr1->setEnabled(false);
    App.tmr2->setEnabled(false);
    Sampling = 0;
    App.ui->setPanel(0, QStringLiteral("Offline!"));
    PortOpen = 0;
    App.ui->setEnabled(QStringLiteral("limiter1"), false);
    AwaitingCheck = 0;
    UpgradePortClosed();
}

void opencomClick(TComm& cm1)
{
    if (PortOpen == 1 && UpgradeRefuses())
        return;
    if (PortOpen == 1) {
        cm1.CloseComm();
        ShowPortClosed();
        return;
    }
    // A port that a station fixture is testing on stays its own; the
    // window stays offline and says who has it.
    if (AppHooks.portInUse) {
        if (const QString user = AppHooks.portInUse(App.ui->text(QStringLiteral("cbb1"))); !user.isEmpty())
            throw ECommsError(user);
    }
    cm1.CloseComm();
    cm1.setCommName(App.ui->text(QStringLiteral("cbb1")));
    const int32_t baud = StrToInt(App.ui->text(QStringLiteral("cbb2")));
    // No line runs at 0 or fewer bits per second; the port is not touched.
    if (baud <= 0)
        throw ECommsError(QStringLiteral("The serial port cannot run at %1 baud").arg(baud));
    cm1.setBaudRate(static_cast<uint32_t>(baud));
    // 8 data bits, no parity, 1 stop bit, no software flow control.
    cm1.setInx_XonXoffFlow(false);
    cm1.setOutx_XonXoffFlow(false);
    cm1.setParity(TParity::None);
    cm1.setByteSize(TByteSize::_8);
    cm1.setStopBits(TStopBits::_1);

    const bool opbtnWasEnabled = App.ui->isEnabled(QStringLiteral("opbtn"));
    ShowPortOpen();
    // Back to offline, then on to the general error handler.
    const auto backOffline = [&] {
        cm1.CloseComm();
        ShowPortClosed();
        App.ui->setEnabled(QStringLiteral("opbtn"), opbtnWasEnabled);
    };
    try {
        cm1.OpenComm();
    } catch (const ECommsError& e) {
        backOffline();
        NoteOpenFailure(e);
        throw;
    } catch (...) {
        backOffline();
        throw;
    }
    AwaitingCheck = 0;
    // Another pack may be on the line: nothing of the last one is shown,
    // logged or matched with its answers.
    ReadRequests.clear();
    ShowNoPack();
    if (AppHooks.portOpened)
        AppHooks.portOpened();
}

void ClosePort(TComm& cm1)
{
    cm1.CloseComm();
}

void cm1RequestHangup(TComm& cm1)
{
    // A second worker thread reporting the same loss, or a report that
    // arrives after the operator closed the port, finds nothing to do.
    if (PortOpen == 0 || !cm1.Connected())
        return;
    cm1.CloseComm();
    ShowPortClosed();
    // Sampling has stopped with the port; open workbooks stay open.
    App.ui->setPanel(1, QStringLiteral("Ready!"));
    App.ui->appendLine(QStringLiteral("mmo1"), QStringLiteral("Note: serial port ") + App.ui->text(QStringLiteral("cbb1"))
                                                   + QStringLiteral(" was lost and has been closed!(") + ClockText()
                                                   + QLatin1Char(')'));
}

} // namespace bms
