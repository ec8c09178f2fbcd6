#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

class ViewController;

// Keeps the machine from sleeping while a conversion runs, through logind's
// inhibitor lock: logind hands back a file descriptor and the lock lasts until
// every copy of it is closed. Taken when a conversion starts, released when it
// has ended, however it ended, and at the latest when this object goes (the
// process ending closes the descriptor too). Without logind nothing happens.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    // `bus` is logind's: the system bus, or a private one in tests.
    SleepInhibitor(ViewController *controller, const QDBusConnection &bus,
                   QObject *parent = nullptr);

private:
    void acquire();
    void release();

    QDBusConnection m_bus;
    QDBusUnixFileDescriptor m_lock;
    bool m_wanted = false;
    bool m_requestPending = false;
};
