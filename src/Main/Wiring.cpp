#include "Wiring.h"

#include "App.h"
#include "BlockFreshness.h"
#include "BootLoaderNote.h"
#include "Clocks.h"
#include "CommRecord.h"
#include "Connection.h"
#include "Errors.h"
#include "Hooks.h"
#include "PackTable.h"
#include "ReadAnswers.h"
#include "Sampling.h"
#include "Selectors.h"
#include "Settings.h"
#include "Simulator.h"
#include "UpgradeHooks.h"
#include "UpgradeRun.h"

#include <exception>

#include "PortList.h"
#include "Workbooks.h"

namespace bms {

void RunGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Error& e) {
        App.ui->showError(FormatErrorMessage(e.message()));
    } catch (const std::exception& e) {
        App.ui->showError(FormatErrorMessage(QString::fromLocal8Bit(e.what())));
    }
}

void WireHooks(BlockFreshness* freshness)
{
    Hooks.telemetry = [freshness] {
        // The block the answer is decoded as; an answer that matches no
        // request (or several blocks) is dropped.
        const int32_t block = TakeReadAnswer();
        if (block < 0)
            return;
        ShowTelemetry(freshness);
        ShowAlarmBits();
        ShowProtectionBits();
        ShowParallelProgress();
        if (DataLogging == 1 && AppHooks.dataLogRow)
            AppHooks.dataLogRow();
        if (Sampling == 1 && block >= 0 && block <= 7 && AppHooks.trendSample)
            AppHooks.trendSample(block);
        if (block == 8)
            ShowInformationReadMessage();
    };
    Hooks.readRefused = TakeReadRefusal;
    if (freshness) {
        Hooks.readOutcome = [freshness](const ReadOutcome& outcome) {
            freshness->take(outcome);
            // A decoded block refreshes the grid with its values; a refused
            // or unanswered one only changes what is grey.
            if (outcome.kind == ReadOutcomeKind::Refused || outcome.kind == ReadOutcomeKind::TimedOut)
                ShowGridStates(*freshness);
        };
    }
    Hooks.deviceInfo = [] { DecodeDeviceInfo(); };
    Hooks.reReadDeviceInfo = [] { btn3Click(); };
    Hooks.upgradeStep = [](UpgradeStep step) { RunUpgradeStep(step); };
    // An answer of the pack's own firmware: it waits in no boot loader. (The
    // upgrade's version read-back takes this hook over and does the same.)
    Hooks.blockAnswered = [](int32_t) { RemoveBootLoaderNote(App.ui->text(QStringLiteral("cbb1"))); };
    UpgradeHooks.stopSampling = [] {
        if (Sampling == 1)
            cybtnClick();
    };
    AppHooks.dataLogRow = AppendDataRow;
    AppHooks.calibrationRow = BeginCalibrationRow;
    PortSource = []() -> std::optional<QStringList> {
        QStringList ports;
        if (!FillPortList(ports))
            return std::nullopt;
        return ports;
    };
}

void WireTimers()
{
    App.tmr1->OnTimer = [] { RunGuarded(tmr1Timer); };
    App.tmr2->OnTimer = [] { RunGuarded(tmr2Timer); };
    App.tmr3->OnTimer = [] { RunGuarded(tmr3Timer); };
    App.tmr4->OnTimer = [] { RunGuarded(tmr4Timer); };
}

const std::vector<ClickHandler>& ClickHandlers()
{
    static const std::vector<ClickHandler> handlers = [] {
        std::vector<ClickHandler> list = {
            {QStringLiteral("sxcom"), sxcomClick},
            {QStringLiteral("cybtn"), cybtnClick},
            {QStringLiteral("btn3"), btn3Click},
            {QStringLiteral("btn_read_time"), btn_read_timeClick},
            {QStringLiteral("btn_read_sleep_time"), btn_read_sleep_timeClick},
            {QStringLiteral("Customer_code_read"), Customer_code_readClick},
            {QStringLiteral("btn8"), btn8Click},
            {QStringLiteral("btn9"), btn9Click},
            {QStringLiteral("btn_rcap"), btn_rcapClick},
            {QStringLiteral("btn_set_pack_id"), btn_set_pack_idClick},
            {QStringLiteral("btnc"), btncClick},
            {QStringLiteral("btn_zero_current"), btn_zero_currentClick},
            {QStringLiteral("btnv"), btnvClick},
            {QStringLiteral("btn_rtc"), btn_rtcClick},
            {QStringLiteral("btn_parallel"), btn_parallelClick},
            {QStringLiteral("btn_protocol_type"), btn_protocol_typeClick},
            {QStringLiteral("btn_set_sleep_time"), btn_set_sleep_timeClick},
            {QStringLiteral("Button3"), Button3Click},
            {QStringLiteral("btn_interval"), btn_intervalClick},
            {QStringLiteral("Customer_code_set"), Customer_code_setClick},
            {QStringLiteral("Button1"), Button1Click},
            {QStringLiteral("limiter1"), limiter1Click},
            {QStringLiteral("rb_stand_alone"), rb_stand_aloneClick},
            {QStringLiteral("rb_single_serial"), rb_single_serialClick},
            {QStringLiteral("rb_single_parallel"), rb_single_parallelClick},
            {QStringLiteral("rb_serial_parallel"), rb_serial_parallelClick},
            {QStringLiteral("btn_test"), btn_testClick},
        };
        for (const ParamRow& row : ParamRows()) {
            const uint8_t type = row.type;
            list.push_back({QString::fromLatin1(row.button), [type] { SetParamClick(type); }});
        }
        // Everything that talks to the pack waits until an upgrade run has
        // ended; the port list and the selectors do not.
        static const QStringList kIdle = {QStringLiteral("sxcom"), QStringLiteral("rb_stand_alone"),
                                          QStringLiteral("rb_single_serial"), QStringLiteral("rb_single_parallel"),
                                          QStringLiteral("rb_serial_parallel"), QStringLiteral("btn_test")};
        for (ClickHandler& click : list) {
            if (!kIdle.contains(click.control))
                click.handler = [handler = std::move(click.handler)] {
                    if (!UpgradeRefuses())
                        handler();
                };
        }
        return list;
    }();
    return handlers;
}

} // namespace bms
