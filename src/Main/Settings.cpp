#include "Settings.h"

#include "App.h"
#include "CommRecord.h"
#include "RequestBuilder.h"
#include "Sampling.h"
#include "UiHost.h"

namespace bms {

uint16_t FunctionModuleWord = 0;
uint16_t PackFunctionModuleWord = 0;
AppHookSet AppHooks;

namespace {

// Puts a flag back to 0 when the scope ends, however it ends.
class FlagReset {
public:
    explicit FlagReset(uint8_t& flag) : flag_(flag) {}
    ~FlagReset() { flag_ = 0; }
    FlagReset(const FlagReset&) = delete;
    FlagReset& operator=(const FlagReset&) = delete;

private:
    uint8_t& flag_;
};

} // namespace

void RunSettingsCommand(uint8_t command, const std::function<void()>& before,
                        const std::function<void()>& after)
{
    SamplingPause pause;
    Delay(200);
    if (before)
        before();
    BuildRequest(command);
    if (after)
        after();
}

void btn3Click() { RunSettingsCommand(cmd_read_info); }
void btn_read_timeClick() { RunSettingsCommand(cmd_read_info); }
void btn_read_sleep_timeClick() { RunSettingsCommand(cmd_read_info); }
void Customer_code_readClick() { RunSettingsCommand(cmd_read_info); }

void btn8Click() { RunSettingsCommand(cmd_set_barcode); }
void btn9Click() { RunSettingsCommand(cmd_set_rated_capacity); }
void btn_rcapClick() { RunSettingsCommand(cmd_set_remain_capacity); }
void btn_set_pack_idClick() { RunSettingsCommand(cmd_set_pack_id); }
void btnvClick() { RunSettingsCommand(cmd_cal_voltage); }
void btn_rtcClick() { RunSettingsCommand(cmd_set_rtc); }
void btn_protocol_typeClick() { RunSettingsCommand(cmd_set_protocol_type); }
void btn_set_sleep_timeClick() { RunSettingsCommand(cmd_set_sleep_time); }
void Button3Click() { RunSettingsCommand(cmd_set_edit3_word); }
void btn_intervalClick() { RunSettingsCommand(cmd_set_upload_interval); }
void Customer_code_setClick() { RunSettingsCommand(cmd_set_customer_code); }
void Button1Click() { RunSettingsCommand(cmd_set_customer_code); }

void btncClick()
{
    SamplingPause pause;
    Delay(200);
    BuildRequest(cmd_cal_current);
    Delay(100);
    pause.resumeNow();
    if (CalWorkbookOpen == 1) {
        // Read the information back so the calibration row carries the
        // pack's identity.
        BuildRequest(cmd_read_info);
        Delay(300);
        if (AppHooks.calibrationRow)
            AppHooks.calibrationRow();
        App.ui->setEnabled(QStringLiteral("btn_cal_confirm"), true);
    }
}

void btn_zero_currentClick()
{
    FlagReset zeroAfterwards(ZeroCurrentCal);
    RunSettingsCommand(cmd_cal_current, [] { ZeroCurrentCal = 1; });
}

void btn_parallelClick()
{
    SamplingPause pause;
    // The sweep takes over ten seconds: the window shows that it is working
    // and how far it has got, until it ends however it ends.
    struct BusyUntilDone {
        ~BusyUntilDone() { App.ui->setBusy(QString()); }
    } busy;
    // Each member of the parallel system gets its own request, followed by
    // a pause of 500 ms, sent or not. The pauses keep the window painting
    // and answering (the sweep takes about 11 s), as the 200 ms waits do.
    for (uint8_t addr = 1; addr <= 16; ++addr) {
        App.ui->setBusy(QStringLiteral("Series-Parallel Setting: address %1 of 16...").arg(addr));
        Delay(200);
        ParallelAddr = addr;
        BuildRequest(cmd_set_series_parallel);
        Delay(500);
    }
}

void limiter1Click()
{
    RunSettingsCommand(cmd_set_function_module, [] {
        FunctionModuleWord = static_cast<uint16_t>(PackFunctionModuleWord ^ 0x0001u);
    });
}

} // namespace bms
