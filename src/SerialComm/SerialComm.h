// TComm: the serial port component. It owns one serial port, a receive
// thread and a transmit thread, and delivers what the threads learn as event
// calls on the thread that created it (the user-interface thread), in the
// order the threads posted them.
//
// Use: set the properties, OpenComm(), SendData() as often as needed, take
// the bytes in OnReceiveData, CloseComm(). The window's instance uses the
// values that ApplyCm1Design() sets.
//
// Properties follow one rule: a setter stores the value only when it differs.
// On an open port a changed line-setting property re-applies the line
// settings at once and a changed time-out re-applies the time-outs; Parity
// is only stored and takes effect with the next application of the line
// settings. CommName is normalised (PortName.h) and used at the next open.
// Properties the tool never changes have a getter only and keep the
// constructor's value.
// What Linux makes of each line setting is described in LineSettings.h, how
// reads complete in ReadThread.h.
//
// The receive thread asks for nice -2 and the transmit thread for nice -1,
// above the user-interface thread; without the privilege to raise priority
// (CAP_SYS_NICE or RLIMIT_NICE) they run at the normal level.
#pragma once

#include "CommTypes.h"
#include "Link.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace bms {

class NotifyChannel;
struct Notification;
class WriteQueue;
struct PortShared;
class CommThread;

class TComm : public QObject, public Link {
    Q_OBJECT
public:
    explicit TComm(QObject* parent = nullptr);
    // Closes the port if it is still open.
    ~TComm() override;

    // Opens the port named by CommName with the current settings and starts
    // both threads. Throws ECommsError with one of "This serial port already
    // opened", "Error opening serial port" (no such device, or the device is
    // in use by another TComm or program; the error then also carries the
    // device path and the errno value), "File handle is not a comm handle "
    // (opens but is not a terminal), "The serial port cannot run at N baud"
    // (the driver refused BaudRate), "Cannot setup comm buffer", "Unable to
    // create event", "Unable to create read thread", "Unable to create write
    // thread". A failed open leaves the component closed.
    void OpenComm();
    // Stops both threads (each gets up to 10 s before it is left to finish on
    // its own) and closes the port; does nothing when closed. Always returns.
    void CloseComm();
    // Copies the bytes and queues them for the transmit thread. False when
    // the port is closed, length is 0, or the transmit thread has ended.
    bool SendData(const uint8_t* data, uint16_t length) override;

    // Delivers every notification the threads have posted so far. The event
    // loop does this by itself; tests use it to flush.
    void ProcessNotifications();

    // The device's file descriptor, 0 when closed.
    int ComHandle() const;
    // True from a successful OpenComm until CloseComm, also after a worker
    // thread has ended on a vanished device.
    bool Connected() const { return port_ != nullptr; }
    // True when the driver of the open port granted low-latency mode
    // (LowLatency.h); false for pseudo-terminals and drivers without it.
    bool LowLatency() const { return port_ != nullptr && lowLatency_; }
    // False from SendData until the transmit thread finds its queue empty.
    bool SendDataEmpty() const { return sendDataEmpty_->load(); }

    QString CommName() const { return commName_; }
    void setCommName(const QString& value);

