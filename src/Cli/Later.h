// Work left for the event loop, so that the dispatch or timer that asked
// for it returns first; an operation that has moved on by then (its
// generation counter changed: cancelled, ended or started again) drops it.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>

namespace bms::cli {

// Runs `f` from the event loop while `context` lives, unless `generation`
// has changed by then; both belong to the same owner.
inline void Later(QObject& context, const int& generation, std::function<void()> f)
{
    QMetaObject::invokeMethod(&context, [&generation, asked = generation, f = std::move(f)] {
        if (asked == generation)
            f();
    }, Qt::QueuedConnection);
}

} // namespace bms::cli
