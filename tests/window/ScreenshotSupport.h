// What the screenshot programs share: waiting with the event loop running,
// and a widget saved as a picture whose name is printed.
#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>

namespace bms::test {

inline void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits until `done` or `ms` milliseconds have passed; whether it is done.
inline bool WaitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        Wait(20);
    return done();
}

inline bool Save(QWidget* widget, const QString& file)
{
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace bms::test
