// The operator's write, calibration and read-back commands. Every handler
// pauses sampling, waits 200 ms with events going on, sets the variables its
// command needs, asks the request builder for one command and resumes
// sampling at its interval if sampling is on — also when the handler stops
// on a conversion error, which still reaches the general error handler.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

namespace bms {

// Word sent by the limiter command; derived from the pack's function-module
// word (PackFunctionModuleWord, which no response fills) with bit 0 inverted.
extern uint16_t FunctionModuleWord;
extern uint16_t PackFunctionModuleWord;

// Consumers outside this module, filled by the composition root.
struct AppHookSet {
    // Appends the calibration row to the open calibration workbook.
    std::function<void()> calibrationRow;
    // Appends one row to the data log (called per telemetry frame while
    // DataLogging is set).
    std::function<void()> dataLogRow;
    // A telemetry block (0..7) was decoded into PackTable while sampling;
    // the trend charts take one sample of entry 0.
    std::function<void(int block)> trendSample;
    // A port was opened: another pack may answer from now on.
    std::function<void()> portOpened;
    // Whether another part of the tool is using the port named `port` (as
    // the port box holds it): the words saying so, naming the user, or an
    // empty text when the port is free to open.
    std::function<QString(const QString& port)> portInUse;
};
extern AppHookSet AppHooks;

// The common order around one request: pause sampling, Delay 200 ms,
// `before`, BuildRequest(command), `after`, resume sampling.
void RunSettingsCommand(uint8_t command, const std::function<void()>& before = {},
                        const std::function<void()>& after = {});

// Information read (command 23): "Read Info"; the same read behind the
// RTC and sleep-time "Read" buttons and the simulator's customer-code "read".
// btn3Click also re-reads the information after identity writes.
void btn3Click();
void btn_read_timeClick();
void btn_read_sleep_timeClick();
void Customer_code_readClick();

void btn8Click();              // barcode, 19
void btn9Click();              // rated capacity, 20
void btn_rcapClick();          // remaining capacity, 57
void btn_set_pack_idClick();   // serial number, 27
void btncClick();              // current calibration, 17, then the calibration row
void btn_zero_currentClick();  // zero-current calibration, 17 with value 0
void btnvClick();              // voltage calibration, 16
void btn_rtcClick();           // clock from the PC, 83
void btn_parallelClick();      // series/parallel role to addresses 1..16, 86
void btn_protocol_typeClick(); // 88
void btn_set_sleep_timeClick();// 89
void Button3Click();           // zero-drift word, 219
void btn_intervalClick();      // upload interval, 82
void Customer_code_setClick(); // customer code, 217
void Button1Click();           // same request as Customer_code_set
void limiter1Click();          // 84: the builder has no frame for it

} // namespace bms
