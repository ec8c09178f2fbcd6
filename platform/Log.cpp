#include "Log.h"

#include <QMutex>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <syslog.h>

namespace {
QMutex g_mutex;
Log::Sink g_sink;
std::atomic<bool> g_echo{true};
std::once_flag g_syslogOnce;

QMutex g_listenersMutex;
std::map<Log::ListenerId, Log::Sink> g_listeners;
Log::ListenerId g_lastListenerId = 0;
} // namespace

namespace Log {

void write(const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    std::call_once(g_syslogOnce, [] { openlog("isoswm", LOG_PID, LOG_USER); });
    syslog(LOG_INFO, "%s", utf8.constData());
    Sink sink;
    {
        QMutexLocker lock(&g_mutex);
        sink = g_sink;
    }
    if (g_echo.load()) {
        std::fprintf(stderr, "%s\n", utf8.constData());
        std::fflush(stderr);
    }
    if (sink)
        sink(line);
    QMutexLocker lock(&g_listenersMutex);
    for (const auto &[id, listener] : g_listeners)
        listener(line);
}

void setEchoToStderr(bool echo)
{
    g_echo.store(echo);
}

Sink setSink(Sink sink)
{
    QMutexLocker lock(&g_mutex);
    std::swap(g_sink, sink);
    return sink;
}

ListenerId addListener(Sink listener)
{
    QMutexLocker lock(&g_listenersMutex);
    g_listeners.emplace(++g_lastListenerId, std::move(listener));
    return g_lastListenerId;
}

void removeListener(ListenerId id)
{
    QMutexLocker lock(&g_listenersMutex);
    g_listeners.erase(id);
}

} // namespace Log
