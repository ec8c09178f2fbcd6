#include "UDisksDrives.h"

#include "UDisksNames.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QFileInfo>
#include <QPointer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace UDisksNames;

namespace {

constexpr int kCallTimeoutMs = 10000;

} // namespace

UDisksDrives::UDisksDrives(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<DiskInterfaces>();
    qDBusRegisterMetaType<DiskObjects>();
    // Drives plugged in or pulled out, media changed, file systems mounted.
    const QString manager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
    m_bus.connect(kService, kRoot, manager, QStringLiteral("InterfacesAdded"), this,
                  SLOT(objectsChanged()));
    m_bus.connect(kService, kRoot, manager, QStringLiteral("InterfacesRemoved"), this,
                  SLOT(objectsChanged()));
    m_bus.connect(kService, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("PropertiesChanged"), this, SLOT(objectsChanged()));
}

bool UDisksDrives::refresh(QString *error)
{
    const QDBusMessage reply =
        m_bus.call(QDBusMessage::createMethodCall(
                       kService, kRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                       QStringLiteral("GetManagedObjects")),
                   QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (error)
            *error =
                reply.errorMessage().isEmpty() ? m_bus.lastError().message() : reply.errorMessage();
        return false;
    }
    m_devices = factsFrom(qdbus_cast<DiskObjects>(reply.arguments().constFirst()));
    return true;
}

std::optional<DriveFacts> UDisksDrives::find(const QString &device) const
{
    const QString wanted = QFileInfo(device).canonicalFilePath();
    for (const DriveFacts &facts : m_devices)
        if (facts.device == device || (!wanted.isEmpty() && facts.device == wanted))
            return facts;
    return std::nullopt;
}

namespace {

// Long enough for a person to type a password into polkit's dialog.
constexpr int kAuthorizationTimeoutMs = 5 * 60 * 1000;

QDBusMessage openCall(const DriveFacts &drive)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, drive.objectPath, kBlock,
                                                       QStringLiteral("OpenDevice"));
    // Exclusive: nothing mounts it while we write; read and write, for the read-back.
    call << QStringLiteral("rw") << QVariantMap{{QStringLiteral("flags"), int(O_EXCL)}};
    call.setInteractiveAuthorizationAllowed(true);
    return call;
}

bool refused(const QDBusMessage &reply)
{
    return reply.errorName().startsWith(
        QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorized"));
}

QString failure(const QDBusMessage &reply)
{
    return reply.errorMessage().isEmpty() ? QString::fromLocal8Bit(std::strerror(errno))
                                          : reply.errorMessage();
}

// A descriptor of our own, closed in every child we start; -1 with the reason.
int descriptorFrom(const QDBusMessage &reply, const DriveFacts &drive, QString *error)
{
    const int fd =
        reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            ? ::fcntl(qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst())
                          .fileDescriptor(),
                      F_DUPFD_CLOEXEC, 0)
            : -1;
    if (fd >= 0)
        return fd;
    if (refused(reply))
        *error = UDisksDrives::tr("Permission to write to %1 was not given.").arg(drive.name());
    else
        *error = UDisksDrives::tr("%1 could not be opened: %2").arg(drive.name(), failure(reply));
    return -1;
}

// `done` with the reply once it is in, unless `context` has gone.
void whenAnswered(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs,
                  QObject *context, std::function<void(const QDBusMessage &)> done)
{
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         done(watcher->reply());
                     });
}

} // namespace

int UDisksDrives::openForWriting(const DriveFacts &drive, QString *error)
{
    return descriptorFrom(m_bus.call(openCall(drive), QDBus::Block, kAuthorizationTimeoutMs), drive,
                          error);
}

void UDisksDrives::unmountAndOpen(const DriveFacts &drive, QObject *context, Opened done)
{
    if (drive.mountedFileSystems.isEmpty()) {
        const QPointer<QObject> alive(context);
        // The descriptor is ours as soon as the reply exists, so a reply that
        // finds nobody to take it closes it.
        auto *watcher = new QDBusPendingCallWatcher(
            m_bus.asyncCall(openCall(drive), kAuthorizationTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [watcher, drive, alive, done = std::move(done)] {
                    watcher->deleteLater();
                    QString error;
                    const int fd = descriptorFrom(watcher->reply(), drive, &error);
                    if (alive)
                        done(fd, error);
                    else if (fd >= 0)
                        ::close(fd);
                });
        return;
    }
    DriveFacts rest = drive;
    const QString fileSystem = rest.mountedFileSystems.takeFirst();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, fileSystem, kFilesystem,
                                                       QStringLiteral("Unmount"));
    call << QVariantMap();
    call.setInteractiveAuthorizationAllowed(true);
    // The chain goes on only while `context` does, and never past this object.
    const QPointer<QObject> alive(context);
    whenAnswered(m_bus, call, kAuthorizationTimeoutMs, this,
                 [this, rest, alive, context, done = std::move(done)](const QDBusMessage &reply) {
                     if (!alive)
                         return;
                     if (reply.type() == QDBusMessage::ReplyMessage)
                         unmountAndOpen(rest, context, done);
                     else if (refused(reply))
                         done(-1, tr("Permission to unmount the file systems of %1 was not "
                                     "given.")
                                      .arg(rest.name()));
                     else
                         done(-1, tr("A file system of %1 could not be unmounted: %2")
                                      .arg(rest.name(), failure(reply)));
                 });
}

void UDisksDrives::rescan(const DriveFacts &drive)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, drive.objectPath, kBlock,
                                                       QStringLiteral("Rescan"));
    call << QVariantMap();
    m_bus.asyncCall(call, kCallTimeoutMs);
}

void UDisksDrives::powerOff(const DriveFacts &drive, QObject *context,
                            std::function<void(const QString &)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, drive.driveObject, kDrive,
                                                       QStringLiteral("PowerOff"));
    call << QVariantMap();
    call.setInteractiveAuthorizationAllowed(true);
    whenAnswered(
        m_bus, call, kAuthorizationTimeoutMs, context,
        [drive, done = std::move(done)](const QDBusMessage &reply) {
            done(reply.type() == QDBusMessage::ReplyMessage
                     ? QString()
                     : tr("%1 could not be powered off: %2").arg(drive.name(), failure(reply)));
        });
}

void UDisksDrives::objectsChanged()
{
    if (refresh())
        emit changed();
}
