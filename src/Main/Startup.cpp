#include "Startup.h"

#include "App.h"
#include "CommRecord.h"
#include "Connection.h"
#include "PackTable.h"
#include "Selectors.h"

namespace bms {

void FormShow()
{
    FillPorts();
    PortOpen = 0;
    DataLogging = 0;
    Sampling = 0;
    DevFirmwareMode = 0;
    App.tmr1->setEnabled(false);
    App.tmr2->setEnabled(false);
    App.tmr3->setInterval(500);
    App.tmr3->setEnabled(true);
    cbb_pdTypeChange();
    cbb_addrChange();
    SetupGridLabels();
}

void StopAllTimers()
{
    App.tmr1->setEnabled(false);
    App.tmr2->setEnabled(false);
    App.tmr3->setEnabled(false);
    App.tmr4->setEnabled(false);
}

bool FormCloseQuery(TComm& cm1)
{
    if (!App.ui->askYesNo(QStringLiteral("Confirm"), QStringLiteral("Exit now?")))
        return false;
    StopAllTimers();
    ClosePort(cm1);
    return true;
}

} // namespace bms
