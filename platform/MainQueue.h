#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>

namespace MainQueue {

// Runs `fn` later on the thread that owns `context` (the main thread for every
// object of the application), behind everything queued before it. Never runs
// inline, even when called on that thread. Dropped if `context` is destroyed first.
inline void async(QObject *context, std::function<void()> fn)
{
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

} // namespace MainQueue