    uint32_t BaudRate() const { return line_.BaudRate; }
    void setBaudRate(uint32_t v) { setLine(&LineConfig::BaudRate, v); }
    bool ParityCheck() const { return line_.ParityCheck; }
    bool Outx_CtsFlow() const { return line_.Outx_CtsFlow; }
    void setOutx_CtsFlow(bool v) { setLine(&LineConfig::Outx_CtsFlow, v); }
    bool Outx_DsrFlow() const { return line_.Outx_DsrFlow; }
    void setOutx_DsrFlow(bool v) { setLine(&LineConfig::Outx_DsrFlow, v); }
    TDtrControl DtrControl() const { return line_.DtrControl; }
    bool DsrSensitivity() const { return line_.DsrSensitivity; }
    bool TxContinueOnXoff() const { return line_.TxContinueOnXoff; }
    bool Outx_XonXoffFlow() const { return line_.Outx_XonXoffFlow; }
    void setOutx_XonXoffFlow(bool v) { setLine(&LineConfig::Outx_XonXoffFlow, v); }
    bool Inx_XonXoffFlow() const { return line_.Inx_XonXoffFlow; }
    void setInx_XonXoffFlow(bool v) { setLine(&LineConfig::Inx_XonXoffFlow, v); }
    bool ReplaceWhenParityError() const { return line_.ReplaceWhenParityError; }
    bool IgnoreNullChar() const { return line_.IgnoreNullChar; }
    void setIgnoreNullChar(bool v) { setLine(&LineConfig::IgnoreNullChar, v); }
    TRtsControl RtsControl() const { return line_.RtsControl; }
    uint16_t XonLimit() const { return line_.XonLimit; }
    void setXonLimit(uint16_t v) { setLine(&LineConfig::XonLimit, v); }
    uint16_t XoffLimit() const { return line_.XoffLimit; }
    void setXoffLimit(uint16_t v) { setLine(&LineConfig::XoffLimit, v); }
    TByteSize ByteSize() const { return line_.ByteSize; }
    void setByteSize(TByteSize v) { setLine(&LineConfig::ByteSize, v); }
    TParity Parity() const { return line_.Parity; }
    void setParity(TParity v) { line_.Parity = v; } // stored only, see above
    TStopBits StopBits() const { return line_.StopBits; }
    void setStopBits(TStopBits v) { setLine(&LineConfig::StopBits, v); }
    uint8_t XonChar() const { return line_.XonChar; }
    uint8_t XoffChar() const { return line_.XoffChar; }
    uint8_t ReplacedChar() const { return line_.ReplacedChar; }

    uint32_t ReadIntervalTimeout() const { return timeouts_.ReadIntervalTimeout; }
    void setReadIntervalTimeout(uint32_t v) { setTimeout(&CommTimeouts::ReadIntervalTimeout, v); }
    uint32_t ReadTotalTimeoutMultiplier() const { return timeouts_.ReadTotalTimeoutMultiplier; }
    uint32_t ReadTotalTimeoutConstant() const { return timeouts_.ReadTotalTimeoutConstant; }
    void setReadTotalTimeoutConstant(uint32_t v) { setTimeout(&CommTimeouts::ReadTotalTimeoutConstant, v); }
    uint32_t WriteTotalTimeoutMultiplier() const { return timeouts_.WriteTotalTimeoutMultiplier; }
    uint32_t WriteTotalTimeoutConstant() const { return timeouts_.WriteTotalTimeoutConstant; }

    // Events, called on the thread that created the component. The buffer of
    // OnReceiveData holds `length` bytes followed by a 0 and is valid only
    // during the call. OnSendDataEmpty is raised only while it is set when
    // the port opens and at each SendData: without a handler the transmit
    // thread posts nothing that would wake this thread after each write. An exception escaping a handler is passed to
    // OnEventException (or logged when that is not set); the next
    // notifications are delivered as usual.
    std::function<void(const uint8_t* buffer, uint16_t length)> OnReceiveData;
    std::function<void(uint32_t eventMask)> OnReceiveError;
    std::function<void(uint32_t modemEvent)> OnModemStateChange;
    std::function<void()> OnRequestHangup;
    std::function<void()> OnSendDataEmpty;
    std::function<void(const std::exception&)> OnEventException;

private:
    template <class T>
    void setLine(T LineConfig::*field, T value)
    {
        if (line_.*field == value)
            return;
        line_.*field = value;
        if (Connected())
            ApplyLine();
    }
    template <class T>
    void setTimeout(T CommTimeouts::*field, T value)
    {
        if (timeouts_.*field == value)
            return;
        timeouts_.*field = value;
        if (Connected())
            ApplyTimeouts();
    }
    void ApplyLine();
    void ApplyTimeouts();
    void Dispatch(const Notification& n);

    std::shared_ptr<CommThread> readThread_;
    std::shared_ptr<CommThread> writeThread_;
    std::shared_ptr<PortShared> port_;
    std::shared_ptr<NotifyChannel> notify_;
    QSocketNotifier* notifier_ = nullptr;
    std::shared_ptr<std::atomic<bool>> sendDataEmpty_;
    std::shared_ptr<WriteQueue> writeQueue_;

    QString commName_ = QStringLiteral("COM2");
    bool lowLatency_ = false;
    LineConfig line_;
    CommTimeouts timeouts_;
};

// Sets the values the main window's design gives its instance cm1: no CTS or
// DSR flow, XON/XOFF both ways with limits 500, read interval 1 ms, the rest
// at the constructor defaults.
void ApplyCm1Design(TComm& comm);

} // namespace bms
