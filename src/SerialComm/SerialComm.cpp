#include "SerialComm.h"

#include "Errors.h"
#include "LineSettings.h"
#include "LowLatency.h"
#include "Notify.h"
#include "PortName.h"
#include "ReadThread.h"
#include "WriteThread.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSerial, "bms.serial", QtWarningMsg)

namespace bms {

namespace {

constexpr int kStopWaitMs = 10'000;

[[noreturn]] void Fail(const char* message)
{
    throw ECommsError(QString::fromLatin1(message));
}

// Opens the device for exclusive use. -1 when it cannot be opened, with errno
// telling why: EBUSY when another program holds it (its advisory lock, or
// TIOCEXCL), EACCES without permission, ENOENT when it does not exist; 0 for
// an empty path.
int OpenDevice(const QString& path)
{
    if (path.isEmpty()) {
        errno = 0;
        return -1;
    }
    int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && fd < 3) {
        // Keep 0 free: ComHandle reports 0 for a closed port.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        errno = EBUSY;
        return -1;
    }
    return fd;
}

// Stops one worker thread: bounded wait, then the thread is left to finish.
void StopThread(std::shared_ptr<CommThread>& thread)
{
    if (!thread)
        return;
    if (!thread->WaitFor(kStopWaitMs)) {
        qCWarning(lcSerial, "a serial worker thread did not stop within %d ms", kStopWaitMs);
        thread->Abandon();
    }
    thread.reset();
}

} // namespace

TComm::TComm(QObject* parent)
    : QObject(parent)
    , notify_(std::make_shared<NotifyChannel>())
    , sendDataEmpty_(std::make_shared<std::atomic<bool>>(true))
{
    if (notify_->valid()) {
        notifier_ = new QSocketNotifier(notify_->wakeFd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { ProcessNotifications(); });
    }
}

TComm::~TComm()
{
    CloseComm();
}

void TComm::setCommName(const QString& value)
{
    if (value == commName_)
        return;
    commName_ = NormaliseCommName(value);
}

int TComm::ComHandle() const
{
    return port_ ? port_->fd : 0;
}

void TComm::OpenComm()
{
    if (port_)
        Fail("This serial port already opened");
    const QString path = CommDevicePath(commName_);
    const int fd = OpenDevice(path);
    if (fd < 0)
        throw ECommsError(QStringLiteral("Error opening serial port"), path, errno);
    if (!::isatty(fd)) {
        ::close(fd);
        Fail("File handle is not a comm handle ");
    }
    (void)::ioctl(fd, TIOCEXCL);
    // USB boxes hold received bytes for up to 16 ms unless asked not to;
    // terminals without the setting (a pseudo-terminal) open as they are.
    lowLatency_ = RequestLowLatency(fd);
    qCInfo(lcSerial, "%s: low-latency mode %s", qPrintable(path), lowLatency_ ? "on" : "not available");
    // The kernel keeps its own input and output buffers; there is nothing to
    // size here, so "Cannot setup comm buffer" does not occur.
    auto port = std::make_shared<PortShared>(fd);
    (void)::tcflush(fd, TCIOFLUSH);
    sendDataEmpty_->store(true);
    port->StoreTimeouts(timeouts_);
    port->ignoreNullChar.store(line_.IgnoreNullChar);
    // A rate the driver cannot make leaves the line at another speed, where
    // every frame would be garbled: the port is not opened.
    if (!ApplyLineSettings(fd, line_))
        throw ECommsError(QStringLiteral("The serial port cannot run at %1 baud").arg(line_.BaudRate)); // `port` closes the device

    if (!port->closeEvent.valid() || !notify_->valid())
        Fail("Unable to create event"); // `port` closes the device
    std::shared_ptr<CommThread> reader = std::make_shared<TReadThread>(port, notify_);
    if (!reader->Start())
        Fail("Unable to create read thread");
    auto queue = std::make_shared<WriteQueue>(sendDataEmpty_);
    queue->SetReportEmpty(static_cast<bool>(OnSendDataEmpty));
    std::shared_ptr<CommThread> writer;
    if (queue->valid())
        writer = std::make_shared<TWriteThread>(port, queue, notify_);
    if (!writer || !writer->Start()) {
        port->closeEvent.Signal();
        StopThread(reader);
        Fail("Unable to create write thread");
    }
    port_ = std::move(port);
    readThread_ = std::move(reader);
    writeThread_ = std::move(writer);
    writeQueue_ = std::move(queue);
}

void TComm::CloseComm()
{
    if (!port_)
        return;
    port_->closeEvent.Signal();
    (void)::tcflush(port_->fd, TCIFLUSH);
    StopThread(readThread_);
    (void)::tcflush(port_->fd, TCOFLUSH);
    sendDataEmpty_->store(true);
    StopThread(writeThread_);
    writeQueue_.reset();
    port_.reset();
}

bool TComm::SendData(const uint8_t* data, uint16_t length)
{
    if (!writeQueue_ || length == 0 || data == nullptr)
        return false;
    WriteRequest request;
    request.buffer.reset(new (std::nothrow) uint8_t[size_t { length } + 1]());
    if (!request.buffer)
        return false;
    std::memcpy(request.buffer.get(), data, length);
    request.count = length;
    writeQueue_->SetReportEmpty(static_cast<bool>(OnSendDataEmpty));
    return writeQueue_->Push(std::move(request));
}

void TComm::ApplyLine()
{
    port_->ignoreNullChar.store(line_.IgnoreNullChar);
    (void)ApplyLineSettings(port_->fd, line_);
}

void TComm::ApplyTimeouts()
{
    port_->StoreTimeouts(timeouts_);
}

void TComm::ProcessNotifications()
{
    notify_->ClearWake();
    Notification n;
    while (notify_->Take(n)) {
        try {
            Dispatch(n);
        } catch (const std::exception& e) {
            if (OnEventException)
                OnEventException(e);
            else
                qCWarning(lcSerial, "serial event handler failed: %s", e.what());
        } catch (...) {
            qCWarning(lcSerial, "serial event handler failed");
        }
        n = Notification {}; // the buffer is released after its handler
    }
}

void TComm::Dispatch(const Notification& n)
{
    switch (n.code) {
    case NotifyCode::ReceiveData:
        if (OnReceiveData)
            OnReceiveData(n.buffer.get(), static_cast<uint16_t>(n.value & 0xFFFF));
        break;
    case NotifyCode::ReceiveError:
        if (OnReceiveError)
            OnReceiveError(n.value);
        break;
    case NotifyCode::RequestHangup:
        if (OnRequestHangup)
            OnRequestHangup();
        break;
    case NotifyCode::ModemStateChange:
        if (OnModemStateChange)
            OnModemStateChange(n.value);
        break;
    case NotifyCode::SendDataEmpty:
        if (OnSendDataEmpty)
            OnSendDataEmpty();
        break;
    }
}

void ApplyCm1Design(TComm& comm)
{
    comm.setCommName(QStringLiteral("COM2"));
    comm.setBaudRate(9600);
    comm.setOutx_CtsFlow(false);
    comm.setOutx_DsrFlow(false);
    comm.setOutx_XonXoffFlow(true);
    comm.setInx_XonXoffFlow(true);
    comm.setXonLimit(500);
    comm.setXoffLimit(500);
    comm.setReadIntervalTimeout(1);
}

} // namespace bms
