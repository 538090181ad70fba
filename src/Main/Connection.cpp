#include "Connection.h"

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

} // namespace

void FillPorts()
{
    if (!PortSource)
        return;
    std::optional<QStringList> ports = PortSource();
    if (!ports)
        return;
    QStringList sorted = *ports;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    App.ui->setItems(QStringLiteral("cbb1"), sorted);
    if (!sorted.isEmpty())
        App.ui->setText(QStringLiteral("cbb1"), sorted.last());
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
}

} // namespace bms
