#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>

class ViewController;

// Tells the desktop that a conversion has ended while none of the application's
// windows is active, through the freedesktop notification service; a finished
// image comes with a "Show in Folder" action. Without a notification service
// nothing happens.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // `bus` is the session bus, or a private one in tests.
    DesktopNotifier(ViewController *controller, const QDBusConnection &bus,
                    QObject *parent = nullptr);

private slots:
    void onActionInvoked(uint id, const QString &actionKey);

private:
    // `drive` names the USB drive written instead of an image.
    void notify(bool succeeded, const QString &outputPath, const QString &drive);
    void showInFolder(const QString &path);

    QDBusConnection m_bus;
    // The image of each notification sent, by its id, until its action is used.
    QHash<uint, QString> m_outputs;
};
