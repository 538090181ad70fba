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

// Opening the serial port failed.
class ECommsError : public Error {
public:
    using Error::Error;
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
