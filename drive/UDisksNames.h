#pragma once

// The names the disk service (UDisks2) goes by on the bus.

#include <QString>

namespace UDisksNames {

inline const QString kService = QStringLiteral("org.freedesktop.UDisks2");
inline const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
inline const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
inline const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
inline const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
inline const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
inline const QString kSwap = QStringLiteral("org.freedesktop.UDisks2.Swapspace");
inline const QString kLoop = QStringLiteral("org.freedesktop.UDisks2.Loop");

} // namespace UDisksNames
