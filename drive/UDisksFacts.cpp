// The disk service's objects read into one DriveFacts per block device.

#include "UDisksDrives.h"

#include "UDisksNames.h"

#include <QDBusArgument>
#include <QFile>
#include <algorithm>

using namespace UDisksNames;

namespace {

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

// What the block device's own interfaces tell.
DriveFacts blockFacts(const QString &objectPath, const DiskInterfaces &interfaces)
{
    const QVariantMap block = interfaces.value(kBlock);
    DriveFacts facts;
    facts.objectPath = objectPath;
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
    return facts;
}

// What the drive the block device is on tells, when the service knows one.
void addDriveFacts(DriveFacts *facts, const QVariantMap &block, const DiskObjects &objects)
{
    const QDBusObjectPath driveObject =
        block.value(QStringLiteral("Drive")).value<QDBusObjectPath>();
    const QVariantMap drive = objects.value(driveObject).value(kDrive);
    if (drive.isEmpty())
        return;
    facts->driveObject = driveObject.path();
    facts->vendor = drive.value(QStringLiteral("Vendor")).toString();
    facts->model = drive.value(QStringLiteral("Model")).toString();
    facts->canPowerOff = drive.value(QStringLiteral("CanPowerOff")).toBool();
    facts->optical = drive.value(QStringLiteral("Optical")).toBool() ||
                     drive.value(QStringLiteral("MediaCompatibility"))
                         .toStringList()
                         .join(QLatin1Char(' '))
                         .contains(QLatin1String("optical"));
    facts->removable =
        drive.value(QStringLiteral("Removable")).toBool() ||
        drive.value(QStringLiteral("MediaRemovable")).toBool() ||
        drive.value(QStringLiteral("ConnectionBus")).toString() == QLatin1String("usb");
}

// What is in use on a partition is in use on its drive.
void addPartitionsToDrives(QMap<QString, DriveFacts> *byObject, const DiskObjects &objects)
{
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QString table =
            objectFrom(it.value().value(kPartition).value(QStringLiteral("Table")));
        const auto partition = byObject->constFind(it.key().path());
        if (table.isEmpty() || partition == byObject->cend() || !byObject->contains(table))
            continue;
        DriveFacts &whole = (*byObject)[table];
        whole.mountPoints += partition->mountPoints;
        whole.mountedFileSystems += partition->mountedFileSystems;
        whole.swapInUse = whole.swapInUse || partition->swapInUse;
        if (whole.label.isEmpty())
            whole.label = partition->label;
    }
}

} // namespace

QList<DriveFacts> UDisksDrives::factsFrom(const DiskObjects &objects)
{
    QMap<QString, DriveFacts> byObject;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        if (!it.value().contains(kBlock))
            continue;
        DriveFacts facts = blockFacts(it.key().path(), it.value());
        addDriveFacts(&facts, it.value().value(kBlock), objects);
        byObject.insert(facts.objectPath, facts);
    }
    addPartitionsToDrives(&byObject, objects);
    QList<DriveFacts> devices = byObject.values();
    std::sort(devices.begin(), devices.end(),
              [](const DriveFacts &a, const DriveFacts &b) { return a.device < b.device; });
    return devices;
}
