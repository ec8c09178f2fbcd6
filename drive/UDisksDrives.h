#pragma once

#include "DriveRules.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QVariantMap>
#include <functional>

// The disk service's objects as GetManagedObjects gives them: each object's
// interfaces with their properties.
using DiskInterfaces = QMap<QString, QVariantMap>;
using DiskObjects = QMap<QDBusObjectPath, DiskInterfaces>;

// The block devices the disk service (UDisks2, on the system bus) knows, with
// what is in use on each, kept up to date as drives come and go.
class UDisksDrives : public QObject {
    Q_OBJECT
public:
    explicit UDisksDrives(const QDBusConnection &bus = QDBusConnection::systemBus(),
                          QObject *parent = nullptr);

    // Asks the service for all of it again. False with the reason when the
    // service does not answer.
    bool refresh(QString *error = nullptr);
    // Every block device, whole drives and partitions, ordered by device path.
    QList<DriveFacts> devices() const { return m_devices; }
    // The device with that path (/dev/sdb, or a link to it).
    std::optional<DriveFacts> find(const QString &device) const;

    // The whole drive opened to write onto it and read it back, as the disk
    // service allows (polkit decides; it may ask the user): a file descriptor
    // of our own, or -1 with the reason.
    int openForWriting(const DriveFacts &drive, QString *error);
    // The same without blocking, the drive's file systems unmounted first:
    // `done` runs later on this thread, unless `context` has gone by then (a
    // descriptor that arrives too late is closed).
    using Opened = std::function<void(int fd, const QString &error)>;
    void unmountAndOpen(const DriveFacts &drive, QObject *context, Opened done);
    // After a write: the service reads the new partition table, and the drive
    // may be powered off. Errors are only logged; the drive is written by then.
    void rescan(const DriveFacts &drive);
    void powerOff(const DriveFacts &drive, QObject *context,
                  std::function<void(const QString &error)> done);

    // One entry per block device of the service's objects; a partition's mount
    // points and swap count for the drive it is on as well.
    static QList<DriveFacts> factsFrom(const DiskObjects &objects);

signals:
    void changed();

private slots:
    void objectsChanged();

private:
    QDBusConnection m_bus;
    QList<DriveFacts> m_devices;
};
