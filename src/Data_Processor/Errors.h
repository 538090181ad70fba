// Exceptions that reach the application's general error handler.
#pragma once

#include <QString>
#include <stdexcept>

namespace bms {

// Base of the tool's own errors; the message is kept as UTF-8.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A text that is not a number.
class EConvertError : public Error {
public:
    using Error::Error;
};

// Opening the serial port failed. Besides the message it may carry the
// device file that was tried and the system's reason (an errno value, 0 when
// there is none), so that the window can say why.
class ECommsError : public Error {
public:
    using Error::Error;
    ECommsError(const QString& message, const QString& device, int cause)
        : Error(message), device_(device), cause_(cause)
    {
    }
    QString device() const { return device_; }
    int cause() const { return cause_; }

private:
    QString device_;
    int cause_ = 0;
};

// Reading a file failed.
class EInOutError : public Error {
public:
    using Error::Error;
};

// The message as the general error handler shows it: a full stop is added
// when the last character sorts after '.'.
QString FormatErrorMessage(const QString& message);

} // namespace bms
