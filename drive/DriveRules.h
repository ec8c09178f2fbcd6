#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the disk service tells about one block device: its own properties, its
// drive's, and what is in use on it or on its partitions.
struct DriveFacts {
    QString objectPath;  // the block device's object on the disk service
    QString driveObject; // its drive's object, for powering it off
    QString device;     // "/dev/sdb"
    QString vendor;
    QString model;
    QString label;       // of the file system on it, or on its first partition
    QString backingFile; // of a loop device
    qint64 size = 0;
    bool partition = false;
    bool loop = false;
    bool removable = false; // removable medium or drive, or on USB
    bool readOnly = false;
    bool canPowerOff = false;
    bool optical = false;
    QStringList mountPoints; // of the device and of its partitions
    QStringList mountedFileSystems; // their objects, to unmount them
    bool swapInUse = false;

    // "SanDisk Cruzer Blade", or the loop device's image file.
    QString name() const;
    // The same drive with the same medium: nothing was swapped since.
    bool sameDrive(const DriveFacts &other) const
    {
        return objectPath == other.objectPath && device == other.device &&
               driveObject == other.driveObject && size == other.size &&
               vendor == other.vendor && model == other.model && backingFile == other.backingFile;
    }
};

namespace DriveRules {

// Room a FAT32 stick needs beyond its files: the partition tables, the file
// allocation tables and the rounding of every file to a cluster.
qint64 neededFor(qint64 contentBytes);

// Why the drive must not be written, or nothing when it may be. `contentBytes`
// 0 leaves the size out of it; `home` is the running user's home folder.
std::optional<QString> refusal(const DriveFacts &drive, qint64 contentBytes, const QString &home);

} // namespace DriveRules
