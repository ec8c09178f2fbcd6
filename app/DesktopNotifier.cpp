#include "DesktopNotifier.h"

#include "ViewController.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kShowAction = QStringLiteral("show-in-folder");
} // namespace

DesktopNotifier::DesktopNotifier(ViewController *controller, const QDBusConnection &bus,
                                 QObject *parent)
    : QObject(parent), m_bus(bus)
{
    connect(controller, &ViewController::conversionEnded, this, [this, controller](bool ok) {
        // No focused window: the user is in another application.
        if (!QGuiApplication::focusWindow())
            notify(ok, controller->saveISOPath(),
                   controller->options().drive ? controller->options().drive->name() : QString());
    });
    m_bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
}

void DesktopNotifier::notify(bool succeeded, const QString &outputPath, const QString &drive)
{
    const QString summary = !succeeded        ? tr("The conversion stopped")
                            : drive.isEmpty() ? tr("The new ISO is ready")
                                              : tr("The USB installer is ready");
    const QString body =
        !succeeded ? tr("%1 says why in its window.").arg(QCoreApplication::applicationName())
        : drive.isEmpty() ? QFileInfo(outputPath).absoluteFilePath()
                          : drive;
    QStringList actions;
    if (succeeded && drive.isEmpty())
        actions << kShowAction << tr("Show in Folder");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QCoreApplication::applicationName() << uint(0) << QStringLiteral("isoswm") << summary
         << body << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, succeeded, outputPath](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (succeeded && reply.isValid())
                    m_outputs.insert(reply.value(), outputPath);
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString &actionKey)
{
    const QString path = m_outputs.take(id);
    if (actionKey == kShowAction && !path.isEmpty())
        showInFolder(path);
}

void DesktopNotifier::showInFolder(const QString &path)
{
    // The file manager selects the image in its folder; where none offers
    // that, the folder itself is opened.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [path](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    });
}
