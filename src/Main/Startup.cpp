#include "Startup.h"

#include "CommRecord.h"
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

} // namespace bms
