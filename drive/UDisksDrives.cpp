#include "UDisksDrives.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QPointer>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kSwap = QStringLiteral("org.freedesktop.UDisks2.Swapspace");
const QString kLoop = QStringLiteral("org.freedesktop.UDisks2.Loop");
constexpr int kCallTimeoutMs = 10000;

// The service's byte strings end in a NUL.
QString pathFrom(const QVariant &bytes)
{
    return QFile::decodeName(QByteArray(bytes.toByteArray().constData()));
}

QStringList pathsFrom(const QVariant &value)
{
    QByteArrayList list = value.value<QByteArrayList>();
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> list;
    QStringList paths;
    for (const QByteArray &bytes : list)
        paths << QFile::decodeName(QByteArray(bytes.constData()));
    return paths;
}

QString objectFrom(const QVariant &value)
{
    return value.value<QDBusObjectPath>().path();
}

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
    return reply.errorName().startsWith(QLatin1String("org.freedesktop.UDisks2.Error.NotAuthorized"));
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
    return descriptorFrom(m_bus.call(openCall(drive), QDBus::Block, kAuthorizationTimeoutMs),
                          drive, error);
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
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, drive.objectPath, kBlock, QStringLiteral("Rescan"));
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
    whenAnswered(m_bus, call, kAuthorizationTimeoutMs, context,
                 [drive, done = std::move(done)](const QDBusMessage &reply) {
                     done(reply.type() == QDBusMessage::ReplyMessage
                              ? QString()
                              : tr("%1 could not be powered off: %2").arg(drive.name(),
                                                                           failure(reply)));
                 });
}

void UDisksDrives::objectsChanged()
{
    if (refresh())
        emit changed();
}

QList<DriveFacts> UDisksDrives::factsFrom(const DiskObjects &objects)
{
    QMap<QString, DriveFacts> byObject;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const DiskInterfaces &interfaces = it.value();
        if (!interfaces.contains(kBlock))
            continue;
        const QVariantMap block = interfaces.value(kBlock);
        DriveFacts facts;
        facts.objectPath = it.key().path();
        facts.device = pathFrom(block.value(QStringLiteral("Device")));
        facts.size = block.value(QStringLiteral("Size")).toLongLong();
        facts.readOnly = block.value(QStringLiteral("ReadOnly")).toBool();
        facts.label = block.value(QStringLiteral("IdLabel")).toString();
        facts.partition = interfaces.contains(kPartition);
        // A loop device that holds no image is none of ours.
        facts.backingFile = pathFrom(interfaces.value(kLoop).value(QStringLiteral("BackingFile")));
        facts.loop = !facts.backingFile.isEmpty();
        facts.mountPoints =
            pathsFrom(interfaces.value(kFilesystem).value(QStringLiteral("MountPoints")));
        if (!facts.mountPoints.isEmpty())
            facts.mountedFileSystems << facts.objectPath;
        facts.swapInUse = interfaces.value(kSwap).value(QStringLiteral("Active")).toBool();
        const QDBusObjectPath driveObject =
            block.value(QStringLiteral("Drive")).value<QDBusObjectPath>();
        const QVariantMap drive = objects.value(driveObject).value(kDrive);
        if (!drive.isEmpty())
            facts.driveObject = driveObject.path();
        if (!drive.isEmpty()) {
            facts.vendor = drive.value(QStringLiteral("Vendor")).toString();
            facts.model = drive.value(QStringLiteral("Model")).toString();
            facts.canPowerOff = drive.value(QStringLiteral("CanPowerOff")).toBool();
            facts.optical = drive.value(QStringLiteral("Optical")).toBool() ||
                            drive.value(QStringLiteral("MediaCompatibility"))
                                .toStringList()
                                .join(QLatin1Char(' '))
                                .contains(QLatin1String("optical"));
            facts.removable =
                drive.value(QStringLiteral("Removable")).toBool() ||
                drive.value(QStringLiteral("MediaRemovable")).toBool() ||
                drive.value(QStringLiteral("ConnectionBus")).toString() == QLatin1String("usb");
        }
        byObject.insert(facts.objectPath, facts);
    }
    // What is in use on a partition is in use on its drive.
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QString table =
            objectFrom(it.value().value(kPartition).value(QStringLiteral("Table")));
        const auto partition = byObject.constFind(it.key().path());
        if (table.isEmpty() || partition == byObject.cend() || !byObject.contains(table))
            continue;
        DriveFacts &whole = byObject[table];
        whole.mountPoints += partition->mountPoints;
        whole.mountedFileSystems += partition->mountedFileSystems;
        whole.swapInUse = whole.swapInUse || partition->swapInUse;
        if (whole.label.isEmpty())
            whole.label = partition->label;
    }
    QList<DriveFacts> devices = byObject.values();
    std::sort(devices.begin(), devices.end(),
              [](const DriveFacts &a, const DriveFacts &b) { return a.device < b.device; });
    return devices;
}
