#include "SleepInhibitor.h"

#include "Log.h"
#include "ViewController.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

SleepInhibitor::SleepInhibitor(ViewController *controller, const QDBusConnection &bus,
                               QObject *parent)
    : QObject(parent), m_bus(bus)
{
    connect(controller, &ViewController::isRunningChanged, this, [this, controller] {
        if (controller->isRunning())
            acquire();
    });
    connect(controller, &ViewController::conversionEnded, this, &SleepInhibitor::release);
}

void SleepInhibitor::acquire()
{
    m_wanted = true;
    if (m_lock.isValid() || m_requestPending)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QCoreApplication::applicationName()
         << tr("A Windows image is being converted") << QStringLiteral("block");
    m_requestPending = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_requestPending = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError()) {
            Log::write(QStringLiteral("sleep not inhibited: %1").arg(reply.error().message()));
            return;
        }
        // A conversion that ended while the request was on its way lets the
        // lock go at once: the reply's descriptor closes with it.
        if (m_wanted)
            m_lock = reply.value();
    });
}

void SleepInhibitor::release()
{
    m_wanted = false;
    m_lock = QDBusUnixFileDescriptor();
}
