#include "Sampling.h"

#include "App.h"
#include "BootLoaderNote.h"
#include "CommRecord.h"
#include "Convert.h"
#include "ReadAnswers.h"
#include "RequestBuilder.h"

#include <QTime>

namespace bms {

namespace {

// Buttons that only make sense while telemetry is coming in. At most one
// workbook is open at a time, so a workbook button comes back only while no
// other workbook is open.
void EnableSamplingButtons(bool on)
{
    App.ui->setEnabled(QStringLiteral("excbtn"), on && UidWorkbookOpen == 0 && CalWorkbookOpen == 0);
    App.ui->setEnabled(QStringLiteral("btn_save_uid"), on && DataLogging == 0 && CalWorkbookOpen == 0);
    App.ui->setEnabled(QStringLiteral("limiter1"), on);
}

void StartSampling()
{
    ReadBlock = 0;
    const int32_t requested = StrToInt(App.ui->text(QStringLiteral("cbb3")));
    if (requested >= 500) {
        SampleIntervalMs = requested;
    } else {
        App.ui->showMessage(QStringLiteral("The sampling interval must be greater than 500 ms!"));
        App.ui->setText(QStringLiteral("cbb3"), QStringLiteral("500"));
        SampleIntervalMs = 500;
    }
    App.tmr1->setInterval(SampleIntervalMs);
    App.tmr1->setEnabled(true);
    App.ui->setEnabled(QStringLiteral("cbb3"), false);
    App.ui->setText(QStringLiteral("cybtn"), QStringLiteral("Close Sampling"));
    App.ui->setColour(QStringLiteral("shp9"), ColLime);
    Sampling = 1;
    App.ui->setPanel(1, QStringLiteral("Sampling!"));
    EnableSamplingButtons(true);
    AwaitingCheck = 0;
}

void StopSampling()
{
    // A pending time-out is dropped without a report.
    App.tmr1->setEnabled(false);
    App.tmr2->setEnabled(false);
    App.ui->setEnabled(QStringLiteral("cbb3"), true);
    App.ui->setText(QStringLiteral("cybtn"), QStringLiteral("Start Sampling"));
    App.ui->setColour(QStringLiteral("shp9"), ColRed);
    Sampling = 0;
    App.ui->setPanel(1, QStringLiteral("Ready!"));
    EnableSamplingButtons(false);
    AwaitingCheck = 0;
}

} // namespace

QString ClockText()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
}

void cybtnClick()
{
    if (Sampling == 0)
        StartSampling();
    else
        StopSampling();
}

void tmr1Timer()
{
    // At a 500 ms period the next poll falls due together with the previous
    // request's time-out. A poll does not restart a running time-out, so the
    // unanswered request would go unreported; report it before polling again,
    // so that every unanswered request gets its own line.
    if (App.tmr2->enabled())
        tmr2Timer();
    // Block 8 is the device-information read; its answer or its time-out
    // restarts the rotation.
    if (ReadBlock != 8)
        BuildRequest(cmd_read_block);
    App.tmr1->setInterval(SampleIntervalMs);
    App.tmr1->setEnabled(true);
}

void tmr2Timer()
{
    App.tmr2->setEnabled(false);
    App.ui->setColour(QStringLiteral("shp9"), ColRed);
    App.ui->appendLine(QStringLiteral("mmo1"), QStringLiteral("communication timeout!(") + ClockText() + QLatin1Char(')'));
    NoteBootLoaderWaitOnTimeout();
    // An unanswered information read restarts the rotation at block 0.
    ReadTimedOut();
}

void ResumeSampling()
{
    if (Sampling == 1) {
        App.tmr1->setInterval(SampleIntervalMs);
        App.tmr1->setEnabled(true);
    }
}

SamplingPause::SamplingPause()
{
    App.tmr1->setEnabled(false);
}

SamplingPause::~SamplingPause()
{
    if (pending_)
        ResumeSampling();
}

void SamplingPause::resumeNow()
{
    pending_ = false;
    ResumeSampling();
}

ModalBoxScope::ModalBoxScope()
{
    if (Sampling == 1 && App.tmr1 && !App.tmr1->enabled()) {
        ResumeSampling();
        resumed_ = true;
    }
}

ModalBoxScope::~ModalBoxScope()
{
    if (resumed_ && Sampling == 1 && App.tmr1)
        App.tmr1->setEnabled(false);
}

} // namespace bms
